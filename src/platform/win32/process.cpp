#include "platform/process.h"

#include <windows.h>

#include <atomic>
#include <string>


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

namespace {

bool usable(HANDLE handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }

// A windowless program started from a console has no handles of its own:
// it writes to that console, if there is one.
HANDLE standardHandle(DWORD which) {
    HANDLE handle = GetStdHandle(which);
    if (usable(handle)) return handle;
    static const bool attached = AttachConsole(ATTACH_PARENT_PROCESS) != 0;
    if (!attached) return nullptr;
    static const HANDLE console = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                              nullptr, OPEN_EXISTING, 0, nullptr);
    return console;
}

void writeTo(DWORD which, std::string_view bytes) {
    const HANDLE handle = standardHandle(which);
    if (!usable(handle)) return;
    while (!bytes.empty()) {
        DWORD written = 0;
        const DWORD chunk = bytes.size() > 0x10000 ? 0x10000 : static_cast<DWORD>(bytes.size());
        if (!WriteFile(handle, bytes.data(), chunk, &written, nullptr) || written == 0) return;
        bytes.remove_prefix(written);
    }
}

}  // namespace

void writeStandardError(std::string_view bytes) { writeTo(STD_ERROR_HANDLE, bytes); }

void writeStandardOutput(std::string_view bytes) { writeTo(STD_OUTPUT_HANDLE, bytes); }

bool showOperatorWarning(std::wstring_view caption, std::wstring_view text) {
    const std::wstring shownCaption(caption);
    const std::wstring shownText(text);
    // No owner window: a message box owned by the desktop window would
    // disable the desktop while it is shown.
    return desktopVisible() && MessageBoxW(nullptr, shownText.c_str(), shownCaption.c_str(),
                                           MB_OK | MB_ICONEXCLAMATION | MB_SYSTEMMODAL | MB_SETFOREGROUND) == IDOK;
}

namespace {

std::atomic<bool> stopAsked{false};
// Set once the process has stopped as asked; a console's close, log-off or
// shutdown ends the process as soon as its handler returns.
HANDLE stoppedEvent = nullptr;

BOOL WINAPI onConsoleEvent(DWORD event) {
    stopAsked = true;
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
        // Windows gives a handler about five seconds.
        if (stoppedEvent != nullptr) WaitForSingleObject(stoppedEvent, 4500);
    }
    return TRUE;
}

}  // namespace

void watchStopRequests() {
    if (stoppedEvent == nullptr) stoppedEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

bool stopRequested() { return stopAsked; }

void requestStop() { stopAsked = true; }

void reportStopped() {
    if (stoppedEvent != nullptr) SetEvent(stoppedEvent);
}

// Windows' service manager is told through the service's own status.
void notifyServiceManager(std::string_view) {}

// The Windows heap has no switch for this at run time: it decides by itself
// what it keeps and what it gives back.
void keepFreedMemory() {}

}  // namespace quelvar::platform
