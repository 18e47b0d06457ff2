#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "host/utility/CStringU.h"

using TamblixHq::NODRA::Utility::CStringU;

namespace {

std::int32_t fInt(const std::string& text) { return CStringU(text).mfGetInt(); }
double fDouble(const std::string& text) { return CStringU(text).mfGetDouble(); }

}  // namespace

TEST(CStringU, ConstructionHonoursLengthsNullsAndEmbeddedNuls) {
  EXPECT_STREQ(CStringU(nullptr).mfGetString(), "");
  EXPECT_TRUE(CStringU(nullptr, 5).mfIsEmpty());
  EXPECT_EQ(CStringU("abc\0def").mfGetLength(), 3u);  // npos stops at the NUL

  const CStringU withNul("ab\0cd", 5);
  EXPECT_EQ(withNul.mfGetLength(), 5u);
  EXPECT_EQ(withNul.mfStd(), std::string("ab\0cd", 5));
  EXPECT_EQ(CStringU("abcdef", 2).mfStd(), "ab");

  CStringU moved(CStringU("text"));
  EXPECT_STREQ(moved.mfGetTString(), "text");
  CStringU assigned;
  assigned = "other";
  EXPECT_STREQ(assigned.mfGetString(), "other");
  assigned = static_cast<const char*>(nullptr);
  EXPECT_TRUE(assigned.mfIsEmpty());
  assigned = withNul;
  EXPECT_EQ(assigned.mfGetLength(), 5u);
}

TEST(CStringU, IntegerConversionSkipsSpaceTakesSignAndSaturates) {
  EXPECT_EQ(fInt("42"), 42);
  EXPECT_EQ(fInt("  -17"), -17);
  EXPECT_EQ(fInt("\t\n\v\f\r+8"), 8);
  EXPECT_EQ(fInt("12abc"), 12);
  EXPECT_EQ(fInt(" 1 2"), 1);
  EXPECT_EQ(fInt("0x1A"), 0);

  // No digits.
  EXPECT_EQ(fInt(""), 0);
  EXPECT_EQ(fInt("abc"), 0);
  EXPECT_EQ(fInt("+-3"), 0);
  EXPECT_EQ(fInt("- 3"), 0);

  // 32-bit limits, exactly and beyond.
  EXPECT_EQ(fInt("2147483647"), INT32_MAX);
  EXPECT_EQ(fInt("2147483648"), INT32_MAX);
  EXPECT_EQ(fInt("-2147483648"), INT32_MIN);
  EXPECT_EQ(fInt("-2147483649"), INT32_MIN);
  EXPECT_EQ(fInt("99999999999999999999999999"), INT32_MAX);
  EXPECT_EQ(fInt("-99999999999999999999999999"), INT32_MIN);
  EXPECT_EQ(fInt("4294967296"), INT32_MAX);  // would wrap to 0 in 32-bit arithmetic

  // Digits after an embedded NUL are not part of the number.
  EXPECT_EQ(CStringU("12\0" "34", 5).mfGetInt(), 12);
  EXPECT_EQ(CStringU("-2147483649").mfGetLong(), INT32_MIN);
}

TEST(CStringU, DoubleConversionIsStrtodLikeWhateverTheLocale) {
  // Run under "C" and, where installed, under locales whose decimal mark is a comma.
  const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
  int runs = 0;
  for (const char* name : {"C", "de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "de_DE"}) {
    if (std::setlocale(LC_NUMERIC, name) == nullptr) continue;
    ++runs;
    SCOPED_TRACE(name);
    EXPECT_DOUBLE_EQ(fDouble("1.5"), 1.5);
    EXPECT_DOUBLE_EQ(fDouble("  -2.5e3"), -2500.0);
    EXPECT_DOUBLE_EQ(fDouble("+1E-3"), 0.001);
    EXPECT_DOUBLE_EQ(fDouble(".5"), 0.5);
    EXPECT_DOUBLE_EQ(fDouble("12.5xyz"), 12.5);
    EXPECT_DOUBLE_EQ(fDouble("1,5"), 1.0);  // a comma ends the number
    EXPECT_DOUBLE_EQ(fDouble("2e"), 2.0);   // an exponent without digits is not taken
    EXPECT_DOUBLE_EQ(fDouble(""), 0.0);
    EXPECT_DOUBLE_EQ(fDouble("abc"), 0.0);
    EXPECT_EQ(fDouble("1e400"), HUGE_VAL);
    EXPECT_EQ(fDouble("-1e400"), -HUGE_VAL);
    EXPECT_EQ(fDouble("inf"), std::numeric_limits<double>::infinity());
    EXPECT_EQ(fDouble("-INFINITY"), -std::numeric_limits<double>::infinity());
    EXPECT_TRUE(std::isnan(fDouble("nan")));
    EXPECT_DOUBLE_EQ(CStringU("7.25\0" "99", 7).mfGetDouble(), 7.25);
  }
  std::setlocale(LC_NUMERIC, saved.c_str());
  EXPECT_GE(runs, 1);
}

TEST(CStringU, CompareIsByteWiseAndICompareFoldsOnlyAsciiLetters) {
  EXPECT_EQ(CStringU("abc").mfCompare("abc"), 0);
  EXPECT_LT(CStringU("abc").mfCompare("abd"), 0);
  EXPECT_GT(CStringU("abd").mfCompare(CStringU("abc")), 0);
  EXPECT_LT(CStringU("ab").mfCompare("abc"), 0);
  EXPECT_GT(CStringU("\xE9").mfCompare("z"), 0);  // bytes compare as unsigned
  EXPECT_EQ(CStringU("").mfCompare(nullptr), 0);
  EXPECT_GT(CStringU("a").mfCompare(nullptr), 0);
  // An embedded NUL makes texts differ even when their C strings agree.
  EXPECT_NE(CStringU("a\0b", 3).mfCompare(CStringU("a")), 0);
  EXPECT_NE(CStringU("a\0b", 3).mfICompare(CStringU("A")), 0);

  EXPECT_EQ(CStringU("BINARY").mfICompare("binary"), 0);
  EXPECT_EQ(CStringU("Short_Integer").mfICompare(CStringU("SHORT_INTEGER")), 0);
  EXPECT_LT(CStringU("abc").mfICompare("ABD"), 0);
  EXPECT_GT(CStringU("ABD").mfICompare("abc"), 0);
  EXPECT_NE(CStringU("binary ").mfICompare("BINARY"), 0);  // whole text, blanks count
  EXPECT_NE(CStringU("\xC9").mfICompare("\xE9"), 0);  // no folding outside ASCII
  EXPECT_NE(CStringU("@").mfICompare("`"), 0);        // neighbours of the letter ranges
  EXPECT_EQ(CStringU("").mfICompare(nullptr), 0);

  EXPECT_TRUE(CStringU("x") == CStringU("x"));
  EXPECT_TRUE(CStringU("x") != CStringU("X"));
  EXPECT_TRUE(CStringU("a") < CStringU("b"));
  EXPECT_TRUE(CStringU("a") < CStringU("a\0", 2));
}

TEST(CStringU, AppendEraseAndFindWorkAtTheEdges) {
  CStringU text("ab");
  text.mfAddString(static_cast<const char*>(nullptr)).mfAddString("cd").mfAddChar('e');
  EXPECT_STREQ(text.mfGetString(), "abcde");
  text.mfAddString(CStringU("XYZ"), 2).mfAddString(CStringU("12"), 50).mfAddString(CStringU("!"), 0);
  EXPECT_STREQ(text.mfGetString(), "abcdeXY12");
  text.mfAddString(text);  // itself
  EXPECT_STREQ(text.mfGetString(), "abcdeXY12abcdeXY12");

  CStringU numbers;
  numbers.mfAddInt(0).mfAddChar(' ').mfAddInt(-12).mfAddChar(' ').mfAddInt(INT32_MIN).mfAddChar(' ');
  numbers.mfAddLong(std::numeric_limits<long long>::min()).mfAddChar(' ').mfAddLong(1234567890123LL);
  EXPECT_STREQ(numbers.mfGetString(), "0 -12 -2147483648 -9223372036854775808 1234567890123");

  CStringU erase("hello");
  EXPECT_STREQ(erase.mfEraseFront(0).mfGetString(), "hello");
  EXPECT_STREQ(erase.mfEraseFront(2).mfGetString(), "llo");
  EXPECT_STREQ(erase.mfEraseBack(1).mfGetString(), "ll");
  EXPECT_TRUE(erase.mfEraseBack(100).mfIsEmpty());
  EXPECT_TRUE(CStringU("abc").mfEraseFront(4).mfIsEmpty());

  const CStringU fields("a:b;c");
  EXPECT_EQ(fields.mfFindFirstOf(":;"), 1u);
  EXPECT_EQ(fields.mfFindFirstOf(":;", 2), 3u);
  EXPECT_EQ(fields.mfFindFirstOf(":;", 4), CStringU::npos);
  EXPECT_EQ(fields.mfFindFirstOf("xyz"), CStringU::npos);
  EXPECT_EQ(fields.mfFindFirstOf(":", 99), CStringU::npos);
  EXPECT_EQ(fields.mfFindFirstOf(nullptr), CStringU::npos);
}

TEST(CStringU, RemoveBlanksStripsSpacesAndTabsAtTheChosenEnds) {
  EXPECT_STREQ(CStringU(" \t a b \t ").mfRemoveBlanks(5).mfGetString(), "a b");
  EXPECT_STREQ(CStringU(" \t a b \t ").mfRemoveBlanks(1).mfGetString(), "a b \t ");
  EXPECT_STREQ(CStringU(" \t a b \t ").mfRemoveBlanks(4).mfGetString(), " \t a b");
  EXPECT_STREQ(CStringU(" \t a b \t ").mfRemoveBlanks(0).mfGetString(), " \t a b \t ");
  EXPECT_STREQ(CStringU("DELTA_T").mfRemoveBlanks(5).mfGetString(), "DELTA_T");
  EXPECT_TRUE(CStringU(" \t \t").mfRemoveBlanks(5).mfIsEmpty());
  EXPECT_TRUE(CStringU("").mfRemoveBlanks(5).mfIsEmpty());
  // Only blanks and tabs: other control bytes and NULs stay.
  EXPECT_STREQ(CStringU("\nkey\r").mfRemoveBlanks(5).mfGetString(), "\nkey\r");
  EXPECT_EQ(CStringU(" key\0 ", 6).mfRemoveBlanks(5).mfStd(), std::string("key\0", 4));
}
