#pragma once
#include <string>
#include <string_view>

#include "core/time.h"

namespace quelvar {

// The day's event log file under a program folder given in 8-bit form:
// <programDir>/log/YYYYMMDD.log.
std::string eventLogPath(const std::string& programFolder, const CalendarTime& when);

// "YYYY-MM-DD   hh:mm:ss   ", the stamp in front of every event line.
std::string eventStamp(const CalendarTime& when);

// Appends the stamped message, in GBK, to the day's log. The message brings
// its own line end. One clock reading names the file and stamps the line.
// False when the line could not be written.
bool writeEventLine(std::wstring_view message);

}  // namespace quelvar
