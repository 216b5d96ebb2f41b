#include "core/time.h"

#include <limits>

namespace quelvar {

TimeValue addSeconds(TimeValue time, long long seconds) {
    TimeValue sum = 0;
    if (!__builtin_add_overflow(time, seconds, &sum)) return sum;
    return seconds > 0 ? std::numeric_limits<TimeValue>::max() : std::numeric_limits<TimeValue>::min();
}

CalendarTime currentLocalTime() {
    CalendarTime now;
    platform::toLocalCalendar(platform::currentTime(), now);
    return now;
}

}  // namespace quelvar
