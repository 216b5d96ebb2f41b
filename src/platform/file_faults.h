#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>

// A test's hand on the changes this process makes to files through
// LockedFile and the durable-file functions (files.h). The hook sees each
// change before it is made and lets it go ahead, fail, or "crash": then
// that change and every later one are not made, as if the process had ended
// there, and each reports failure. Without a hook every change goes ahead.
namespace quelvar::platform {

enum class FileStep : std::uint8_t {
    create,       // a new, empty file (made anew over an old one of that name too)
    write,        // bytes at an offset
    resize,       // the file cut or lengthened to `offset` bytes
    flush,        // the file's contents put on the disk
    flushFolder,  // the names in the folder `path` put on the disk
    rename,       // `path` moved over `*target`
    remove,       // the name removed
};

struct FileChange {
    FileChange(FileStep what, const std::string& where, std::uint64_t at = 0, std::string_view written = {},
               const std::string* to = nullptr)
        : step(what), path(where), offset(at), bytes(written), target(to) {}

    FileStep step;
    const std::string& path;
    std::uint64_t offset;
    std::string_view bytes;
    const std::string* target;
};

enum class FaultAction : std::uint8_t { proceed, fail, crash };

using FaultHook = std::function<FaultAction(const FileChange&)>;

namespace fault_detail {
inline FaultHook& hook() {
    static FaultHook installed;
    return installed;
}
inline bool& crashed() {
    static bool value = false;
    return value;
}
}  // namespace fault_detail

// Puts a hook in place (an empty one: none) and forgets an earlier crash.
inline void setFaultHook(FaultHook hook) {
    fault_detail::hook() = std::move(hook);
    fault_detail::crashed() = false;
}

// For the implementations, before each change: whether to make it.
inline bool mayChange(const FileChange& change) {
    if (fault_detail::crashed()) return false;
    if (!fault_detail::hook()) return true;
    switch (fault_detail::hook()(change)) {
        case FaultAction::proceed: return true;
        case FaultAction::crash: fault_detail::crashed() = true; return false;
        case FaultAction::fail: return false;
    }
    return false;
}

}  // namespace quelvar::platform
