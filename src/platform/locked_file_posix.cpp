#include "platform/locked_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/error_posix.h"
#include "platform/io_posix.h"

namespace quelvar::platform {

namespace {

bool lockForWriting(int descriptor) {
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    return fcntl(descriptor, F_SETLK, &lock) == 0;
}

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// A rename is durable once the folder's entry is on disk too.
void syncFolder(const std::string& folder) {
    const int descriptor = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0) return;
    fsync(descriptor);
    ::close(descriptor);
}

}  // namespace

LockedFile::~LockedFile() { close(); }

LockResult LockedFile::open(const std::string& path) {
    close();
    path_ = path;
    descriptor_ = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (descriptor_ < 0) {
        const int error = errno;
        rememberError(error);
        return error == ENOENT ? LockResult::missing : LockResult::failed;
    }
    struct stat info {};
    if (fstat(descriptor_, &info) != 0 || !S_ISREG(info.st_mode)) {
        rememberError(S_ISDIR(info.st_mode) ? EISDIR : EINVAL);
        close();
        return LockResult::failed;
    }
    if (!lockForWriting(descriptor_)) {
        const int error = errno;
        rememberError(error);
        close();
        return error == EACCES || error == EAGAIN ? LockResult::held : LockResult::failed;
    }
    return LockResult::ok;
}

bool LockedFile::read(std::string& contents) {
    contents.clear();
    if (descriptor_ < 0) return true;
    struct stat info {};
    if (fstat(descriptor_, &info) != 0) return rememberError(errno);
    // Read straight into place; a file that grows meanwhile is read on to its end.
    std::size_t size = 0;
    contents.resize(static_cast<std::size_t>(info.st_size) + 1);
    for (;;) {
        if (size == contents.size()) contents.resize(2 * size);
        const ssize_t count =
            pread(descriptor_, contents.data() + size, contents.size() - size, static_cast<off_t>(size));
        if (count == 0) break;
        if (count < 0) {
            if (errno == EINTR) continue;
            const int error = errno;
            contents.clear();
            return rememberError(error);
        }
        size += static_cast<std::size_t>(count);
    }
    contents.resize(size);
    return true;
}

bool LockedFile::replace(std::initializer_list<std::string_view> pieces) {
    const std::string name = path_.substr(path_.rfind('/') + 1);
    const std::string folder = folderOf(path_);
    const std::string beside = (folder == "/" ? "" : folder) + "/." + name + "." + std::to_string(getpid()) + ".new";
    // A file of that name can only be left over from a crash of this same process id.
    unlink(beside.c_str());
    // Opened for reading too: after the rename it is the file that is read.
    const int fresh = ::open(beside.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fresh < 0) return rememberError(errno);
    bool ok = lockForWriting(fresh) || rememberError(errno);
    // The new file keeps the old one's permissions.
    struct stat info {};
    if (ok && descriptor_ >= 0 && fstat(descriptor_, &info) == 0)
        ok = fchmod(fresh, info.st_mode & 07777) == 0 || rememberError(errno);
    for (const std::string_view piece : pieces) ok = ok && writeAll(fresh, piece);
    ok = ok && (fsync(fresh) == 0 || rememberError(errno));
    ok = ok && (rename(beside.c_str(), path_.c_str()) == 0 || rememberError(errno));
    if (!ok) {
        ::close(fresh);
        unlink(beside.c_str());
        return false;
    }
    // From here the new file is in place and locked; the old one may go.
    if (descriptor_ >= 0) ::close(descriptor_);
    descriptor_ = fresh;
    // The contents are safe already; only the name's move may not survive a power cut.
    syncFolder(folder);
    return true;
}

void LockedFile::close() {
    if (descriptor_ >= 0) ::close(descriptor_);
    descriptor_ = -1;
}

}  // namespace quelvar::platform
