#include <windows.h>

#include <io.h>

#include <cstdint>

#include "platform/error_win32.h"
#include "platform/io_win32.h"
#include "platform/locked_file.h"
#include "platform/path_win32.h"

namespace quelvar::platform {

namespace {

// The lock is the share mode: while the handle is open, others may read the
// file but not write to it. Sharing deletion lets the new file be moved into
// place through the handle that was opened to write it.
constexpr DWORD shareWithReaders = FILE_SHARE_READ | FILE_SHARE_DELETE;

// The descriptor is the C runtime's over the handle; closing it closes both.
int descriptorOf(HANDLE handle) {
    const int descriptor = _open_osfhandle(reinterpret_cast<std::intptr_t>(handle), 0);
    if (descriptor < 0) CloseHandle(handle);
    return descriptor;
}

HANDLE handleOf(int descriptor) { return reinterpret_cast<HANDLE>(_get_osfhandle(descriptor)); }

}  // namespace

LockedFile::~LockedFile() { close(); }

LockResult LockedFile::open(const std::string& path) {
    close();
    path_ = path;
    const HANDLE file = CreateFileW(widePath(path).c_str(), GENERIC_READ | GENERIC_WRITE, shareWithReaders, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        rememberError(error);
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return LockResult::missing;
        if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) return LockResult::held;
        return LockResult::failed;
    }
    if (GetFileType(file) != FILE_TYPE_DISK) {
        CloseHandle(file);
        rememberError(ERROR_INVALID_HANDLE);
        return LockResult::failed;
    }
    descriptor_ = descriptorOf(file);
    if (descriptor_ < 0) {
        rememberError(ERROR_TOO_MANY_OPEN_FILES);
        return LockResult::failed;
    }
    return LockResult::ok;
}

bool LockedFile::read(std::string& contents) {
    contents.clear();
    if (descriptor_ < 0) return true;
    const HANDLE file = handleOf(descriptor_);
    LARGE_INTEGER length{};
    if (!GetFileSizeEx(file, &length)) return rememberError(GetLastError());
    // Read straight into place, from the start whatever the file position;
    // a file that grows meanwhile is read on to its end.
    std::size_t size = 0;
    contents.resize(static_cast<std::size_t>(length.QuadPart) + 1);
    for (;;) {
        if (size == contents.size()) contents.resize(2 * size);
        const std::size_t room = contents.size() - size;
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(size);
        at.OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(size) >> 32);
        DWORD count = 0;
        if (!ReadFile(file, contents.data() + size, room > 0x40000000 ? 0x40000000 : static_cast<DWORD>(room), &count,
                      &at)) {
            const DWORD error = GetLastError();
            if (error == ERROR_HANDLE_EOF) break;
            contents.clear();
            return rememberError(error);
        }
        if (count == 0) break;
        size += count;
    }
    contents.resize(size);
    return true;
}

bool LockedFile::replace(std::initializer_list<std::string_view> pieces) {
    const std::size_t cut = path_.find_last_of("\\/");
    const std::string folder = cut == std::string::npos ? std::string() : path_.substr(0, cut + 1);
    const std::string name = cut == std::string::npos ? path_ : path_.substr(cut + 1);
    const std::wstring beside =
        widePath(folder + "." + name + "." + std::to_string(GetCurrentProcessId()) + ".new");
    const std::wstring target = widePath(path_);
    // A file of that name can only be left over from a crash of this same process id.
    DeleteFileW(beside.c_str());
    // Without the right to delete of its own, the handle keeps no reader out.
    const HANDLE fresh = CreateFileW(beside.c_str(), GENERIC_READ | GENERIC_WRITE, shareWithReaders, nullptr,
                                     CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (fresh == INVALID_HANDLE_VALUE) return rememberError(GetLastError());
    bool ok = true;
    for (const std::string_view piece : pieces) ok = ok && writeAll(fresh, piece);
    ok = ok && (FlushFileBuffers(fresh) || rememberError(GetLastError()));
    // No file can be renamed over while it is open, not even by the one who
    // holds it: the old file's handle goes first.
    const bool hadOld = descriptor_ >= 0;
    if (ok && hadOld) close();
    ok = ok && (MoveFileExW(beside.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ||
                rememberError(GetLastError()));
    if (!ok) {
        const DWORD error = rememberedError();
        CloseHandle(fresh);
        DeleteFileW(beside.c_str());
        // The old file is as it was; it is held again as it was held before.
        if (hadOld && descriptor_ < 0) {
            const std::string path = path_;
            open(path);
        }
        rememberError(error);
        return false;
    }
    // The handle followed the file to its new name: the new file is held.
    close();
    descriptor_ = descriptorOf(fresh);
    return descriptor_ >= 0 || rememberError(ERROR_TOO_MANY_OPEN_FILES);
}

void LockedFile::close() {
    if (descriptor_ >= 0) _close(descriptor_);
    descriptor_ = -1;
}

}  // namespace quelvar::platform
