#pragma once
#include "platform/clock.h"

namespace quelvar {

using platform::CalendarTime;
using platform::TimeValue;

// Calendar arithmetic in whole seconds; a sum beyond the range of the time
// value stops at its end.
TimeValue addSeconds(TimeValue time, long long seconds);

// The current local date and time, read from the clock once.
CalendarTime currentLocalTime();

}  // namespace quelvar
