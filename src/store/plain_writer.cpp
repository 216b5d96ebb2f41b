#include "store/plain_writer.h"

#include <string>

#include "core/folders.h"
#include "core/settings.h"
#include "core/time.h"
#include "platform/files.h"
#include "store/event_log.h"

namespace quelvar {

namespace {

void writePlainEventLine(std::string_view text) {
    const CalendarTime now = currentLocalTime();
    ensureFolder(settings.programDirAnsi + "/log");
    std::string line = eventStamp(now);
    line += text;
    line += "\r\n";
    platform::appendToFile(eventLogPath(settings.programDirAnsi, now), line);
}

}  // namespace

void storePlainRecord(std::string_view text) {
    if (text.starts_with("RECORD")) return;
    writePlainEventLine(text);
}

}  // namespace quelvar
