#pragma once
#include <string>
#include <string_view>

#include "core/time.h"

namespace quelvar {

// Reads up to six numbers of at most two characters each (YYMMDDhhmmss) the
// way "%02d" reads them; gives how many were read.
int readTimeNumbers(std::wstring_view text, int (&numbers)[6]);

// Whether the call's start begins with six digits YYMMDD that name no day
// of the calendar (2026-11-31, 2027-02-29, month 13): such a record cannot
// be placed in a day's file that anyone could price.
bool namesNoDay(std::wstring_view timeStart);
bool namesNoDay(std::string_view timeStart);

// The end of a call as 12 digits YYMMDDhhmmss: the start read from TIME-S,
// its date replaced by `today` when the year is above 38, the month outside
// 1 to 12, the day outside 1 to 31 or any of them missing (missing time
// numbers count 0), normalised in local time, plus the duration. Empty when
// the calendar cannot show the end.
std::wstring endTimeText(std::wstring_view timeStart, long long durationSeconds, const CalendarTime& today);

}  // namespace quelvar
