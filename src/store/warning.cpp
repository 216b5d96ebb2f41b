#include "store/warning.h"

#include "core/folders.h"
#include "core/format.h"
#include "core/text.h"
#include "platform/operator_warning.h"
#include "store/event_log.h"

namespace quelvar {

bool showWarning(std::wstring_view caption, std::wstring_view text) {
    // A warning may come before anything else has made the log folder. The
    // log has it before the message box holds everything up.
    ensureFolderPath(pathIn(getProgramDir(), L"log"));
    writeEventLine(formatText(L"WARNING   %s: %s\r\n", caption, text));
    return platform::showOperatorWarning(caption, text);
}

}  // namespace quelvar
