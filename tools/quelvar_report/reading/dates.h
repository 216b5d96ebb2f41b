#pragma once
// Days and times as the index holds them: YYYY-MM-DD and YYYY-MM-DDTHH:MM:SS,
// local time, proleptic Gregorian calendar.
#include <string>
#include <string_view>

namespace quelvar::report {

// Days since 1970-01-01.
long daysFromCivil(int year, int month, int day);
std::string dateText(long days);
// 1 for Monday .. 7 for Sunday.
int weekdayOf(long days);

// Digits only, fitting an int.
bool parseNumber(std::string_view text, int& value);
// YYYY-MM-DD naming a day that exists.
bool parseDate(std::string_view text, long& days);
// YYYY-MM-DDTHH:MM:SS naming a moment that exists: seconds since 1970-01-01
// 00:00 of the same clock (no zone: the calls' own local time).
bool parseMoment(std::string_view text, long long& seconds);
// The inverse of parseMoment.
std::string momentText(long long seconds);

}  // namespace quelvar::report
