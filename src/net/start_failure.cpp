#include "net/start_failure.h"

#include "core/format.h"
#include "core/text.h"
#include "platform/process.h"

namespace quelvar {

Status cannotStart(const EventLog& log, std::wstring_view modeLine, Status why) {
    log.writeEventLine(modeLine);
    std::wstring_view shown = modeLine;
    if (shown.ends_with(L"\r\n")) shown.remove_suffix(2);
    platform::writeStandardError(toAnsi(shown) + "\n");
    log.writeEventLine(formatText(L"ERROR   %s\r\n", fromAnsi(why.text())));
    return why;
}

}  // namespace quelvar
