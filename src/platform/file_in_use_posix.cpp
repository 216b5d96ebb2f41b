#include "platform/file_in_use.h"

#include <fcntl.h>
#include <unistd.h>

#include "platform/folders.h"

namespace quelvar::platform {

namespace {

std::string lockFileOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    return path.substr(0, nameStart) + ".~lock." + path.substr(nameStart) + "#";
}

// Any lock of another process stands in the way of writing.
bool lockedByAnotherProcess(const std::string& path) {
    const int descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (descriptor < 0) return false;
    struct flock probe {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    const bool locked = fcntl(descriptor, F_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
    // Closing drops this process's own record locks on the file; callers
    // test before they take theirs.
    close(descriptor);
    return locked;
}

}  // namespace

bool fileInUse(const std::string& path) { return pathExists(lockFileOf(path)) || lockedByAnotherProcess(path); }

}  // namespace quelvar::platform
