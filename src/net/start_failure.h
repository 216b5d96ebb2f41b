#pragma once
#include <string_view>

#include "log/event_log.h"
#include "platform/status.h"

namespace quelvar {

// A receive loop that cannot start says so with its mode's own line and one
// with the reason, "ERROR   <what failed>: <why>", in the log and on standard
// error, and gives the failure back.
Status cannotStart(const EventLog& log, std::wstring_view modeLine, Status why);

}  // namespace quelvar
