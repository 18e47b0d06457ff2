#include "rpc3/format/RPC3HeaderDate.h"

#include <algorithm>
#include <cstdio>

#include "host/utility/CStringU.h"

namespace TamblixHq::NODRA::Drivers::RPC3 {

namespace {

// The text before and after the first `c` of `text`; false when there is none.
bool splitAt(std::string_view text, char c, std::string_view& before, std::string_view& after) {
  const std::size_t at = text.find(c);
  if (at == std::string_view::npos) return false;
  before = text.substr(0, at);
  after = text.substr(at + 1);
  return true;
}

// Month 1 to 12 of an English three-letter name in any letter case; 0 for anything else.
int monthOf(std::string_view name) {
  static const char* const months[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                       "jul", "aug", "sep", "oct", "nov", "dec"};
  for (int m = 0; m < 12; ++m) {
    if (Utility::CStringU(name.data(), name.size()).mfICompare(months[m]) == 0) return m + 1;
  }
  return 0;
}

// The C library's reading of a number text: leading digits, 0 when there are none.
int numberOf(std::string_view text) { return Utility::CStringU(text.data(), text.size()).mfGetInt(); }

bool allDigits(std::string_view text, std::size_t fewest, std::size_t most) {
  return text.size() >= fewest && text.size() <= most &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A year of one or two digits as %y reads it; others as they are.
int fullYear(std::string_view text) {
  const int year = numberOf(text);
  if (!allDigits(text, 1, 2)) return year;
  return year < 69 ? 2000 + year : 1900 + year;
}

bool isLeap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int daysIn(int year, int month) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && isLeap(year) ? 29 : days[month - 1];
}

// The date of its field texts; nothing when the month is no month's name.
std::optional<RPC3HeaderDate> dateOf(std::string_view year, std::string_view month, std::string_view day,
                                     std::string_view hour, std::string_view minute,
                                     std::string_view second) {
  RPC3HeaderDate date;
  date.month = monthOf(month);
  if (date.month == 0) return std::nullopt;
  date.year = fullYear(year);
  date.day = numberOf(day);
  date.hour = numberOf(hour);
  date.minute = numberOf(minute);
  date.second = numberOf(second);
  return date;
}

}  // namespace

std::optional<RPC3HeaderDate> parseDayFirstDate(std::string_view text) {
  const std::size_t colon = text.find(':');
  const std::size_t dash = text.find('-');
  const std::size_t blank = text.find(' ');
  if (colon == std::string_view::npos || dash == std::string_view::npos ||
      blank == std::string_view::npos || colon < blank || blank < dash || dash < 3) {
    return std::nullopt;
  }
  std::string_view day, rest, month, tail, year, time, hour, remainder, minute, second;
  if (!splitAt(text, '-', day, rest) || !splitAt(rest, '-', month, tail) ||
      !splitAt(tail, ' ', year, time) || !splitAt(time, ':', hour, remainder) ||
      !splitAt(remainder, ':', minute, second)) {
    return std::nullopt;
  }
  second = second.substr(0, second.find(' '));
  return dateOf(year, month, day, hour, minute, second);
}

std::optional<RPC3HeaderDate> parseClockFirstDate(std::string_view text) {
  const std::size_t end = text.find_last_not_of(" \t");
  if (end == std::string_view::npos) return std::nullopt;
  text = text.substr(0, end + 1);
  std::string_view clock, calendar, hour, minutes, minute, second, day, rest, month, year;
  if (!splitAt(text, ' ', clock, calendar) || !splitAt(clock, ':', hour, minutes) ||
      !splitAt(minutes, ':', minute, second) || !splitAt(calendar, '-', day, rest) ||
      !splitAt(rest, '-', month, year)) {
    return std::nullopt;
  }
  if (!allDigits(hour, 1, 2) || !allDigits(minute, 1, 2) || !allDigits(second, 1, 2) ||
      !allDigits(day, 1, 3) || !(allDigits(year, 2, 2) || allDigits(year, 4, 4))) {
    return std::nullopt;
  }
  return dateOf(year, month, day, hour, minute, second);
}

std::optional<std::string> getIsoDate(std::string_view text) {
  std::optional<RPC3HeaderDate> date = parseDayFirstDate(text);
  if (!date) date = parseClockFirstDate(text);
  if (!date) return std::nullopt;
  const RPC3HeaderDate& d = *date;
  if (d.year < 0 || d.year > 9999 || d.day < 1 || d.day > daysIn(d.year, d.month) || d.hour < 0 ||
      d.hour > 23 || d.minute < 0 || d.minute > 59 || d.second < 0 || d.second > 59) {
    return std::nullopt;
  }
  char iso[32];
  std::snprintf(iso, sizeof iso, "%04d-%02d-%02dT%02d:%02d:%02d", d.year, d.month, d.day, d.hour,
                d.minute, d.second);
  return std::string(iso);
}

}  // namespace TamblixHq::NODRA::Drivers::RPC3
