#include "platform/clock.h"

#include <time.h>

#include <cerrno>
#include <limits>
#include <mutex>

namespace quelvar::platform {

TimeValue currentTime() { return static_cast<TimeValue>(time(nullptr)); }

bool toLocalCalendar(TimeValue time, CalendarTime& calendar) {
    if (time < std::numeric_limits<time_t>::min() || time > std::numeric_limits<time_t>::max())
        return false;
    const time_t value = static_cast<time_t>(time);
    struct tm local {};
    if (localtime_r(&value, &local) == nullptr) return false;
    calendar = {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                local.tm_hour, local.tm_min, local.tm_sec};
    return true;
}

namespace {

// The last calendar time mktime turned into a point in time. Without TZ
// mktime looks at /etc/localtime on every call; a time of the same local
// hour is reckoned from it instead, and taken when the calendar shows it.
struct LastConversion {
    std::mutex lock;
    bool known = false;
    CalendarTime calendar;
    TimeValue time = 0;
};

LastConversion& lastConversion() {
    static LastConversion last;
    return last;
}

bool sameHour(const CalendarTime& a, const CalendarTime& b) {
    return a.year == b.year && a.month == b.month && a.day == b.day && a.hour == b.hour;
}

bool inRange(const CalendarTime& calendar) {
    return calendar.month >= 1 && calendar.month <= 12 && calendar.day >= 1 && calendar.day <= 28 &&
           calendar.hour >= 0 && calendar.hour <= 23 && calendar.minute >= 0 && calendar.minute <= 59 &&
           calendar.second >= 0 && calendar.second <= 59;
}

}  // namespace

bool fromLocalCalendar(const CalendarTime& calendar, TimeValue& time) {
    LastConversion& last = lastConversion();
    {
        const std::lock_guard<std::mutex> guard(last.lock);
        if (last.known && inRange(calendar) && sameHour(calendar, last.calendar)) {
            const TimeValue candidate =
                last.time + (calendar.minute - last.calendar.minute) * 60 + (calendar.second - last.calendar.second);
            CalendarTime shown;
            if (toLocalCalendar(candidate, shown) && sameHour(shown, calendar) && shown.minute == calendar.minute &&
                shown.second == calendar.second) {
                time = candidate;
                return true;
            }
        }
    }
    struct tm local {};
    local.tm_year = calendar.year - 1900;
    local.tm_mon = calendar.month - 1;
    local.tm_mday = calendar.day;
    local.tm_hour = calendar.hour;
    local.tm_min = calendar.minute;
    local.tm_sec = calendar.second;
    local.tm_isdst = -1;
    // mktime answers -1 both for failure and for the second before 1970.
    errno = 0;
    const time_t value = mktime(&local);
    if (value == static_cast<time_t>(-1) && errno != 0) return false;
    time = static_cast<TimeValue>(value);
    if (inRange(calendar)) {
        const std::lock_guard<std::mutex> guard(last.lock);
        last.known = true;
        last.calendar = calendar;
        last.time = time;
    }
    return true;
}

void sleepMilliseconds(int milliseconds) {
    struct timespec pause {milliseconds / 1000, static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
    }
}

}  // namespace quelvar::platform
