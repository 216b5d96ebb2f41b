#include "platform/files.h"

#include "platform/error_posix.h"
#include "platform/io_posix.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace quelvar::platform {

namespace {

bool closeChecked(int descriptor, bool ok) {
    if (close(descriptor) != 0 && ok) return rememberError(errno);
    return ok;
}

}  // namespace

bool writeAll(int descriptor, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = write(descriptor, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            return rememberError(errno);
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

bool readFile(const std::string& path, std::string& contents) {
    contents.clear();
    const int descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) return rememberError(errno);
    char buffer[65536];
    for (;;) {
        const ssize_t count = read(descriptor, buffer, sizeof buffer);
        if (count == 0) break;
        if (count < 0) {
            if (errno == EINTR) continue;
            rememberError(errno);
            close(descriptor);
            return false;
        }
        contents.append(buffer, static_cast<std::size_t>(count));
    }
    close(descriptor);
    return true;
}

bool appendToFile(const std::string& path, std::string_view bytes) {
    const int descriptor = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (descriptor < 0) return rememberError(errno);
    return closeChecked(descriptor, writeAll(descriptor, bytes));
}

WriteResult appendWithHeader(const std::string& path, std::string_view header, std::string_view bytes) {
    const int descriptor = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (descriptor < 0) {
        const int error = errno;
        rememberError(error);
        return error == ENOENT ? WriteResult::folderMissing : WriteResult::failed;
    }
    struct stat info {};
    if (fstat(descriptor, &info) != 0) {
        rememberError(errno);
        close(descriptor);
        return WriteResult::failed;
    }
    bool ok = false;
    if (info.st_size == 0 && !header.empty()) {
        std::string whole;
        whole.reserve(header.size() + bytes.size());
        whole.append(header).append(bytes);
        ok = writeAll(descriptor, whole);
    } else {
        ok = writeAll(descriptor, bytes);
    }
    // A line cut short by a full disk is taken back: the record is written
    // again whole when it comes again.
    if (!ok) {
        const int restored = ftruncate(descriptor, info.st_size);
        static_cast<void>(restored);
    }
    return closeChecked(descriptor, ok) ? WriteResult::ok : WriteResult::failed;
}

bool createNewFile(const std::string& path, std::string_view bytes) {
    const int descriptor = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (descriptor < 0) return rememberError(errno);
    if (closeChecked(descriptor, writeAll(descriptor, bytes))) return true;
    unlink(path.c_str());
    return false;
}

}  // namespace quelvar::platform
