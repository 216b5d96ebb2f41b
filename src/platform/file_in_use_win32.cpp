#include <windows.h>

#include "platform/file_in_use.h"
#include "platform/path_win32.h"

namespace quelvar::platform {

// Office programs keep a workbook open, denying others the right to write,
// for as long as it is open for editing: an open that shares nothing fails.
bool fileInUse(const std::string& path) {
    const HANDLE file = CreateFileW(widePath(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_SHARING_VIOLATION;
    CloseHandle(file);
    return false;
}

}  // namespace quelvar::platform
