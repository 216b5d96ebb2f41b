#include "log/warning.h"

#include "core/format.h"
#include "platform/process.h"

namespace quelvar {

bool showWarning(const EventLog& log, std::wstring_view caption, std::wstring_view text) {
    // The log has it before the message box holds everything up. Where the
    // log cannot take it, standard error and the message box still do.
    log.writeEventLine(formatText(L"WARNING   %s: %s\r\n", caption, text));
    return platform::showOperatorWarning(caption, text);
}

}  // namespace quelvar
