#include "log/event_log.h"

#include "core/folders.h"
#include "core/format.h"
#include "core/text.h"
#include "platform/files.h"
#include "platform/process.h"

namespace quelvar {

std::string eventLogPath(const std::string& programFolder, const CalendarTime& when) {
    return pathIn(pathIn(programFolder, "log"), formatBytes("%04d%02d%02d.log", when.year, when.month, when.day));
}

std::string eventStamp(const CalendarTime& when) {
    return formatBytes("%04d-%02d-%02d   %02d:%02d:%02d   ", when.year, when.month, when.day, when.hour,
                       when.minute, when.second);
}

Status EventLog::writeEventLine(std::wstring_view message) const {
    // Errors and warnings are for the operator: the journal has them too.
    if (message.starts_with(L"ERROR") || message.starts_with(L"WARNING")) {
        std::wstring_view line = message;
        if (line.ends_with(L"\r\n")) line.remove_suffix(2);
        platform::writeStandardError(toAnsi(line) + "\n");
    }
    const CalendarTime now = currentLocalTime();
    std::string line = eventStamp(now) + toGbk(message);
    // Every entry is a line of its own, whatever its text brought.
    if (!message.ends_with(L"\r\n")) line.append("\r\n");
    return append(now, line);
}

Status EventLog::writePlainEventLine(std::string_view text) const {
    if (text.starts_with("ERROR") || text.starts_with("WARNING")) platform::writeStandardError(std::string(text) + "\n");
    const CalendarTime now = currentLocalTime();
    std::string line = eventStamp(now);
    line.append(text).append("\r\n");
    return append(now, line);
}

Status EventLog::append(const CalendarTime& now, std::string_view line) const {
    const std::string path = eventLogPath(programFolder_, now);
    Status written = platform::appendToFile(path, line);
    if (written.is(Status::Code::notFound)) {
        static_cast<void>(platform::makeFolderChain(pathIn(programFolder_, "log")));
        written = platform::appendToFile(path, line);
    }
    return written;
}

}  // namespace quelvar
