#pragma once
#include <cstdint>

namespace quelvar::platform {

// Seconds since 1970-01-01 00:00:00 UTC.
using TimeValue = std::int64_t;

// A local calendar time; month 1 to 12, year in full.
struct CalendarTime {
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

TimeValue currentTime();

// Local calendar time of a point in time. False when the calendar cannot
// show it.
bool toLocalCalendar(TimeValue time, CalendarTime& calendar);

// The point in time of a local calendar time. Parts out of range roll over
// (month 0 is December of the year before, second 60 the next minute) and
// daylight saving is decided by the calendar. False when no point in time
// can be given.
bool fromLocalCalendar(const CalendarTime& calendar, TimeValue& time);

// Pauses the thread.
void sleepMilliseconds(int milliseconds);

}  // namespace quelvar::platform
