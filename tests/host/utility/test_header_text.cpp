// Header texts as outputs show them: UTF-8 kept, anything else read as Latin-1.

#include <gtest/gtest.h>

#include <string>

#include "host/utility/HeaderTextU.h"

namespace {

using TamblixHq::NODRA::Utility::sfHeaderTextToUtf8;
using TamblixHq::NODRA::Utility::sfIsUtf8;

TEST(HeaderText, KeepsUtf8AndReadsEverythingElseAsLatin1) {
  const struct {
    std::string in;
    std::string out;
  } rows[] = {
      {"", ""},
      {"Front left", "Front left"},
      {"Temp \xb0" "C sensor", "Temp \xc2\xb0" "C sensor"},         // Latin-1 degree sign
      {"Temp \xc2\xb0" "C", "Temp \xc2\xb0" "C"},                    // already UTF-8
      {"\xe2\x82\xac \xf0\x9f\x98\x80", "\xe2\x82\xac \xf0\x9f\x98\x80"},  // 3- and 4-byte forms
      {"Rad vorne \xe4u\xdf" "en", "Rad vorne \xc3\xa4u\xc3\x9f" "en"},
      {"\xc3", "\xc3\x83"},                                         // cut short
      {"\xc0\xaf", "\xc3\x80\xc2\xaf"},                             // overlong '/'
      {"\xe0\x80\xaf", "\xc3\xa0\xc2\x80\xc2\xaf"},                 // overlong, three bytes
      {"\xed\xa0\x80", "\xc3\xad\xc2\xa0\xc2\x80"},                 // a surrogate
      {"\xf4\x90\x80\x80", "\xc3\xb4\xc2\x90\xc2\x80\xc2\x80"},     // beyond U+10FFFF
      {"\xff", "\xc3\xbf"},
      {"\xc2\xb0\xb0", "\xc3\x82\xc2\xb0\xc2\xb0"},                 // one bad byte: all Latin-1
  };
  for (const auto& row : rows) {
    EXPECT_EQ(sfHeaderTextToUtf8(row.in), row.out) << row.in;
    EXPECT_TRUE(sfIsUtf8(sfHeaderTextToUtf8(row.in))) << row.in;
    EXPECT_EQ(sfIsUtf8(row.in), row.in == row.out) << row.in;
  }
}

}  // namespace
