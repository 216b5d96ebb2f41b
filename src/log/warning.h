#pragma once
#include <string_view>

#include "log/event_log.h"

namespace quelvar {

// Tells the operator: as "WARNING   <caption>: <text>" in the event log, and
// in a message box that waits for OK where there is a desktop, on standard
// error where there is none. True once the operator has pressed OK.
bool showWarning(const EventLog& log, std::wstring_view caption, std::wstring_view text);

}  // namespace quelvar
