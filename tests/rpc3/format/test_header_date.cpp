// Header dates in the two forms writers use, and the ISO 8601 text of the moment they state.

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "rpc3/format/RPC3HeaderDate.h"

namespace TamblixHq::NODRA::Drivers::RPC3 {
namespace {

TEST(HeaderDate, BothFormsGiveTheStatedWallClockTimeInIso8601) {
  const std::pair<const char*, std::optional<std::string>> cases[] = {
      // Day first.
      {"012-Mar-2009 10:20:30", "2009-03-12T10:20:30"},
      {"012-MAR-2009 10:20:30 xyz", "2009-03-12T10:20:30"},
      {"030-APR-23 11:27:28", "2023-04-30T11:27:28"},  // two-digit years as %y reads them
      {"001-jan-68 00:00:00", "2068-01-01T00:00:00"},
      {"001-jan-69 00:00:00", "1969-01-01T00:00:00"},
      {"029-feb-2024 12:00:00", "2024-02-29T12:00:00"},
      {"12-Mar-2009 10:20:30", std::nullopt},  // dash before position 3: text only
      {"031-apr-2023 10:00:00", std::nullopt},  // not a day of the calendar
      {"029-feb-2023 10:00:00", std::nullopt},
      {"012-mar-2009 24:00:00", std::nullopt},
      {"012-mar-12009 10:00:00", std::nullopt},  // beyond what ISO 8601 writes in four digits
      // Clock first.
      {"11:27:28 30-APR-23", "2023-04-30T11:27:28"},
      {"11:27:28 30-apr-2023  ", "2023-04-30T11:27:28"},
      {"23:59:59 31-dec-99", "1999-12-31T23:59:59"},
      {"11:27 30-APR-23", std::nullopt},
      {"11:27:28 30-APR-023", std::nullopt},
      {"11:27:28 30-APX-23", std::nullopt},
      {"11:27:28 30-APR-23 later", std::nullopt},
      {"11:27:28 31-JUN-23", std::nullopt},
      // Neither.
      {"yesterday", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& [text, iso] : cases) {
    EXPECT_EQ(getIsoDate(text), iso) << '"' << text << '"';
  }
}

TEST(HeaderDate, OnlyYearsOfOneOrTwoDigitsAreReadInTheCenturyWindow) {
  const std::pair<const char*, int> cases[] = {
      {"001-jan-0 00:00:00", 2000}, {"001-jan-99 00:00:00", 1999},  {"001-jan-100 00:00:00", 100},
      {"001-jan-2023 00:00:00", 2023}, {"001-jan-023 00:00:00", 23},
  };
  for (const auto& [text, year] : cases) {
    const std::optional<RPC3HeaderDate> date = parseDayFirstDate(text);
    ASSERT_TRUE(date.has_value()) << text;
    EXPECT_EQ(date->year, year) << text;
  }
  EXPECT_EQ(parseClockFirstDate("01:02:03 04-may-70")->year, 1970);
}

}  // namespace
}  // namespace TamblixHq::NODRA::Drivers::RPC3
