#include "platform/console.h"

#include <windows.h>

namespace quelvar::platform {

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

}  // namespace quelvar::platform
