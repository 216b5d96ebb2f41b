#include "core/time.h"

namespace quelvar {

CalendarTime currentLocalTime() {
    CalendarTime now;
    platform::toLocalCalendar(platform::currentTime(), now);
    return now;
}

}  // namespace quelvar
