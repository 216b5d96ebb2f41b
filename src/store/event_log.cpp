#include "store/event_log.h"

#include "core/folders.h"
#include "core/format.h"
#include "core/text.h"
#include "platform/files.h"

namespace quelvar {

std::string eventLogPath(const std::string& programFolder, const CalendarTime& when) {
    return pathIn(pathIn(programFolder, "log"), formatBytes("%04d%02d%02d.log", when.year, when.month, when.day));
}

std::string eventStamp(const CalendarTime& when) {
    return formatBytes("%04d-%02d-%02d   %02d:%02d:%02d   ", when.year, when.month, when.day, when.hour,
                       when.minute, when.second);
}

bool writeEventLine(std::wstring_view message) {
    const CalendarTime now = currentLocalTime();
    const std::string path = eventLogPath(toAnsi(getProgramDir()), now);
    return platform::appendToFile(path, eventStamp(now) + toGbk(message));
}

}  // namespace quelvar
