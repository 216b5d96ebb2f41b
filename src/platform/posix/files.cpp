#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

#ifdef SYS_openat2
#include <linux/openat2.h>
#endif

#include <algorithm>
#include <mutex>
#include <vector>

#include "platform/file_faults.h"
#include "platform/posix/system_error.h"

namespace quelvar::platform {

int writeAll(int descriptor, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = write(descriptor, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return 0;
}

namespace {

// The first error of writing and closing, or 0.
int closeAfter(int descriptor, int error) {
    if (close(descriptor) != 0 && error == 0) return errno;
    return error;
}

// Everything on the way to a file that the caller wants to see at once. A
// link is not followed; a pipe would hold the writer up until it had a
// reader.
constexpr int appendFlags = O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY;

#ifdef O_PATH
constexpr int folderFlags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
#else
constexpr int folderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
#endif

// The words of the refusals every system gives alike.
constexpr const char* notRegular = "Not a regular file";
constexpr const char* isLink = "A symbolic link, which is not followed";
constexpr const char* folderIsLink = "Its folder is a symbolic link, which is not followed";

constexpr const char* wayIsLink = "A folder on its way is a symbolic link, which is not followed";
constexpr const char* climbsOut = "It leads out of its folder with \"..\", which is not followed";

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The data roots, without a trailing separator (setDataRoots).
std::vector<std::string>& dataRoots() {
    static std::vector<std::string> roots;
    return roots;
}

// Whether openat2 is not to be used: the kernel lacks it, or a test says so.
bool& walkOnly() {
    static bool walk = false;
    return walk;
}

// The data root a path lies below and the names after it, or false for a
// path below none (the root itself included).
bool belowDataRoot(const std::string& path, std::string& root, std::vector<std::string>& names) {
    std::size_t best = 0;
    for (const std::string& each : dataRoots()) {
        const bool below = path.size() > each.size() && path.compare(0, each.size(), each) == 0 &&
                           (path[each.size()] == '/' || each == "/");
        if (below && each.size() >= best) {
            best = each.size();
            root = each;
        }
    }
    if (root.empty()) return false;
    names.clear();
    for (std::size_t position = best; position < path.size();) {
        const std::size_t slash = std::min(path.find('/', position), path.size());
        const std::string name = path.substr(position, slash - position);
        if (!name.empty() && name != ".") names.push_back(name);
        position = slash + 1;
    }
    return !names.empty();
}

// The file a handle on its folder and its name lead to, without following a
// link in its place.
bool isLinkIn(int folder, const std::string& name) {
    struct stat info {};
    return fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(info.st_mode);
}

#ifdef O_PATH
constexpr int wayFlags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
#else
constexpr int wayFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
#endif

// The folder `count` names below the root, opened one folder after another
// without following a link: its descriptor, or -1 with the reason.
int walkDown(int root, const std::vector<std::string>& names, std::size_t count, const std::string& path,
             Status& refused) {
    int folder = root;
    for (std::size_t index = 0; index < count; ++index) {
        const int next = openat(folder, names[index].c_str(), wayFlags);
        const int error = errno;
        if (next < 0) {
            if ((error == ELOOP || error == ENOTDIR) && isLinkIn(folder, names[index]))
                refused = Status::error(Status::Code::failed, "open", path,
                                        index + 2 == names.size() ? folderIsLink : wayIsLink);
            else
                refused = systemError("open", path, error);
        }
        if (folder != root) close(folder);
        if (next < 0) return -1;
        folder = next;
    }
    return folder == root ? dup(root) : folder;
}

// The same in one step where the kernel can be told to refuse every link
// and every way out of the root.
int resolveDown(int root, const std::vector<std::string>& names, std::size_t count, const std::string& path,
                Status& refused) {
#ifdef SYS_openat2
    if (count > 0 && !walkOnly()) {
        std::string way;
        for (std::size_t index = 0; index < count; ++index) way += (index > 0 ? "/" : "") + names[index];
        open_how how{};
        how.flags = static_cast<std::uint64_t>(wayFlags);
        how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
        for (int attempt = 0; attempt < 3; ++attempt) {
            const long folder = syscall(SYS_openat2, root, way.c_str(), &how, sizeof how);
            if (folder >= 0) return static_cast<int>(folder);
            const int error = errno;
            // A link on the way: the walk says which.
            if (error == ELOOP || error == ENOTDIR || error == EXDEV) break;
            if (error == ENOSYS || error == EPERM || error == EINVAL || error == E2BIG) {
                walkOnly() = true;
                break;
            }
            if (error != EAGAIN && error != EINTR) {
                refused = systemError("open", path, error);
                return -1;
            }
        }
    }
#endif
    return walkDown(root, names, count, path, refused);
}

// Where a path's last name lies: for a path below a data root, a handle on
// its folder reached from the root without a link; for any other path the
// path itself, from the working folder, as it always was.
class Place {
public:
    Place() = default;
    ~Place() {
        if (folder_ >= 0) close(folder_);
    }
    Place(const Place&) = delete;
    Place& operator=(const Place&) = delete;

    [[nodiscard]] Status find(const std::string& path) {
        path_ = &path;
        std::string root;
        std::vector<std::string> names;
        if (!belowDataRoot(path, root, names)) {
            name_ = path;
            return {};
        }
        if (std::find(names.begin(), names.end(), "..") != names.end())
            return Status::error(Status::Code::failed, "open", path, climbsOut);
        const int rootFolder = ::open(root.c_str(), wayFlags & ~O_NOFOLLOW);
        if (rootFolder < 0) return systemError("open", path, errno);
        Status refused;
        folder_ = resolveDown(rootFolder, names, names.size() - 1, path, refused);
        close(rootFolder);
        if (folder_ < 0) return refused;
        name_ = names.back();
        return {};
    }

    bool confined() const { return folder_ >= 0; }
    int folder() const { return folder_ >= 0 ? folder_ : AT_FDCWD; }
    const char* name() const { return name_.c_str(); }
    const std::string& path() const { return *path_; }

    // Opens the name; below a data root never through a link in its place.
    int open(int flags, mode_t mode = 0666) const {
        return openat(folder(), name(), confined() ? flags | O_NOFOLLOW : flags, mode);
    }
    // What the name is: below a data root the name itself, elsewhere (as
    // always) what it leads to, unless `ownName`.
    int look(struct stat& info, bool ownName = false) const {
        return fstatat(folder(), name(), &info, confined() || ownName ? AT_SYMLINK_NOFOLLOW : 0);
    }
    bool isLink() const { return isLinkIn(folder(), name_); }

private:
    const std::string* path_ = nullptr;
    int folder_ = -1;
    std::string name_;
};

bool isSymbolicLink(const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

// The refusal of an open that failed with `error`.
Status openRefusal(const Place& place, int error) {
    if (error == ELOOP && place.isLink()) return Status::error(Status::Code::failed, "open", place.path(), isLink);
    if (error == ENXIO)  // a pipe without a reader
        return Status::error(Status::Code::failed, "open", place.path(), notRegular);
    return systemError("open", place.path(), error);
}

// A file below a data root opened in one step from the root, refusing
// every link: as few calls as opening it through its folder. -1 with the
// errno where the kernel refused it; -2 where that cannot be done here
// (below no root, no openat2), and the open goes through Place.
int openInOneStep(const std::string& path, int flags, int& error) {
#ifdef SYS_openat2
    std::string root;
    std::vector<std::string> names;
    if (walkOnly() || !belowDataRoot(path, root, names) || std::find(names.begin(), names.end(), "..") != names.end())
        return -2;
    std::string way;
    for (const std::string& name : names) way += (way.empty() ? "" : "/") + name;
    const int rootFolder = ::open(root.c_str(), wayFlags & ~O_NOFOLLOW);
    if (rootFolder < 0) return -2;
    open_how how{};
    how.flags = static_cast<std::uint64_t>(flags | O_NOFOLLOW);
    how.mode = (flags & O_CREAT) != 0 ? 0666 : 0;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    const long descriptor = syscall(SYS_openat2, rootFolder, way.c_str(), &how, sizeof how);
    error = errno;
    close(rootFolder);
    if (descriptor >= 0) return static_cast<int>(descriptor);
    if (error == ENOSYS || error == EPERM || error == E2BIG) walkOnly() = true;
    // A missing folder is told as it is; anything else is said more
    // precisely by the walk.
    return error == ENOENT ? -1 : -2;
#else
    static_cast<void>(path);
    static_cast<void>(flags);
    static_cast<void>(error);
    return -2;
#endif
}

// The state of a file just opened; on failure the descriptor is closed.
Status statOrClose(int descriptor, const std::string& path, const char* operation, struct stat& info) {
    if (fstat(descriptor, &info) == 0) return {};
    const int error = errno;
    close(descriptor);
    return systemError(operation, path, error);
}

// Opens a file to append to where it lies: not through a link in its place,
// nor, with `folderToo`, in the place of its folder, nor below a data root
// anywhere on its way. The descriptor, or -1 with the reason in `refused`.
int openForAppending(const std::string& path, bool folderToo, Status& refused, int flags = appendFlags) {
    int error = 0;
    if (const int direct = openInOneStep(path, flags, error); direct != -2) {
        if (direct < 0) {
            refused = systemError("open", path, error);
            return -1;
        }
        struct stat info {};
        if (fstat(direct, &info) == 0 && S_ISREG(info.st_mode)) return direct;
        close(direct);
        refused = Status::error(Status::Code::failed, "open", path, notRegular);
        return -1;
    }
    Place place;
    if (refused = place.find(path); !refused.ok()) return -1;
    int folder = AT_FDCWD;
    std::string name = path;
    if (!place.confined() && folderToo && path.find('/') != std::string::npos) {
        const std::string folderPath = folderOf(path);
        folder = open(folderPath.c_str(), folderFlags);
        if (folder < 0) {
            error = errno;
            refused = (error == ELOOP || error == ENOTDIR) && isSymbolicLink(folderPath)
                          ? Status::error(Status::Code::failed, "open", path, folderIsLink)
                          : systemError("open", path, error);
            return -1;
        }
        name = path.substr(path.rfind('/') + 1);
    }
    const int descriptor = place.confined() ? place.open(flags) : openat(folder, name.c_str(), flags, 0666);
    error = errno;
    if (folder != AT_FDCWD) close(folder);
    if (descriptor < 0) {
        refused = openRefusal(place, error);
        return -1;
    }
    struct stat info {};
    if (fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(descriptor);
        refused = Status::error(Status::Code::failed, "open", path, notRegular);
        return -1;
    }
    return descriptor;
}

FileVersion versionOf(const struct stat& info) {
    FileVersion version;
    version.volume = static_cast<std::uint64_t>(info.st_dev);
    version.file = static_cast<std::uint64_t>(info.st_ino);
    version.size = static_cast<std::uint64_t>(info.st_size);
    version.written = static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    version.changed = static_cast<std::int64_t>(info.st_ctim.tv_sec) * 1000000000 + info.st_ctim.tv_nsec;
    return version;
}

}  // namespace

std::string executablePath() {
    std::string buffer(4096, '\0');
    for (;;) {
        const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length < 0) return {};
        if (static_cast<std::size_t>(length) < buffer.size()) {
            buffer.resize(static_cast<std::size_t>(length));
            return buffer;
        }
        buffer.resize(buffer.size() * 2);
    }
}

void setDataRoots(std::vector<std::string> roots) {
    for (std::string& root : roots)
        while (root.size() > 1 && root.back() == '/') root.pop_back();
    std::erase(roots, std::string());
    dataRoots() = std::move(roots);
}

void walkFolderByFolder(bool walk) { walkOnly() = walk; }

Status fileVersion(const std::string& path, FileVersion& version) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) return systemError("stat", path, errno);
    version = versionOf(info);
    return {};
}

bool changedLately(const FileVersion& version) {
    // The coarsest clock of a file system in use, FAT's, ticks every two seconds.
    constexpr std::int64_t tick = 2000000000;
    timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    const std::int64_t moment = static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
    return std::max(version.written, version.changed) > moment - tick;
}

Status readRegularFile(const std::string& path, std::size_t limit, std::string& contents, bool& whole,
                       FileVersion& version) {
    contents.clear();
    whole = true;
    // Looked at before it is opened: opening a device may do something of its own.
    Place place;
    if (Status found = place.find(path); !found.ok()) return found;
    struct stat info {};
    if (place.look(info) != 0) return systemError("open", path, errno);
    if (S_ISLNK(info.st_mode)) return Status::error(Status::Code::failed, "open", path, isLink);
    if (S_ISDIR(info.st_mode)) return systemError("open", path, EISDIR);
    if (!S_ISREG(info.st_mode)) return Status::error(Status::Code::failed, "open", path, notRegular);
    const int descriptor = place.open(O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (descriptor < 0) return systemError("open", path, errno);
    // Another file may have taken the name's place meanwhile.
    if (fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(descriptor);
        return Status::error(Status::Code::failed, "open", path, notRegular);
    }
    version = versionOf(info);
    // Read straight into place, one byte beyond the limit to tell whether
    // there is more; a caller that reads again keeps the room.
    std::size_t size = 0;
    contents.resize(static_cast<std::size_t>(std::min<std::uint64_t>(limit, version.size)) + 1);
    for (;;) {
        if (size == contents.size()) {
            if (size > limit) break;
            contents.resize(std::min(limit, 2 * size) + 1);
        }
        const ssize_t count = read(descriptor, contents.data() + size, contents.size() - size);
        if (count == 0) break;
        if (count < 0) {
            if (errno == EINTR) continue;
            const int error = errno;
            close(descriptor);
            contents.clear();
            return systemError("read", path, error);
        }
        size += static_cast<std::size_t>(count);
    }
    close(descriptor);
    whole = size <= limit;
    contents.resize(std::min(size, limit));
    return {};
}

Status readFile(const std::string& path, std::string& contents) {
    bool whole = true;
    FileVersion version;
    return readRegularFile(path, static_cast<std::size_t>(-1) - 1, contents, whole, version);
}

namespace {

// The file appendToFile wrote last (the event log of the day), kept open.
struct KeptAppend {
    std::mutex lock;
    std::string path;
    int descriptor = -1;
    dev_t volume = 0;
    ino_t file = 0;
};

KeptAppend& keptAppend() {
    static KeptAppend kept;
    return kept;
}

}  // namespace

Status appendToFile(const std::string& path, std::string_view bytes) {
    KeptAppend& kept = keptAppend();
    const std::lock_guard<std::mutex> guard(kept.lock);
    if (kept.descriptor >= 0) {
        // Still the same regular file at the end of the same path?
        struct stat info {};
        if (kept.path != path || fstatat(AT_FDCWD, path.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(info.st_mode) || info.st_dev != kept.volume || info.st_ino != kept.file) {
            close(kept.descriptor);
            kept.descriptor = -1;
        }
    }
    if (kept.descriptor < 0) {
        Status refused;
        const int descriptor = openForAppending(path, false, refused);
        if (descriptor < 0) return refused;
        struct stat info {};
        if (Status stated = statOrClose(descriptor, path, "write", info); !stated.ok()) return stated;
        kept.path = path;
        kept.descriptor = descriptor;
        kept.volume = info.st_dev;
        kept.file = info.st_ino;
    }
    const int error = writeAll(kept.descriptor, bytes);
    if (error == 0) return {};
    close(kept.descriptor);
    kept.descriptor = -1;
    return systemError("write", path, error);
}

Status appendWithHeader(const std::string& path, std::string_view header, std::string_view bytes, AppendWatch* watch) {
    Status refused;
    const int descriptor = openForAppending(path, true, refused);
    if (descriptor < 0) return refused;
    struct stat info {};
    if (Status stated = statOrClose(descriptor, path, "open", info); !stated.ok()) return stated;
    if (watch != nullptr) {
        if (Status noted = watch->beforeAppend(path, static_cast<std::uint64_t>(info.st_size)); !noted.ok()) {
            close(descriptor);
            return noted;
        }
    }
    std::string whole;
    if (info.st_size == 0 && !header.empty()) {
        whole.reserve(header.size() + bytes.size());
        whole.append(header).append(bytes);
        bytes = whole;
    }
    int error = EIO;
    if (mayChange({FileStep::write, path, static_cast<std::uint64_t>(info.st_size), bytes}))
        error = writeAll(descriptor, bytes);
    if (error != 0) {
        const int restored = ftruncate(descriptor, info.st_size);
        static_cast<void>(restored);
    }
    error = closeAfter(descriptor, error);
    // A write that failed for want of a folder is no missing folder.
    return error == 0 ? Status() : systemError(Status::Code::failed, "write", path, error);
}

Status truncateFile(const std::string& path, std::uint64_t size, bool& cut) {
    cut = false;
    Status refused;
    const int descriptor =
        openForAppending(path, true, refused, O_WRONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    if (descriptor < 0) return refused;
    struct stat info {};
    int error = fstat(descriptor, &info) == 0 ? 0 : errno;
    if (error == 0 && static_cast<std::uint64_t>(info.st_size) > size) {
        if (!mayChange({FileStep::resize, path, size}))
            error = EIO;
        else if (ftruncate(descriptor, static_cast<off_t>(size)) != 0)
            error = errno;
        else
            cut = true;
    }
    error = closeAfter(descriptor, error);
    return error == 0 ? Status() : systemError(Status::Code::failed, "truncate", path, error);
}

Status createNewFile(const std::string& path, std::string_view bytes) {
    Place place;
    if (Status found = place.find(path); !found.ok()) return found;
    // A new file only: never a link's target, a device or a pipe.
    const int descriptor = place.open(O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW);
    if (descriptor < 0) return systemError("create", path, errno);
    const int error = closeAfter(descriptor, writeAll(descriptor, bytes));
    if (error == 0) return {};
    unlinkat(place.folder(), place.name(), 0);
    return systemError(Status::Code::failed, "write", path, error);
}

Status makeFolder(const std::string& path) {
    Place place;
    if (Status found = place.find(path); !found.ok()) return found;
    if (mkdirat(place.folder(), place.name(), 0777) == 0) return {};
    const int error = errno;
    struct stat info {};
    if (error == EEXIST && place.look(info) == 0 && S_ISDIR(info.st_mode)) return {};
    if (error == EEXIST && place.confined() && place.isLink())
        return Status::error(Status::Code::failed, "make folder", path, isLink);
    return systemError("make folder", path, error);
}

namespace {

// The folders below a data root one after another, each made when missing
// and none followed where it is a link.
Status makeFoldersBelow(const std::string& root, const std::vector<std::string>& names, const std::string& path) {
    if (std::find(names.begin(), names.end(), "..") != names.end())
        return Status::error(Status::Code::failed, "make folder", path, climbsOut);
    int folder = open(root.c_str(), wayFlags & ~O_NOFOLLOW);
    if (folder < 0) return systemError("make folder", root, errno);
    for (std::size_t index = 0; index < names.size(); ++index) {
        const char* name = names[index].c_str();
        int next = openat(folder, name, wayFlags);
        if (next < 0 && errno == ENOENT) {
            // Made meanwhile by someone else is as good as made here.
            if (mkdirat(folder, name, 0777) != 0 && errno != EEXIST) {
                const int error = errno;
                close(folder);
                return systemError("make folder", path, error);
            }
            next = openat(folder, name, wayFlags);
        }
        const int error = errno;
        const bool link = next < 0 && isLinkIn(folder, names[index]);
        close(folder);
        if (next < 0) {
            if (link) return Status::error(Status::Code::failed, "make folder", path, wayIsLink);
            return systemError(error == ENOTDIR ? Status::Code::exists : Status::Code::failed, "make folder", path,
                               error == ENOTDIR ? EEXIST : error);
        }
        folder = next;
    }
    close(folder);
    return {};
}

}  // namespace

Status makeFolderChain(const std::string& path) {
    if (path.empty()) return systemError("make folder", path, ENOENT);
    // Nearly always the whole chain is there already: one look settles it.
    if (isFolder(path)) return {};
    std::string root;
    std::vector<std::string> names;
    if (belowDataRoot(path, root, names)) {
        if (Status made = makeFolderChain(root); !made.ok()) return made;
        return makeFoldersBelow(root, names, path);
    }
    std::size_t position = 0;
    for (;;) {
        const std::size_t next = path.find('/', position);
        const std::size_t end = next == std::string::npos ? path.size() : next;
        if (end > 0 && end > position) {
            const std::string step = path.substr(0, end);
            if (!isFolder(step) && mkdir(step.c_str(), 0777) != 0) {
                const int error = errno;
                // Made meanwhile by someone else is as good as made here.
                if (error != EEXIST || !isFolder(step))
                    return systemError(error == EEXIST ? Status::Code::exists : Status::Code::failed, "make folder",
                                       step, error);
            }
        }
        if (next == std::string::npos) return {};
        position = next + 1;
    }
}

bool pathExists(const std::string& path) {
    Place place;
    // Beyond a link on the way something stands that is not to be made anew.
    if (Status found = place.find(path); !found.ok()) return !found.is(Status::Code::notFound);
    struct stat info {};
    return place.look(info, true) == 0;
}

bool isFolder(const std::string& path) {
    Place place;
    struct stat info {};
    return place.find(path).ok() && place.look(info) == 0 && S_ISDIR(info.st_mode);
}

Status listFolder(const std::string& path, std::vector<std::string>& names) {
    names.clear();
    Place place;
    if (Status found = place.find(path); !found.ok()) return found;
    const int descriptor = place.open(O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* folder = descriptor < 0 ? nullptr : fdopendir(descriptor);
    if (folder == nullptr) {
        const int error = errno;
        if (descriptor >= 0) close(descriptor);
        return systemError("list folder", path, error);
    }
    while (const dirent* entry = readdir(folder)) {
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..") names.emplace_back(name);
    }
    closedir(folder);
    return {};
}

// Every byte but the separator and NUL, which a datagram's text never
// carries, is a name's own here.
bool refusedInName(wchar_t) { return false; }
bool refusedAtEnd(wchar_t) { return false; }
bool reservedName(std::wstring_view) { return false; }

namespace {

std::string lockFileOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    return path.substr(0, nameStart) + ".~lock." + path.substr(nameStart) + "#";
}

// Any lock of another process stands in the way of writing.
bool lockedByAnotherProcess(const std::string& path) {
    Place place;
    if (!place.find(path).ok()) return false;
    const int descriptor = place.open(O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
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

bool lockForWriting(int descriptor) {
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    return fcntl(descriptor, F_SETLK, &lock) == 0;
}

// A rename is durable once the folder's entry is on disk too.
int syncFolder(const std::string& folder) {
    if (!mayChange({FileStep::flushFolder, folder})) return EIO;
    Place place;
    if (!place.find(folder).ok()) return ELOOP;
    const int descriptor = place.open(O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0) return errno;
    const int error = fsync(descriptor) == 0 ? 0 : errno;
    ::close(descriptor);
    return error;
}

// The changes a fault hook may stop: the errno of a refusal, or 0.
int createFile(const std::string& path, int flags, int& descriptor) {
    descriptor = -1;
    if (!mayChange({FileStep::create, path})) return EIO;
    Place place;
    if (!place.find(path).ok()) return ELOOP;
    descriptor = place.open(flags | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (descriptor < 0) return errno;
    // A link's target, a device or a pipe in the file's place is left alone.
    struct stat info {};
    if (place.confined() && (fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode))) {
        ::close(descriptor);
        descriptor = -1;
        return EINVAL;
    }
    return 0;
}

int writeBytesAt(int descriptor, const std::string& path, std::uint64_t offset, std::string_view bytes) {
    if (!mayChange({FileStep::write, path, offset, bytes})) return EIO;
    while (!bytes.empty()) {
        const ssize_t written = pwrite(descriptor, bytes.data(), bytes.size(), static_cast<off_t>(offset));
        if (written < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
        offset += static_cast<std::uint64_t>(written);
    }
    return 0;
}

int flushFile(int descriptor, const std::string& path) {
    if (!mayChange({FileStep::flush, path})) return EIO;
    return fsync(descriptor) == 0 ? 0 : errno;
}

}  // namespace

bool fileInUse(const std::string& path) { return pathExists(lockFileOf(path)) || lockedByAnotherProcess(path); }

Status writeFileDurably(const std::string& path, std::string_view bytes) {
    int descriptor = -1;
    int error = createFile(path, O_WRONLY | O_TRUNC, descriptor);
    if (error != 0) return systemError("create", path, error);
    error = writeBytesAt(descriptor, path, 0, bytes);
    if (error == 0) error = flushFile(descriptor, path);
    error = closeAfter(descriptor, error);
    if (error == 0) error = syncFolder(folderOf(path));
    return error == 0 ? Status() : systemError(Status::Code::failed, "write", path, error);
}

Status appendDurably(const std::string& path, std::string_view bytes) {
    Place place;
    if (Status found = place.find(path); !found.ok()) return found;
    int descriptor = place.open(O_WRONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    const bool made = descriptor < 0 && errno == ENOENT;
    int error = 0;
    if (made) error = createFile(path, O_WRONLY | O_EXCL, descriptor);
    else if (descriptor < 0)
        return openRefusal(place, errno);
    if (error != 0) return systemError("open", path, error);
    struct stat info {};
    if (fstat(descriptor, &info) != 0) error = errno;
    else if (!S_ISREG(info.st_mode)) {
        ::close(descriptor);
        return Status::error(Status::Code::failed, "open", path, notRegular);
    }
    if (error == 0) error = writeBytesAt(descriptor, path, static_cast<std::uint64_t>(info.st_size), bytes);
    if (error == 0) error = flushFile(descriptor, path);
    error = closeAfter(descriptor, error);
    if (error == 0 && made) error = syncFolder(folderOf(path));
    return error == 0 ? Status() : systemError(Status::Code::failed, "write", path, error);
}

Status removeFileDurably(const std::string& path) {
    Place place;
    if (Status found = place.find(path); !found.ok()) return found;
    struct stat info {};
    if (place.look(info, true) != 0) return systemError("remove", path, ENOENT);
    if (!mayChange({FileStep::remove, path})) return systemError(Status::Code::failed, "remove", path, EIO);
    if (unlinkat(place.folder(), place.name(), 0) != 0) return systemError("remove", path, errno);
    const int error = syncFolder(folderOf(path));
    return error == 0 ? Status() : systemError(Status::Code::failed, "remove", path, error);
}

Status fileStamp(const std::string& path, FileStamp& stamp) {
    Place place;
    if (Status found = place.find(path); !found.ok()) return found;
    struct stat info {};
    if (place.look(info) != 0) return systemError("stat", path, errno);
    if (S_ISLNK(info.st_mode)) return Status::error(Status::Code::failed, "stat", path, isLink);
    stamp.size = static_cast<std::uint64_t>(info.st_size);
    stamp.changed = static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    return {};
}

LockedFile::~LockedFile() { close(); }

Status LockedFile::open(const std::string& path) {
    close();
    path_ = path;
    Place place;
    if (Status found = place.find(path); !found.ok()) return found;
    descriptor_ = place.open(O_RDWR | O_CLOEXEC | (place.confined() ? O_NONBLOCK | O_NOCTTY : 0));
    if (descriptor_ < 0) return place.confined() ? openRefusal(place, errno) : systemError("open", path, errno);
    struct stat info {};
    if (fstat(descriptor_, &info) != 0 || !S_ISREG(info.st_mode)) {
        close();
        return systemError(Status::Code::failed, "open", path, S_ISDIR(info.st_mode) ? EISDIR : EINVAL);
    }
    if (!lockForWriting(descriptor_)) {
        const int error = errno;
        close();
        return systemError(error == EACCES || error == EAGAIN ? Status::Code::busy : Status::Code::failed, "lock",
                           path, error);
    }
    return {};
}

Status LockedFile::openOwn(const std::string& path) {
    close();
    path_ = path;
    Place place;
    if (Status found = place.find(path); !found.ok()) return found;
    descriptor_ = place.open(O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    if (descriptor_ < 0) return openRefusal(place, errno);
    struct stat info {};
    if (fstat(descriptor_, &info) != 0 || !S_ISREG(info.st_mode)) {
        close();
        return Status::error(Status::Code::failed, "open", path, notRegular);
    }
    if (!lockForWriting(descriptor_)) {
        const int error = errno;
        close();
        return systemError(error == EACCES || error == EAGAIN ? Status::Code::busy : Status::Code::failed, "lock", path,
                           error);
    }
    return {};
}

Status LockedFile::read(std::string& contents) {
    contents.clear();
    if (descriptor_ < 0) return {};
    struct stat info {};
    if (fstat(descriptor_, &info) != 0) return systemError("read", path_, errno);
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
            return systemError("read", path_, error);
        }
        size += static_cast<std::size_t>(count);
    }
    contents.resize(size);
    return {};
}

Status LockedFile::replace(std::initializer_list<std::string_view> pieces) {
    const std::string name = path_.substr(path_.rfind('/') + 1);
    const std::string folder = folderOf(path_);
    const std::string beside = (folder == "/" ? "" : folder) + "/." + name + "." + std::to_string(getpid()) + ".new";
    Place besidePlace, place;
    if (Status found = besidePlace.find(beside); !found.ok()) return found;
    if (Status found = place.find(path_); !found.ok()) return found;
    // A file of that name can only be left over from a crash of this same process id.
    unlinkat(besidePlace.folder(), besidePlace.name(), 0);
    // Opened for reading too: after the rename it is the file that is read.
    int fresh = -1;
    if (const int error = createFile(beside, O_RDWR | O_EXCL, fresh); error != 0)
        return systemError(Status::Code::failed, "create", beside, error);
    int error = lockForWriting(fresh) ? 0 : errno;
    // The new file keeps the old one's permissions.
    struct stat info {};
    if (error == 0 && descriptor_ >= 0 && fstat(descriptor_, &info) == 0 && fchmod(fresh, info.st_mode & 07777) != 0)
        error = errno;
    std::uint64_t offset = 0;
    for (const std::string_view piece : pieces) {
        if (error == 0) error = writeBytesAt(fresh, beside, offset, piece);
        offset += piece.size();
    }
    if (error == 0) error = flushFile(fresh, beside);
    if (error == 0 && !mayChange({FileStep::rename, beside, 0, {}, &path_})) error = EIO;
    if (error == 0 && renameat(besidePlace.folder(), besidePlace.name(), place.folder(), place.name()) != 0)
        error = errno;
    if (error != 0) {
        ::close(fresh);
        unlinkat(besidePlace.folder(), besidePlace.name(), 0);
        return systemError(Status::Code::failed, "write", path_, error);
    }
    // From here the new file is in place and locked; the old one may go.
    if (descriptor_ >= 0) ::close(descriptor_);
    descriptor_ = fresh;
    // The contents are safe already; only the name's move may not survive a power cut.
    static_cast<void>(syncFolder(folder));
    return {};
}

Status LockedFile::create(const std::string& path) {
    close();
    path_ = path;
    if (const int error = createFile(path, O_RDWR | O_EXCL, descriptor_); error != 0)
        return systemError("create", path, error);
    if (!lockForWriting(descriptor_)) {
        const int error = errno;
        close();
        return systemError(Status::Code::failed, "lock", path, error);
    }
    // The new name lasts only once its folder is on the disk.
    if (const int error = syncFolder(folderOf(path)); error != 0) {
        close();
        return systemError(Status::Code::failed, "create", path, error);
    }
    return {};
}

Status LockedFile::size(std::uint64_t& bytes) {
    struct stat info {};
    if (fstat(descriptor_, &info) != 0) return systemError("read", path_, errno);
    bytes = static_cast<std::uint64_t>(info.st_size);
    return {};
}

Status LockedFile::readAt(std::uint64_t offset, std::size_t count, std::string& bytes) {
    bytes.assign(count, '\0');
    std::size_t done = 0;
    while (done < count) {
        const ssize_t got = pread(descriptor_, bytes.data() + done, count - done, static_cast<off_t>(offset + done));
        if (got == 0) break;
        if (got < 0) {
            if (errno == EINTR) continue;
            const int error = errno;
            bytes.clear();
            return systemError("read", path_, error);
        }
        done += static_cast<std::size_t>(got);
    }
    bytes.resize(done);
    return {};
}

Status LockedFile::writeAt(std::uint64_t offset, std::string_view bytes) {
    const int error = writeBytesAt(descriptor_, path_, offset, bytes);
    return error == 0 ? Status() : systemError(Status::Code::failed, "write", path_, error);
}

Status LockedFile::resize(std::uint64_t size) {
    int error = mayChange({FileStep::resize, path_, size}) ? 0 : EIO;
    if (error == 0 && ftruncate(descriptor_, static_cast<off_t>(size)) != 0) error = errno;
    return error == 0 ? Status() : systemError(Status::Code::failed, "write", path_, error);
}

Status LockedFile::flush() {
    const int error = flushFile(descriptor_, path_);
    return error == 0 ? Status() : systemError(Status::Code::failed, "write", path_, error);
}

Status LockedFile::flushData() {
    int error = mayChange({FileStep::flush, path_}) ? 0 : EIO;
    if (error == 0 && fdatasync(descriptor_) != 0) error = errno;
    return error == 0 ? Status() : systemError(Status::Code::failed, "write", path_, error);
}

void LockedFile::close() {
    if (descriptor_ >= 0) ::close(descriptor_);
    descriptor_ = -1;
}

namespace {

// Files not appended to for this many rounds are closed: yesterday's files
// go within minutes of midnight, and a burst's thousand rounds still keep
// today's open.
constexpr unsigned idleRoundsKept = 4096;
// More files than switches ever send to in a day are not kept open at once.
constexpr std::size_t mostKeptFiles = 128;

}  // namespace

AppendingFiles::~AppendingFiles() { closeAll(); }

Status AppendingFiles::append(const std::string& path, std::string_view header, std::string_view bytes,
                              AppendWatch* watch, std::uint64_t& sizeAfter) {
    auto kept = std::find_if(kept_.begin(), kept_.end(), [&](const auto& each) { return each.first == path; });
    if (kept != kept_.end() && !kept->second.looked) {
        // Still the same regular file at the end of the same path, not a link put in its place?
        struct stat info {};
        if (fstatat(AT_FDCWD, path.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(info.st_mode) &&
            static_cast<std::uint64_t>(info.st_dev) == kept->second.volume &&
            static_cast<std::uint64_t>(info.st_ino) == kept->second.file) {
            kept->second.size = static_cast<std::uint64_t>(info.st_size);
            kept->second.looked = true;
        } else {
            ::close(static_cast<int>(kept->second.handle));
            kept_.erase(kept);
            kept = kept_.end();
        }
    }
    if (kept == kept_.end()) {
        Status refused;
        const int descriptor = openForAppending(path, true, refused);
        if (descriptor < 0) return refused;
        struct stat info {};
        if (Status stated = statOrClose(descriptor, path, "open", info); !stated.ok()) return stated;
        if (kept_.size() >= mostKeptFiles) {
            const auto idlest = std::max_element(kept_.begin(), kept_.end(), [](const auto& a, const auto& b) {
                return a.second.idleRounds < b.second.idleRounds;
            });
            ::close(static_cast<int>(idlest->second.handle));
            kept_.erase(idlest);
        }
        Kept opened;
        opened.handle = descriptor;
        opened.volume = static_cast<std::uint64_t>(info.st_dev);
        opened.file = static_cast<std::uint64_t>(info.st_ino);
        opened.size = static_cast<std::uint64_t>(info.st_size);
        opened.looked = true;
        kept_.emplace_back(path, opened);
        kept = kept_.end() - 1;
    }
    Kept& file = kept->second;
    file.idleRounds = 0;
    if (watch != nullptr)
        if (Status noted = watch->beforeAppend(path, file.size); !noted.ok()) return noted;
    std::string whole;
    if (file.size == 0 && !header.empty()) {
        whole.reserve(header.size() + bytes.size());
        whole.append(header).append(bytes);
        bytes = whole;
    }
    const int descriptor = static_cast<int>(file.handle);
    int error = EIO;
    if (mayChange({FileStep::write, path, file.size, bytes})) error = writeAll(descriptor, bytes);
    if (error != 0) {
        // Never half a line; the file is looked at anew before the next append.
        const int restored = ftruncate(descriptor, static_cast<off_t>(file.size));
        static_cast<void>(restored);
        ::close(descriptor);
        kept_.erase(kept);
        return systemError(Status::Code::failed, "write", path, error);
    }
    file.size += bytes.size();
    sizeAfter = file.size;
    return {};
}

Status AppendingFiles::sync(const std::string& path) {
    const auto kept = std::find_if(kept_.begin(), kept_.end(), [&](const auto& each) { return each.first == path; });
    int error = mayChange({FileStep::flush, path}) ? 0 : EIO;
    if (error == 0 && kept != kept_.end()) {
        if (fdatasync(static_cast<int>(kept->second.handle)) != 0) error = errno;
    } else if (error == 0) {
        const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
        if (descriptor < 0) return systemError(Status::Code::failed, "write", path, errno);
        error = closeAfter(descriptor, fdatasync(descriptor) == 0 ? 0 : errno);
    }
    return error == 0 ? Status() : systemError(Status::Code::failed, "write", path, error);
}

void AppendingFiles::nextRound() {
    for (auto kept = kept_.begin(); kept != kept_.end();) {
        kept->second.looked = false;
        if (++kept->second.idleRounds > idleRoundsKept) {
            ::close(static_cast<int>(kept->second.handle));
            kept = kept_.erase(kept);
        } else {
            ++kept;
        }
    }
}

void AppendingFiles::forget(const std::string& path) {
    const auto kept = std::find_if(kept_.begin(), kept_.end(), [&](const auto& each) { return each.first == path; });
    if (kept == kept_.end()) return;
    ::close(static_cast<int>(kept->second.handle));
    kept_.erase(kept);
}

void AppendingFiles::closeAll() {
    for (const auto& [path, kept] : kept_) ::close(static_cast<int>(kept.handle));
    kept_.clear();
}

Status flushFolder(const std::string& path) {
    const int error = syncFolder(path);
    return error == 0 ? Status() : systemError(Status::Code::failed, "write", path, error);
}

}  // namespace quelvar::platform
