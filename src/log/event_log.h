#pragma once
#include <string>
#include <string_view>

#include "core/time.h"
#include "platform/status.h"

namespace quelvar {

// The daily event log, <programDir>/log/YYYYMMDD.log: time-stamped lines,
// only ever appended to, each file opened and closed again for every line so
// that others may read or move it between two lines. One clock reading names
// the file and stamps the line. The folder is made when a line finds it
// missing.
class EventLog {
public:
    // The program's folder in the 8-bit code page of file names.
    explicit EventLog(std::string programFolder) : programFolder_(std::move(programFolder)) {}

    // The message in GBK behind the stamp, closed with CR LF unless it
    // brings its own. An ERROR or WARNING line goes to standard error as
    // well: text from the network is never put at a line's start.
    Status writeEventLine(std::wstring_view message) const;
    // 8-bit text byte for byte behind the stamp, closed with CR LF: the
    // plain mode's lines.
    Status writePlainEventLine(std::string_view text) const;

private:
    Status append(const CalendarTime& now, std::string_view line) const;

    std::string programFolder_;
};

// The day's log file under a program folder given in 8-bit form.
std::string eventLogPath(const std::string& programFolder, const CalendarTime& when);

// "YYYY-MM-DD   hh:mm:ss   ", the stamp in front of every line.
std::string eventStamp(const CalendarTime& when);

}  // namespace quelvar
