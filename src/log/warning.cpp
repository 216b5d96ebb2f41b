#include "log/warning.h"

#include <atomic>
#include <string>
#include <thread>

#include "core/format.h"
#include "platform/process.h"

namespace quelvar {

bool showWarning(const EventLog& log, std::wstring_view caption, std::wstring_view text) {
    // The log has it before the message box holds everything up. Where the
    // log cannot take it, standard error and the message box still do.
    log.writeEventLine(formatText(L"WARNING   %s: %s\r\n", caption, text));
    return platform::showOperatorWarning(caption, text);
}

void showWarningAside(const EventLog& log, std::wstring_view caption, std::wstring_view text) {
    log.writeEventLine(formatText(L"WARNING   %s: %s\r\n", caption, text));
    static std::atomic<bool> shown{false};
    if (shown.exchange(true)) return;
    // The thread owns its texts: it may outlive the caller's.
    std::thread([shownCaption = std::wstring(caption), shownText = std::wstring(text)] {
        platform::showOperatorWarning(shownCaption, shownText);
        shown = false;
    }).detach();
}

}  // namespace quelvar
