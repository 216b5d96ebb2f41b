#pragma once
#include <string>

#include "log/event_log.h"

namespace quelvar {

// <programDir>/tele.ini, the list of special-service numbers.
std::string specialNumberFilePath(const std::string& programFolder);

// Writes the list with the built-in special-service numbers when it cannot
// be opened. An existing file, even an empty one, is never changed. A file
// that cannot be made is reported to the operator.
void ensureSpecialNumberFile(const std::string& path, const EventLog& log);

}  // namespace quelvar
