#include "store/warning.h"

#include "core/folders.h"
#include "core/format.h"
#include "core/text.h"
#include "platform/console.h"
#include "store/event_log.h"

namespace quelvar {

void showWarning(std::wstring_view caption, std::wstring_view text) {
    platform::writeStandardError(toAnsi(formatText(L"%s: %s\n", caption, text)));
    // A warning may come before anything else has made the log folder.
    ensureFolderPath(getProgramDir() + L"/log");
    writeEventLine(formatText(L"WARNING   %s: %s\r\n", caption, text));
}

}  // namespace quelvar
