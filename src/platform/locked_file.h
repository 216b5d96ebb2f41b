#pragma once
#include <initializer_list>
#include <string>
#include <string_view>

namespace quelvar::platform {

enum class LockResult {
    ok,       // open, and locked against other writers
    missing,  // there is no such file yet; replace() creates it
    held,     // another process holds a lock on it
    failed,   // lastErrorText() says why
};

// A file held under this process's write lock (a POSIX record lock, which
// office suites honour) from open() until close() or the object's end. Its
// contents are replaced whole: written beside it, flushed and renamed over
// it, so that a reader or a crash sees the old file or the new one.
class LockedFile {
public:
    LockedFile() = default;
    ~LockedFile();
    LockedFile(const LockedFile&) = delete;
    LockedFile& operator=(const LockedFile&) = delete;

    // Opens the file for reading and writing and locks it without waiting.
    LockResult open(const std::string& path);
    // The whole file, read through the locked descriptor.
    bool read(std::string& contents);
    // The new contents, given in pieces, in place of the old, or of nothing
    // after `missing`. On failure the old file is as it was.
    bool replace(std::initializer_list<std::string_view> pieces);
    bool replace(std::string_view contents) { return replace({contents}); }
    void close();

private:
    std::string path_;
    int descriptor_ = -1;
};

}  // namespace quelvar::platform
