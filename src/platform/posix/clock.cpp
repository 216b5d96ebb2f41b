#include "platform/clock.h"

#include <time.h>

#include <cerrno>
#include <limits>

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

bool fromLocalCalendar(const CalendarTime& calendar, TimeValue& time) {
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
    return true;
}

void sleepMilliseconds(int milliseconds) {
    struct timespec pause {milliseconds / 1000, static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
    }
}

}  // namespace quelvar::platform
