#include "platform/files.h"


#include "platform/error_win32.h"
#include "platform/io_win32.h"
#include "platform/path_win32.h"

namespace quelvar::platform {

namespace {

// Others may read, append to, move or delete a file between two of our
// writes, as they may on other systems.
constexpr DWORD shareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

HANDLE openFile(const std::string& path, DWORD access, DWORD disposition) {
    return CreateFileW(widePath(path).c_str(), access, shareAll, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
}

bool closeChecked(HANDLE file, bool ok) {
    if (!CloseHandle(file) && ok) return rememberError(GetLastError());
    return ok;
}

bool seekToEnd(HANDLE file, LARGE_INTEGER& size) {
    LARGE_INTEGER zero{};
    return SetFilePointerEx(file, zero, &size, FILE_END) || rememberError(GetLastError());
}

}  // namespace

bool writeAll(HANDLE file, std::string_view bytes) {
    while (!bytes.empty()) {
        const DWORD chunk = bytes.size() > 0x40000000 ? 0x40000000 : static_cast<DWORD>(bytes.size());
        DWORD written = 0;
        if (!WriteFile(file, bytes.data(), chunk, &written, nullptr)) return rememberError(GetLastError());
        if (written == 0) return rememberError(ERROR_WRITE_FAULT);
        bytes.remove_prefix(written);
    }
    return true;
}

bool readFile(const std::string& path, std::string& contents) {
    contents.clear();
    const HANDLE file = openFile(path, GENERIC_READ, OPEN_EXISTING);
    if (file == INVALID_HANDLE_VALUE) return rememberError(GetLastError());
    char buffer[65536];
    for (;;) {
        DWORD count = 0;
        if (!ReadFile(file, buffer, sizeof buffer, &count, nullptr)) {
            rememberError(GetLastError());
            CloseHandle(file);
            contents.clear();
            return false;
        }
        if (count == 0) break;
        contents.append(buffer, count);
    }
    CloseHandle(file);
    return true;
}

bool appendToFile(const std::string& path, std::string_view bytes) {
    // Append access alone: every write lands at the end, whoever else writes.
    const HANDLE file = openFile(path, FILE_APPEND_DATA | SYNCHRONIZE, OPEN_ALWAYS);
    if (file == INVALID_HANDLE_VALUE) return rememberError(GetLastError());
    return closeChecked(file, writeAll(file, bytes));
}

WriteResult appendWithHeader(const std::string& path, std::string_view header, std::string_view bytes) {
    // Write access too, to take a cut-off line back; one writer per file.
    const HANDLE file = openFile(path, GENERIC_WRITE, OPEN_ALWAYS);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        rememberError(error);
        return error == ERROR_PATH_NOT_FOUND ? WriteResult::folderMissing : WriteResult::failed;
    }
    LARGE_INTEGER size{};
    if (!seekToEnd(file, size)) {
        CloseHandle(file);
        return WriteResult::failed;
    }
    bool ok = false;
    if (size.QuadPart == 0 && !header.empty()) {
        std::string whole;
        whole.reserve(header.size() + bytes.size());
        whole.append(header).append(bytes);
        ok = writeAll(file, whole);
    } else {
        ok = writeAll(file, bytes);
    }
    // A line cut short by a full disk is taken back: the record is written
    // again whole when it comes again.
    if (!ok && SetFilePointerEx(file, size, nullptr, FILE_BEGIN)) SetEndOfFile(file);
    return closeChecked(file, ok) ? WriteResult::ok : WriteResult::failed;
}

bool createNewFile(const std::string& path, std::string_view bytes) {
    const HANDLE file = openFile(path, GENERIC_WRITE, CREATE_NEW);
    if (file == INVALID_HANDLE_VALUE) return rememberError(GetLastError());
    if (closeChecked(file, writeAll(file, bytes))) return true;
    DeleteFileW(widePath(path).c_str());
    return false;
}

}  // namespace quelvar::platform
