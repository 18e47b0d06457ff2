#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/utility/CParserU.h"

using namespace TamblixHq::NODRA::Utility;

namespace {

std::vector<std::string> fTokens(CParserU& parser, const CStringU& text) {
  const CStringU* tokens = parser.mfParse(text);
  std::vector<std::string> result;
  for (std::size_t i = 0; i < parser.mfGetNumberOfTokens(); ++i) result.push_back(tokens[i].mfStd());
  return result;
}

using Tokens = std::vector<std::string>;

}  // namespace

TEST(CParserU, SplitsAtEverySeparatorKeepingEmptyTokens) {
  CParserU colon(":");
  EXPECT_EQ(fTokens(colon, "name:unit:comment"), (Tokens{"name", "unit", "comment"}));
  EXPECT_EQ(fTokens(colon, "a::b"), (Tokens{"a", "", "b"}));
  EXPECT_EQ(fTokens(colon, ""), (Tokens{""}));
  EXPECT_EQ(fTokens(colon, ":"), (Tokens{"", ""}));
  EXPECT_EQ(fTokens(colon, "name:"), (Tokens{"name", ""}));
  EXPECT_EQ(fTokens(colon, ":x"), (Tokens{"", "x"}));
  EXPECT_EQ(fTokens(colon, "no separator"), (Tokens{"no separator"}));
  EXPECT_EQ(fTokens(colon, CStringU("a\0b:c", 5)), (Tokens{std::string("a\0b", 3), "c"}));
  // A new parse replaces the tokens of the last one.
  fTokens(colon, "1:2:3:4");
  EXPECT_EQ(fTokens(colon, "x"), (Tokens{"x"}));
  EXPECT_STREQ(colon.mfGetToken(0).mfGetString(), "x");

  CParserU several(":;");
  EXPECT_EQ(fTokens(several, "a;b:c"), (Tokens{"a", "b", "c"}));
  EXPECT_EQ(fTokens(several, ";:"), (Tokens{"", "", ""}));

  CParserU none(nullptr);
  EXPECT_EQ(fTokens(none, "a:b"), (Tokens{"a:b"}));
  CParserU empty("");
  EXPECT_EQ(fTokens(empty, "a:b"), (Tokens{"a:b"}));
}
