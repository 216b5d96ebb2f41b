#include "platform/clock.h"

#include <windows.h>

#include <time.h>

namespace quelvar::platform {

TimeValue currentTime() { return static_cast<TimeValue>(_time64(nullptr)); }

bool toLocalCalendar(TimeValue time, CalendarTime& calendar) {
    const __time64_t value = time;
    struct tm local {};
    if (_localtime64_s(&local, &value) != 0) return false;
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
    // The calendar here begins in 1970, so -1 is never a point in time.
    const __time64_t value = _mktime64(&local);
    if (value == -1) return false;
    time = static_cast<TimeValue>(value);
    return true;
}

void sleepMilliseconds(int milliseconds) { Sleep(milliseconds < 0 ? 0 : static_cast<DWORD>(milliseconds)); }

}  // namespace quelvar::platform
