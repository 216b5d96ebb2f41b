#include "platform/operator_warning.h"

#include <string>

#include "platform/codepage.h"
#include "platform/console.h"

namespace quelvar::platform {

// There is no desktop to show a message box on.
bool showOperatorWarning(std::wstring_view caption, std::wstring_view text) {
    std::wstring line(caption);
    line.append(L": ").append(text).append(L"\n");
    writeStandardError(wideToAnsi(line));
    return false;
}

}  // namespace quelvar::platform
