#include "platform/error.h"
#include "platform/error_win32.h"

#include "platform/codepage.h"

namespace quelvar::platform {

namespace {
thread_local DWORD lastError = 0;
}

bool rememberError(DWORD error) {
    lastError = error;
    return false;
}

DWORD rememberedError() { return lastError; }

std::string lastErrorText() {
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        lastError, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring message(text != nullptr ? text : L"", length);
    LocalFree(text);
    // The system's texts end in a full stop and a line end; a log line
    // carries them inside a line of its own.
    while (!message.empty() && (message.back() == L'\r' || message.back() == L'\n' || message.back() == L' ' ||
                                message.back() == L'.'))
        message.pop_back();
    if (message.empty()) return "error " + std::to_string(lastError);
    return wideToAnsi(message);
}

}  // namespace quelvar::platform
