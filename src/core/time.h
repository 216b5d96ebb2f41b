#pragma once
#include "platform/clock.h"

namespace quelvar {

using platform::CalendarTime;
using platform::TimeValue;

// Calendar arithmetic in whole seconds.
inline TimeValue addSeconds(TimeValue time, long long seconds) { return time + seconds; }

// The current local date and time, read from the clock once.
CalendarTime currentLocalTime();

}  // namespace quelvar
