#pragma once
#include <string_view>

#include "log/event_log.h"

namespace quelvar {

// Tells the operator: as "WARNING   <caption>: <text>" in the event log, and
// in a message box that waits for OK where there is a desktop, on standard
// error where there is none. True once the operator has pressed OK.
bool showWarning(const EventLog& log, std::wstring_view caption, std::wstring_view text);

// The same without waiting for OK: the message box is shown from a thread
// of its own that does nothing else, one box at a time (a warning given
// while a box is still shown goes to the log and standard error alone).
void showWarningAside(const EventLog& log, std::wstring_view caption, std::wstring_view text);

}  // namespace quelvar
