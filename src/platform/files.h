#pragma once
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

// Files and folders. Paths cross the seam in the 8-bit code page of file
// names (UTF-8 on Linux, the ANSI code page on Windows).
namespace quelvar::platform {

#ifdef _WIN32
inline constexpr char pathSeparator = '\\';
#else
inline constexpr char pathSeparator = '/';
#endif

// Full path of the running executable as the file system spells it, or
// empty text when it cannot be fetched or the code page cannot show it.
std::string executablePath();

// The whole file; notFound when there is none.
[[nodiscard]] Status readFile(const std::string& path, std::string& contents);

// Opens the file for appending (creating it when missing), writes the bytes
// and closes it again. notFound when a folder of the path is missing.
[[nodiscard]] Status appendToFile(const std::string& path, std::string_view bytes);

// The same, putting `header` first when the file is empty at that moment;
// header and bytes go out in one write. A write cut short (a full disk) is
// taken back, so that the file never holds half a line.
[[nodiscard]] Status appendWithHeader(const std::string& path, std::string_view header, std::string_view bytes);

// Creates a file that must not exist yet with the bytes in it. A file that
// cannot be written whole is removed again.
[[nodiscard]] Status createNewFile(const std::string& path, std::string_view bytes);

// One folder whose parent must exist; a folder that is there already is
// fine.
[[nodiscard]] Status makeFolder(const std::string& path);
// Every folder along the path, from the root down. `exists` when a name on
// the way exists but is no folder.
[[nodiscard]] Status makeFolderChain(const std::string& path);
bool pathExists(const std::string& path);
bool isFolder(const std::string& path);
// Names of a folder's entries, without "." and "..".
[[nodiscard]] Status listFolder(const std::string& path, std::vector<std::string>& names);

// What this system's file systems refuse in a name taken from a datagram,
// beyond the separators, so that such a name can be made safe: a character
// no name may hold, one a name may not end in (it would be dropped), and a
// name the system keeps for a device.
bool refusedInName(wchar_t c);
bool refusedAtEnd(wchar_t c);
bool reservedName(std::wstring_view name);

// Whether another program has the file open for editing: on Windows it
// cannot be opened without sharing; elsewhere an office suite's lock file
// ".~lock.<name>#" lies beside it, or another process holds a record lock on
// it. A missing file is in nobody's use.
bool fileInUse(const std::string& path);

// Files that must survive a power cut as they were left: each of these
// returns once the change is on the disk, the file's name included. Their
// changes, and LockedFile's, pass a test's fault hook (file_faults.h).

// The file whole, made anew or over an old one of that name.
[[nodiscard]] Status writeFileDurably(const std::string& path, std::string_view bytes);
// The bytes at the end of the file, which is made when it is missing.
[[nodiscard]] Status appendDurably(const std::string& path, std::string_view bytes);
// Removes the file; notFound when there is none.
[[nodiscard]] Status removeFileDurably(const std::string& path);

// The size of a file and the time of its last change: a file whose stamp
// is the same has not been written meanwhile.
struct FileStamp {
    std::uint64_t size = 0;
    std::int64_t changed = 0;
    friend bool operator==(const FileStamp&, const FileStamp&) = default;
};
[[nodiscard]] Status fileStamp(const std::string& path, FileStamp& stamp);

// A file held under this process's write lock from open() until close() or
// the object's end. Its contents are replaced whole: written beside it,
// flushed and renamed over it, so that a reader or a crash sees the old file
// or the new one.
class LockedFile {
public:
    LockedFile() = default;
    ~LockedFile();
    LockedFile(const LockedFile&) = delete;
    LockedFile& operator=(const LockedFile&) = delete;

    // Opens the file for reading and writing and locks it without waiting:
    // notFound when there is no such file yet (replace() creates it), busy
    // when another process holds it.
    [[nodiscard]] Status open(const std::string& path);
    // The whole file, read through the locked handle.
    [[nodiscard]] Status read(std::string& contents);
    // The new contents, given in pieces, in place of the old (or of nothing
    // after notFound). On failure the old file is as it was.
    [[nodiscard]] Status replace(std::initializer_list<std::string_view> pieces);
    void close();

    // Changing the file where it lies, for a caller that keeps its own
    // journal to undo a change cut short. create() makes a new file and holds
    // it (exists when there is one); readAt() gives fewer bytes where the
    // file ends; writeAt() lengthens the file where it writes past its end;
    // flush() returns once everything written is on the disk.
    [[nodiscard]] Status create(const std::string& path);
    [[nodiscard]] Status size(std::uint64_t& bytes);
    [[nodiscard]] Status readAt(std::uint64_t offset, std::size_t count, std::string& bytes);
    [[nodiscard]] Status writeAt(std::uint64_t offset, std::string_view bytes);
    [[nodiscard]] Status resize(std::uint64_t size);
    [[nodiscard]] Status flush();

private:
    std::string path_;
    int descriptor_ = -1;
};

}  // namespace quelvar::platform
