// The moment a header's "DATE" text stands for, in the two forms writers use: the day first
// ("012-Mar-2009 10:20:30", the form read as a time) and the clock first ("11:27:28
// 30-APR-23"). Pure functions of the text; no time zone is applied.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace TamblixHq::NODRA::Drivers::RPC3 {

// A wall-clock date and time as the text states it. Fields are as read (not checked against
// the calendar); the month counts from 1.
struct RPC3HeaderDate {
  int year = 0;
  int month = 1;
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
};

// The day-first form DAY-MON-YEAR HH:MM:SS[ anything]: the first dash at position 3 or
// later, before the first blank, which stands before the first colon; numbers are read as
// the C library reads them (leading digits); the month by its English three-letter name in
// any letter case. A year of one or two digits is read as strptime's %y reads it (69-99:
// 1969-1999, 00-68: 2000-2068). Nothing when the text is not in this form.
std::optional<RPC3HeaderDate> parseDayFirstDate(std::string_view text);

// The clock-first form HH:MM:SS DAY-MON-YEAR, every number of digits only, the year of two
// digits (as %y) or four. Nothing when the text is not in this form.
std::optional<RPC3HeaderDate> parseClockFirstDate(std::string_view text);

// The date of `text`, in either form, as ISO 8601 "YYYY-MM-DDThh:mm:ss" (no zone: the
// wall-clock time the file states); nothing when neither form reads or the date is not one
// of the calendar (day 31 of April, hour 24, year beyond 9999).
std::optional<std::string> getIsoDate(std::string_view text);

}  // namespace TamblixHq::NODRA::Drivers::RPC3
