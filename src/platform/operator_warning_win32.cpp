#include "platform/operator_warning.h"

#include <windows.h>

#include <string>

#include "platform/codepage.h"
#include "platform/console.h"

namespace quelvar::platform {

namespace {

// A service, or a task run without a logged-on user, has a window station
// that nobody sees: a message box there would wait for ever.
bool desktopVisible() {
    USEROBJECTFLAGS flags{};
    const HWINSTA station = GetProcessWindowStation();
    return station != nullptr &&
           GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, nullptr) &&
           (flags.dwFlags & WSF_VISIBLE) != 0;
}

}  // namespace

bool showOperatorWarning(std::wstring_view caption, std::wstring_view text) {
    const std::wstring shownCaption(caption);
    const std::wstring shownText(text);
    // No owner window: a message box owned by the desktop window would
    // disable the desktop while it is shown.
    if (desktopVisible() &&
        MessageBoxW(nullptr, shownText.c_str(), shownCaption.c_str(),
                    MB_OK | MB_ICONEXCLAMATION | MB_SYSTEMMODAL | MB_SETFOREGROUND) == IDOK)
        return true;
    writeStandardError(wideToAnsi(shownCaption + L": " + shownText + L"\n"));
    return false;
}

}  // namespace quelvar::platform
