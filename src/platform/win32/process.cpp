#include "platform/process.h"

#include <windows.h>

#include <string>

#include "platform/codepage.h"

namespace quelvar::platform {

namespace {

// A service, or a task run without a logged-on user, has a window station
// that nobody sees: a message box there would wait for ever.
bool desktopVisible() {
    USEROBJECTFLAGS flags{};
    const HWINSTA station = GetProcessWindowStation();
    return station != nullptr && GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, nullptr) &&
           (flags.dwFlags & WSF_VISIBLE) != 0;
}

}  // namespace

void writeStandardError(std::string_view bytes) {
    // A program without a console may have no standard error at all.
    const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    if (error == nullptr || error == INVALID_HANDLE_VALUE) return;
    while (!bytes.empty()) {
        DWORD written = 0;
        const DWORD chunk = bytes.size() > 0x10000 ? 0x10000 : static_cast<DWORD>(bytes.size());
        if (!WriteFile(error, bytes.data(), chunk, &written, nullptr) || written == 0) return;
        bytes.remove_prefix(written);
    }
}

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

// The Windows heap has no switch for this at run time: it decides by itself
// what it keeps and what it gives back.
void keepFreedMemory() {}

}  // namespace quelvar::platform
