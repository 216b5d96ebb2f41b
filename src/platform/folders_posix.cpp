#include "platform/folders.h"

#include "platform/error_posix.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>

namespace quelvar::platform {

bool makeFolder(const std::string& path) {
    if (mkdir(path.c_str(), 0777) == 0) return true;
    const int error = errno;
    if (error == EEXIST && isFolder(path)) return true;
    return rememberError(error);
}

FolderResult makeFolderChain(const std::string& path) {
    if (path.empty()) {
        rememberError(ENOENT);
        return FolderResult::failed;
    }
    // Nearly always the whole chain is there already: one look settles it.
    if (isFolder(path)) return FolderResult::ok;
    std::size_t position = 0;
    for (;;) {
        const std::size_t next = path.find('/', position);
        const std::size_t end = next == std::string::npos ? path.size() : next;
        if (end > 0 && end > position) {
            const std::string step = path.substr(0, end);
            if (!isFolder(step)) {
                if (mkdir(step.c_str(), 0777) != 0) {
                    const int error = errno;
                    if (error != EEXIST || !isFolder(step)) {
                        rememberError(error);
                        return error == EEXIST ? FolderResult::alreadyExists : FolderResult::failed;
                    }
                }
            }
        }
        if (next == std::string::npos) return FolderResult::ok;
        position = next + 1;
    }
}

bool pathExists(const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0;
}

bool isFolder(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool listFolder(const std::string& path, std::vector<std::string>& names) {
    names.clear();
    DIR* folder = opendir(path.c_str());
    if (folder == nullptr) return rememberError(errno);
    while (const dirent* entry = readdir(folder)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    closedir(folder);
    return true;
}

}  // namespace quelvar::platform
