#pragma once
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
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

// The folders whose contents are the collector's own: the data root and the
// program's rec. Below them no file or folder is ever reached through a
// symbolic link (on Windows a link or junction): each is found folder by
// folder from its root, and a path that climbs out with ".." is refused.
// The roots themselves may be links an administrator made. Start-up names
// them before it opens anything below them; every function here keeps to
// them, and a path below none is opened as it always was.
void setDataRoots(std::vector<std::string> roots);

// For tests: finds each file by opening one folder after another, as on a
// kernel without openat2 (POSIX; nothing elsewhere).
void walkFolderByFolder(bool walk);

// Full path of the running executable as the file system spells it, or
// empty text when it cannot be fetched or the code page cannot show it.
std::string executablePath();

// Which file a path leads to, and how it stands: the file itself (its
// device and inode; on Windows its volume and file index), its size, the
// time its contents were last written and the time anything of it last
// changed (in the system's own units: compare versions only with each
// other). A file whose version is the same was not changed meanwhile, but
// for a change within the same tick of its file system's clock: see
// changedLately.
struct FileVersion {
    std::uint64_t volume = 0;
    std::uint64_t file = 0;
    std::uint64_t size = 0;
    std::int64_t written = 0;
    std::int64_t changed = 0;
    friend bool operator==(const FileVersion&, const FileVersion&) = default;
};

// The version of the file the path leads to, links followed.
[[nodiscard]] Status fileVersion(const std::string& path, FileVersion& version);

// Whether the version changed so lately (or is stamped ahead of the clock)
// that a further change could still carry the same stamps: then only
// reading the file again tells whether it changed.
bool changedLately(const FileVersion& version);

// At most the first `limit` bytes of a regular file, links followed;
// `whole` says whether the file ends there. Anything else (a pipe, a device,
// a folder) is refused without being read or waited for. `version` is the
// file's as it was opened.
[[nodiscard]] Status readRegularFile(const std::string& path, std::size_t limit, std::string& contents, bool& whole,
                                     FileVersion& version);

// The whole file, which must be a regular one (see readRegularFile);
// notFound when there is none.
[[nodiscard]] Status readFile(const std::string& path, std::string& contents);

// Opens the file for appending (creating it when missing) and writes the
// bytes. Where an open file can still be moved or removed (not on
// Windows), the file written last stays open while its path still leads to
// it (one look at the path before each write), so that a log written line
// by line is not opened for each line. notFound when a folder of the path is missing. A
// symbolic link in the file's place (on Windows any link or junction) is
// never followed, and a file that is no regular file never written to: both
// are refused as a file that cannot be opened.
[[nodiscard]] Status appendToFile(const std::string& path, std::string_view bytes);

// Told of each append before its bytes go out: the file and its size then.
// A failure it gives is the append's, which is then not made.
class AppendWatch {
public:
    [[nodiscard]] virtual Status beforeAppend(const std::string& path, std::uint64_t sizeBefore) = 0;

protected:
    ~AppendWatch() = default;
};

// The same, putting `header` first when the file is empty at that moment;
// header and bytes go out in one write. A write cut short (a full disk) is
// taken back, so that the file never holds half a line. A link in the place
// of the file's folder is refused too. The write passes a test's fault hook
// (file_faults.h).
[[nodiscard]] Status appendWithHeader(const std::string& path, std::string_view header, std::string_view bytes,
                                      AppendWatch* watch = nullptr);

// Files appended to again and again, each kept open while its path still
// leads to it: one look at the path before the first append of a round
// (see nextRound) tells whether the file is still there and the same, and
// gives its size, so that a file an operator moved or removed is opened
// anew. Opening refuses what appendWithHeader refuses. The owner decides
// when the bytes go to the disk (sync).
class AppendingFiles {
public:
    AppendingFiles() = default;
    ~AppendingFiles();
    AppendingFiles(const AppendingFiles&) = delete;
    AppendingFiles& operator=(const AppendingFiles&) = delete;

    // As appendWithHeader; `sizeAfter` is the file's size once the bytes are in.
    [[nodiscard]] Status append(const std::string& path, std::string_view header, std::string_view bytes,
                                AppendWatch* watch, std::uint64_t& sizeAfter);
    // Returns once the file's written bytes are on the disk. Passes the
    // fault hook as a flush.
    [[nodiscard]] Status sync(const std::string& path);
    // From here each file is looked at again before its next append; files
    // not appended to in the rounds since the last call are closed.
    void nextRound();
    // Closes the file, for a change made to it by other means (a cut).
    void forget(const std::string& path);
    void closeAll();

private:
    struct Kept {
        std::intptr_t handle = -1;
        std::uint64_t volume = 0;
        std::uint64_t file = 0;
        std::uint64_t size = 0;
        bool looked = false;
        unsigned idleRounds = 0;
    };
    std::vector<std::pair<std::string, Kept>> kept_;
};

// Returns once the folder's names are on the disk (nothing to do where the
// system keeps them so by itself). Passes the fault hook as flushFolder.
[[nodiscard]] Status flushFolder(const std::string& path);

// Cuts a file back to `size` bytes when it is longer; `cut` says whether it
// was. Never through a link in its place or its folder's, never anything but
// a regular file; notFound when there is no such file. The cut passes a
// test's fault hook.
[[nodiscard]] Status truncateFile(const std::string& path, std::uint64_t size, bool& cut);

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
    // The same for a file of the process's own: made empty when missing,
    // never opened through a link in its place, refused when it is no
    // regular file.
    [[nodiscard]] Status openOwn(const std::string& path);
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
    // The same for the contents alone, where the system can tell them apart
    // from the file's times.
    [[nodiscard]] Status flushData();

private:
    std::string path_;
    int descriptor_ = -1;
};

}  // namespace quelvar::platform
