#include "platform/files.h"

#include <io.h>

#include <algorithm>
#include <cstdint>
#include <cwctype>
#include <vector>

#include "platform/file_faults.h"
#include "platform/win32/system_error.h"

namespace quelvar::platform {

Status::Code codeOf(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND: case ERROR_PATH_NOT_FOUND: return Status::Code::notFound;
        case ERROR_ALREADY_EXISTS: case ERROR_FILE_EXISTS: return Status::Code::exists;
        case ERROR_SHARING_VIOLATION: case ERROR_LOCK_VIOLATION: case WSAEADDRINUSE: return Status::Code::busy;
        default: return Status::Code::failed;
    }
}

std::string errorText(DWORD error) {
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
        reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring message(text != nullptr ? text : L"", length);
    LocalFree(text);
    // A log line carries the system's text inside a line of its own.
    while (!message.empty() && (message.back() == L'\r' || message.back() == L'\n' || message.back() == L' ' ||
                                message.back() == L'.'))
        message.pop_back();
    if (message.empty()) return "error " + std::to_string(error);
    return wideToAnsi(message);
}

DWORD writeAll(HANDLE file, std::string_view bytes) {
    while (!bytes.empty()) {
        const DWORD chunk = bytes.size() > 0x40000000 ? 0x40000000 : static_cast<DWORD>(bytes.size());
        DWORD written = 0;
        if (!WriteFile(file, bytes.data(), chunk, &written, nullptr)) return GetLastError();
        if (written == 0) return ERROR_WRITE_FAULT;
        bytes.remove_prefix(written);
    }
    return 0;
}

namespace {

// Others may read, append to, move or delete a file between two of our
// writes, as they may on other systems.
constexpr DWORD shareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

HANDLE openFile(const std::string& path, DWORD access, DWORD disposition) {
    return CreateFileW(widePath(path).c_str(), access, shareAll, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
}

// The first error of writing and closing, or 0.
DWORD closeAfter(HANDLE file, DWORD error) {
    if (!CloseHandle(file) && error == 0) return GetLastError();
    return error;
}

// The words of the refusals every system gives alike.
constexpr const char* notRegular = "Not a regular file";
constexpr const char* isLink = "A symbolic link, which is not followed";
constexpr const char* folderIsLink = "Its folder is a symbolic link, which is not followed";

// What a handle opened on a reparse point itself stands for: a link or a
// junction names another file; other reparse points (a deduplicated file, a
// file of a cloud drive) are the file itself.
enum class Reparse { none, link, other };

Reparse reparseOf(HANDLE file) {
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!GetFileInformationByHandleEx(file, FileAttributeTagInfo, &tag, sizeof tag) ||
        (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
        return Reparse::none;
    return IsReparseTagNameSurrogate(tag.ReparseTag) ? Reparse::link : Reparse::other;
}

constexpr const char* wayIsLink = "A folder on its way is a symbolic link, which is not followed";
constexpr const char* climbsOut = "It leads out of its folder with \"..\", which is not followed";

// The data roots, without a trailing separator (setDataRoots).
std::vector<std::wstring>& dataRoots() {
    static std::vector<std::wstring> roots;
    return roots;
}

bool isPathSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// Whether the name itself (not what it leads to) is a link or a junction.
bool isLinkName(const std::wstring& path) {
    const HANDLE file = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, shareAll, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const bool link = reparseOf(file) == Reparse::link;
    CloseHandle(file);
    return link;
}

// For a path below a data root, every folder from the root down to the
// path's own, each held without leave to delete or rename it, so that no
// link takes its place until the file is open: refused where one is a link
// or a junction, or where the path climbs out with "..". Nothing for a path
// below no data root.
class HeldWay {
public:
    HeldWay() = default;
    ~HeldWay() {
        for (const HANDLE folder : folders_) CloseHandle(folder);
    }
    HeldWay(const HeldWay&) = delete;
    HeldWay& operator=(const HeldWay&) = delete;

    [[nodiscard]] Status hold(const std::string& path) {
        const std::wstring wide = widePath(path);
        std::size_t best = 0;
        bool below = false;
        for (const std::wstring& root : dataRoots()) {
            if (wide.size() > root.size() && wide.compare(0, root.size(), root) == 0 &&
                isPathSeparator(wide[root.size()]) && root.size() >= best) {
                best = root.size();
                below = true;
            }
        }
        if (!below) return {};
        confined_ = true;
        std::vector<std::size_t> ends;
        for (std::size_t position = best + 1; position <= wide.size(); ++position) {
            if (position < wide.size() && !isPathSeparator(wide[position])) continue;
            const std::size_t start = wide.find_last_of(L"\\/", position - 1) + 1;
            const std::wstring name = wide.substr(start, position - start);
            if (name == L"..") return Status::error(Status::Code::failed, "open", path, climbsOut);
            if (!name.empty() && name != L".") ends.push_back(position);
        }
        // The last name is the file's own.
        for (std::size_t index = 0; index + 1 < ends.size(); ++index) {
            const std::wstring folder = wide.substr(0, ends[index]);
            const HANDLE held =
                CreateFileW(folder.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
            if (held == INVALID_HANDLE_VALUE) return systemError("open", path, GetLastError());
            folders_.push_back(held);
            if (reparseOf(held) == Reparse::link)
                return Status::error(Status::Code::failed, "open", path,
                                     index + 2 == ends.size() ? folderIsLink : wayIsLink);
        }
        return {};
    }
    bool confined() const { return confined_; }

private:
    std::vector<HANDLE> folders_;
    bool confined_ = false;
};

// Below a data root: the way held, and the name itself no link.
Status holdWayTo(const std::string& path, HeldWay& way) {
    if (Status held = way.hold(path); !held.ok()) return held;
    if (way.confined() && isLinkName(widePath(path))) return Status::error(Status::Code::failed, "open", path, isLink);
    return {};
}

// Opens a file to append to where it lies: not through a link in its place,
// nor, with `folderToo`, in the place of its folder; never a file that is
// no file on a disk. The handle, or INVALID_HANDLE_VALUE with the reason in
// `refused`.
HANDLE openForAppending(const std::string& path, DWORD access, bool folderToo, Status& refused,
                        DWORD disposition = OPEN_ALWAYS) {
    HeldWay way;
    if (refused = way.hold(path); !refused.ok()) return INVALID_HANDLE_VALUE;
    const std::wstring wide = widePath(path);
    HANDLE folder = INVALID_HANDLE_VALUE;
    const std::size_t cut = wide.find_last_of(L"\\/");
    if (folderToo && cut != std::wstring::npos && cut > 0) {
        std::wstring folderPath = wide.substr(0, cut);
        if (folderPath.back() == L':') folderPath += L'\\';
        // Held without leave to delete or rename it until the file is open,
        // so that no link takes its place meanwhile. A folder that cannot be
        // opened is left to the file's own open to tell about.
        folder = CreateFileW(folderPath.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (folder != INVALID_HANDLE_VALUE && reparseOf(folder) == Reparse::link) {
            CloseHandle(folder);
            refused = Status::error(Status::Code::failed, "open", path, folderIsLink);
            return INVALID_HANDLE_VALUE;
        }
    }
    const auto open = [&](DWORD flags) {
        return CreateFileW(wide.c_str(), access | FILE_READ_ATTRIBUTES, shareAll, nullptr, disposition,
                           FILE_ATTRIBUTE_NORMAL | flags, nullptr);
    };
    HANDLE file = open(FILE_FLAG_OPEN_REPARSE_POINT);
    const Reparse reparse = file == INVALID_HANDLE_VALUE ? Reparse::none : reparseOf(file);
    if (reparse == Reparse::other) {
        CloseHandle(file);
        file = open(0);
    }
    const DWORD error = GetLastError();
    if (folder != INVALID_HANDLE_VALUE) CloseHandle(folder);
    if (file == INVALID_HANDLE_VALUE) {
        refused = systemError("open", path, error);
        return INVALID_HANDLE_VALUE;
    }
    if (reparse == Reparse::link || GetFileType(file) != FILE_TYPE_DISK) {
        CloseHandle(file);
        refused = Status::error(Status::Code::failed, "open", path, reparse == Reparse::link ? isLink : notRegular);
        return INVALID_HANDLE_VALUE;
    }
    return file;
}

FileVersion versionOf(HANDLE file, const BY_HANDLE_FILE_INFORMATION& info) {
    const auto time = [](const FILETIME& at) {
        return static_cast<std::int64_t>(static_cast<std::uint64_t>(at.dwHighDateTime) << 32 | at.dwLowDateTime);
    };
    FileVersion version;
    version.volume = info.dwVolumeSerialNumber;
    version.file = static_cast<std::uint64_t>(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
    version.size = static_cast<std::uint64_t>(info.nFileSizeHigh) << 32 | info.nFileSizeLow;
    version.written = time(info.ftLastWriteTime);
    // The change of anything of it, which no program can set back.
    FILE_BASIC_INFO basic{};
    version.changed = GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic)
                          ? static_cast<std::int64_t>(basic.ChangeTime.QuadPart)
                          : version.written;
    return version;
}

bool isSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// Where the folders of a path begin: after "C:\", "\\server\share\" or
// "\\?\C:\"; none of these can be made.
std::size_t rootLength(const std::wstring& path) {
    std::size_t position = 0;
    if (path.starts_with(L"\\\\?\\") || path.starts_with(L"\\\\.\\")) position = 4;
    if (position == 0 && path.size() >= 2 && isSeparator(path[0]) && isSeparator(path[1])) {
        // The server and the share.
        position = 2;
        for (int part = 0; part < 2 && position < path.size(); ++part) {
            while (position < path.size() && !isSeparator(path[position])) ++position;
            if (position < path.size()) ++position;
        }
        return position;
    }
    if (path.size() >= position + 2 && path[position + 1] == L':') position += 2;
    while (position < path.size() && isSeparator(path[position])) ++position;
    return position;
}

bool isFolderWide(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::wstring moduleFileName() {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return {};
        // A path that filled the buffer may have been cut.
        if (length < buffer.size()) {
            buffer.resize(length);
            return buffer;
        }
        buffer.resize(buffer.size() * 2);
    }
}

}  // namespace

void setDataRoots(std::vector<std::string> roots) {
    std::vector<std::wstring> wide;
    for (const std::string& root : roots) {
        std::wstring each = widePath(root);
        while (each.size() > 1 && isPathSeparator(each.back())) each.pop_back();
        if (!each.empty()) wide.push_back(std::move(each));
    }
    dataRoots() = std::move(wide);
}

void walkFolderByFolder(bool) {}

std::string executablePath() {
    const std::wstring path = moduleFileName();
    // A folder whose name the ANSI code page cannot show would come back as
    // another folder, or none: better no folder at all.
    const std::string ansi = wideToAnsi(path);
    if (ansiToWide(ansi) != path) return {};
    return ansi;
}

Status fileVersion(const std::string& path, FileVersion& version) {
    const HANDLE file = CreateFileW(widePath(path).c_str(), FILE_READ_ATTRIBUTES, shareAll, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return systemError("stat", path, GetLastError());
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = GetFileInformationByHandle(file, &info);
    const DWORD error = GetLastError();
    if (known) version = versionOf(file, info);
    CloseHandle(file);
    return known ? Status() : systemError("stat", path, error);
}

bool changedLately(const FileVersion& version) {
    // The coarsest clock of a file system in use, FAT's, ticks every two
    // seconds; file times count 100 ns.
    constexpr std::int64_t tick = 20000000;
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    const std::int64_t moment =
        static_cast<std::int64_t>(static_cast<std::uint64_t>(now.dwHighDateTime) << 32 | now.dwLowDateTime);
    return std::max(version.written, version.changed) > moment - tick;
}

Status readRegularFile(const std::string& path, std::size_t limit, std::string& contents, bool& whole,
                       FileVersion& version) {
    contents.clear();
    whole = true;
    HeldWay way;
    if (Status held = holdWayTo(path, way); !held.ok()) return held;
    const std::wstring wide = widePath(path);
    // A folder cannot be opened as a file.
    const HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ, shareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                    nullptr);
    if (file == INVALID_HANDLE_VALUE) return systemError("open", path, GetLastError());
    // Another file may have taken the name's place meanwhile.
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        CloseHandle(file);
        return Status::error(Status::Code::failed, "open", path, notRegular);
    }
    version = versionOf(file, info);
    // Read straight into place, one byte beyond the limit to tell whether
    // there is more; a caller that reads again keeps the room.
    std::size_t size = 0;
    contents.resize(static_cast<std::size_t>(std::min<std::uint64_t>(limit, version.size)) + 1);
    for (;;) {
        if (size == contents.size()) {
            if (size > limit) break;
            contents.resize(std::min(limit, 2 * size) + 1);
        }
        const std::size_t room = contents.size() - size;
        DWORD count = 0;
        if (!ReadFile(file, contents.data() + size, room > 0x40000000 ? 0x40000000 : static_cast<DWORD>(room), &count,
                      nullptr)) {
            const DWORD error = GetLastError();
            CloseHandle(file);
            contents.clear();
            return systemError("read", path, error);
        }
        if (count == 0) break;
        size += count;
    }
    CloseHandle(file);
    whole = size <= limit;
    contents.resize(std::min(size, limit));
    return {};
}

Status readFile(const std::string& path, std::string& contents) {
    bool whole = true;
    FileVersion version;
    return readRegularFile(path, static_cast<std::size_t>(-1) - 1, contents, whole, version);
}

Status appendToFile(const std::string& path, std::string_view bytes) {
    // Append access alone: every write lands at the end, whoever else writes.
    Status refused;
    const HANDLE file = openForAppending(path, FILE_APPEND_DATA | SYNCHRONIZE, false, refused);
    if (file == INVALID_HANDLE_VALUE) return refused;
    const DWORD error = closeAfter(file, writeAll(file, bytes));
    return error == 0 ? Status() : systemError(Status::Code::failed, "write", path, error);
}

Status appendWithHeader(const std::string& path, std::string_view header, std::string_view bytes, AppendWatch* watch) {
    // Write access too, to take a cut-off line back; one writer per file.
    Status refused;
    const HANDLE file = openForAppending(path, GENERIC_WRITE, true, refused);
    if (file == INVALID_HANDLE_VALUE) return refused;
    LARGE_INTEGER size{};
    const LARGE_INTEGER zero{};
    if (!SetFilePointerEx(file, zero, &size, FILE_END)) {
        const DWORD error = GetLastError();
        CloseHandle(file);
        return systemError(Status::Code::failed, "open", path, error);
    }
    if (watch != nullptr) {
        if (Status noted = watch->beforeAppend(path, static_cast<std::uint64_t>(size.QuadPart)); !noted.ok()) {
            CloseHandle(file);
            return noted;
        }
    }
    std::string whole;
    if (size.QuadPart == 0 && !header.empty()) {
        whole.reserve(header.size() + bytes.size());
        whole.append(header).append(bytes);
        bytes = whole;
    }
    DWORD error = ERROR_WRITE_FAULT;
    if (mayChange({FileStep::write, path, static_cast<std::uint64_t>(size.QuadPart), bytes}))
        error = writeAll(file, bytes);
    if (error != 0 && SetFilePointerEx(file, size, nullptr, FILE_BEGIN)) SetEndOfFile(file);
    error = closeAfter(file, error);
    return error == 0 ? Status() : systemError(Status::Code::failed, "write", path, error);
}

Status createNewFile(const std::string& path, std::string_view bytes) {
    HeldWay way;
    if (Status held = way.hold(path); !held.ok()) return held;
    const HANDLE file = openFile(path, GENERIC_WRITE, CREATE_NEW);
    if (file == INVALID_HANDLE_VALUE) return systemError("create", path, GetLastError());
    const DWORD error = closeAfter(file, writeAll(file, bytes));
    if (error == 0) return {};
    DeleteFileW(widePath(path).c_str());
    return systemError(Status::Code::failed, "write", path, error);
}

Status makeFolder(const std::string& path) {
    HeldWay way;
    if (Status held = holdWayTo(path, way); !held.ok()) return held;
    const std::wstring folder = widePath(path);
    if (CreateDirectoryW(folder.c_str(), nullptr)) return {};
    const DWORD error = GetLastError();
    if (error == ERROR_ALREADY_EXISTS && isFolderWide(folder)) return {};
    return systemError("make folder", path, error);
}

Status makeFolderChain(const std::string& path) {
    // Below a data root, a folder on the way that is a link is refused before
    // anything is made beyond it.
    {
        HeldWay way;
        if (const Status held = holdWayTo(path, way); !held.ok() && !held.is(Status::Code::notFound))
            return Status::error(Status::Code::failed, "make folder", path, held.reason());
    }
    const std::wstring folder = widePath(path);
    if (folder.empty()) return systemError("make folder", path, ERROR_PATH_NOT_FOUND);
    // Nearly always the whole chain is there already: one look settles it.
    if (isFolderWide(folder)) return {};
    std::size_t position = rootLength(folder);
    while (position < folder.size()) {
        std::size_t end = position;
        while (end < folder.size() && !isSeparator(folder[end])) ++end;
        if (end > position) {
            const std::wstring step = folder.substr(0, end);
            if (!isFolderWide(step) && !CreateDirectoryW(step.c_str(), nullptr)) {
                const DWORD error = GetLastError();
                // Made meanwhile by someone else is as good as made here.
                if (error != ERROR_ALREADY_EXISTS || !isFolderWide(step))
                    return systemError(error == ERROR_ALREADY_EXISTS ? Status::Code::exists : Status::Code::failed,
                                       "make folder", wideToAnsi(step), error);
            }
        }
        position = end + 1;
    }
    return {};
}

bool pathExists(const std::string& path) {
    return GetFileAttributesW(widePath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool isFolder(const std::string& path) {
    HeldWay way;
    return holdWayTo(path, way).ok() && isFolderWide(widePath(path));
}

Status listFolder(const std::string& path, std::vector<std::string>& names) {
    names.clear();
    std::wstring pattern = widePath(path);
    if (!pattern.empty() && !isSeparator(pattern.back())) pattern += L'\\';
    pattern += L'*';
    WIN32_FIND_DATAW entry{};
    const HANDLE search = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &entry, FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        // An empty drive root has not even "." and "..".
        if (error == ERROR_FILE_NOT_FOUND) return {};
        return systemError("list folder", path, error);
    }
    do {
        const std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") continue;
        // A name the ANSI code page cannot show could not be reached again
        // by its 8-bit form.
        const std::string ansi = wideToAnsi(name);
        if (ansiToWide(ansi) == name) names.push_back(ansi);
    } while (FindNextFileW(search, &entry));
    FindClose(search);
    return {};
}

bool refusedInName(wchar_t c) { return c < 32 || std::wstring_view(L"<>:\"|?*").find(c) != std::wstring_view::npos; }

// Windows drops trailing dots and blanks: "AA." would be the folder "AA",
// and "..." the folder above.
bool refusedAtEnd(wchar_t c) { return c == L'.' || c == L' '; }

bool reservedName(std::wstring_view name) {
    // "CON", "con.txt" and "COM1 " all name the device.
    name = name.substr(0, name.find(L'.'));
    while (!name.empty() && name.back() == L' ') name.remove_suffix(1);
    std::wstring upper;
    for (const wchar_t c : name) upper += static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));
    if (upper == L"CON" || upper == L"PRN" || upper == L"AUX" || upper == L"NUL") return true;
    return upper.size() == 4 && (upper.starts_with(L"COM") || upper.starts_with(L"LPT")) && upper[3] >= L'0' &&
           upper[3] <= L'9';
}

namespace {

// The changes a fault hook may stop: the error code of a refusal, or 0.
DWORD writeBytesAt(HANDLE file, const std::string& path, std::uint64_t offset, std::string_view bytes) {
    if (!mayChange({FileStep::write, path, offset, bytes})) return ERROR_WRITE_FAULT;
    while (!bytes.empty()) {
        const DWORD chunk = bytes.size() > 0x40000000 ? 0x40000000 : static_cast<DWORD>(bytes.size());
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD written = 0;
        if (!WriteFile(file, bytes.data(), chunk, &written, &at)) return GetLastError();
        if (written == 0) return ERROR_WRITE_FAULT;
        bytes.remove_prefix(written);
        offset += written;
    }
    return 0;
}

DWORD flushFile(HANDLE file, const std::string& path) {
    if (!mayChange({FileStep::flush, path})) return ERROR_WRITE_FAULT;
    return FlushFileBuffers(file) ? 0 : GetLastError();
}

// NTFS keeps its folders' entries in its own journal: a name is as safe as
// the system's journal is. The step is told all the same, so that a test
// sees the same steps on every system.
DWORD flushFolderOf(const std::string& path) {
    const std::size_t cut = path.find_last_of("\\/");
    const std::string folder = cut == std::string::npos ? std::string(".") : path.substr(0, cut);
    return mayChange({FileStep::flushFolder, folder}) ? 0 : ERROR_WRITE_FAULT;
}

DWORD sizeOf(HANDLE file, std::uint64_t& bytes) {
    LARGE_INTEGER length{};
    if (!GetFileSizeEx(file, &length)) return GetLastError();
    bytes = static_cast<std::uint64_t>(length.QuadPart);
    return 0;
}

}  // namespace

Status writeFileDurably(const std::string& path, std::string_view bytes) {
    HeldWay way;
    if (Status held = holdWayTo(path, way); !held.ok()) return held;
    if (!mayChange({FileStep::create, path})) return systemError(Status::Code::failed, "create", path, ERROR_WRITE_FAULT);
    const HANDLE file = openFile(path, GENERIC_WRITE, CREATE_ALWAYS);
    if (file == INVALID_HANDLE_VALUE) return systemError("create", path, GetLastError());
    DWORD error = writeBytesAt(file, path, 0, bytes);
    if (error == 0) error = flushFile(file, path);
    error = closeAfter(file, error);
    if (error == 0) error = flushFolderOf(path);
    return error == 0 ? Status() : systemError(Status::Code::failed, "write", path, error);
}

Status appendDurably(const std::string& path, std::string_view bytes) {
    HeldWay way;
    if (Status held = holdWayTo(path, way); !held.ok()) return held;
    HANDLE file = openFile(path, GENERIC_WRITE, OPEN_EXISTING);
    const bool made = file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND;
    if (made) {
        if (!mayChange({FileStep::create, path}))
            return systemError(Status::Code::failed, "create", path, ERROR_WRITE_FAULT);
        file = openFile(path, GENERIC_WRITE, CREATE_NEW);
    }
    if (file == INVALID_HANDLE_VALUE) return systemError("open", path, GetLastError());
    std::uint64_t end = 0;
    DWORD error = sizeOf(file, end);
    if (error == 0) error = writeBytesAt(file, path, end, bytes);
    if (error == 0) error = flushFile(file, path);
    error = closeAfter(file, error);
    if (error == 0 && made) error = flushFolderOf(path);
    return error == 0 ? Status() : systemError(Status::Code::failed, "write", path, error);
}

Status removeFileDurably(const std::string& path) {
    if (!pathExists(path)) return systemError("remove", path, ERROR_FILE_NOT_FOUND);
    if (!mayChange({FileStep::remove, path})) return systemError(Status::Code::failed, "remove", path, ERROR_WRITE_FAULT);
    if (!DeleteFileW(widePath(path).c_str())) return systemError("remove", path, GetLastError());
    const DWORD error = flushFolderOf(path);
    return error == 0 ? Status() : systemError(Status::Code::failed, "remove", path, error);
}

Status truncateFile(const std::string& path, std::uint64_t size, bool& cut) {
    cut = false;
    Status refused;
    const HANDLE file = openForAppending(path, GENERIC_WRITE, true, refused, OPEN_EXISTING);
    if (file == INVALID_HANDLE_VALUE) return refused;
    std::uint64_t now = 0;
    DWORD error = sizeOf(file, now);
    if (error == 0 && now > size) {
        FILE_END_OF_FILE_INFO end{};
        end.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
        if (!mayChange({FileStep::resize, path, size}))
            error = ERROR_WRITE_FAULT;
        else if (!SetFileInformationByHandle(file, FileEndOfFileInfo, &end, sizeof end))
            error = GetLastError();
        else
            cut = true;
    }
    error = closeAfter(file, error);
    return error == 0 ? Status() : systemError(Status::Code::failed, "truncate", path, error);
}

Status fileStamp(const std::string& path, FileStamp& stamp) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(widePath(path).c_str(), GetFileExInfoStandard, &data))
        return systemError("stat", path, GetLastError());
    stamp.size = static_cast<std::uint64_t>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
    stamp.changed = static_cast<std::int64_t>(static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32 |
                                              data.ftLastWriteTime.dwLowDateTime);
    return {};
}

// Office programs keep a workbook open, denying others the right to write,
// for as long as it is open for editing: an open that shares nothing fails.
bool fileInUse(const std::string& path) {
    const HANDLE file = CreateFileW(widePath(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_SHARING_VIOLATION;
    CloseHandle(file);
    return false;
}

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

Status LockedFile::open(const std::string& path) {
    close();
    path_ = path;
    HeldWay way;
    if (Status held = holdWayTo(path, way); !held.ok()) return held;
    const HANDLE file = CreateFileW(widePath(path).c_str(), GENERIC_READ | GENERIC_WRITE, shareWithReaders, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return systemError("open", path, GetLastError());
    if (GetFileType(file) != FILE_TYPE_DISK) {
        CloseHandle(file);
        return systemError(Status::Code::failed, "open", path, ERROR_INVALID_HANDLE);
    }
    descriptor_ = descriptorOf(file);
    if (descriptor_ < 0) return systemError(Status::Code::failed, "open", path, ERROR_TOO_MANY_OPEN_FILES);
    return {};
}

Status LockedFile::openOwn(const std::string& path) {
    close();
    path_ = path;
    HeldWay way;
    if (Status held = way.hold(path); !held.ok()) return held;
    const auto open = [&](DWORD flags) {
        return CreateFileW(widePath(path).c_str(), GENERIC_READ | GENERIC_WRITE, shareWithReaders, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL | flags, nullptr);
    };
    HANDLE file = open(FILE_FLAG_OPEN_REPARSE_POINT);
    if (file == INVALID_HANDLE_VALUE) return systemError("open", path, GetLastError());
    const Reparse reparse = reparseOf(file);
    if (reparse == Reparse::other) {
        CloseHandle(file);
        file = open(0);
        if (file == INVALID_HANDLE_VALUE) return systemError("open", path, GetLastError());
    }
    if (reparse == Reparse::link || GetFileType(file) != FILE_TYPE_DISK) {
        CloseHandle(file);
        return Status::error(Status::Code::failed, "open", path, reparse == Reparse::link ? isLink : notRegular);
    }
    descriptor_ = descriptorOf(file);
    if (descriptor_ < 0) return systemError(Status::Code::failed, "open", path, ERROR_TOO_MANY_OPEN_FILES);
    return {};
}

Status LockedFile::read(std::string& contents) {
    contents.clear();
    if (descriptor_ < 0) return {};
    const HANDLE file = handleOf(descriptor_);
    LARGE_INTEGER length{};
    if (!GetFileSizeEx(file, &length)) return systemError("read", path_, GetLastError());
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
            return systemError("read", path_, error);
        }
        if (count == 0) break;
        size += count;
    }
    contents.resize(size);
    return {};
}

Status LockedFile::replace(std::initializer_list<std::string_view> pieces) {
    const std::size_t cut = path_.find_last_of("\\/");
    const std::string folder = cut == std::string::npos ? std::string() : path_.substr(0, cut + 1);
    const std::string name = cut == std::string::npos ? path_ : path_.substr(cut + 1);
    const std::string besideName = folder + "." + name + "." + std::to_string(GetCurrentProcessId()) + ".new";
    const std::wstring beside = widePath(besideName);
    const std::wstring target = widePath(path_);
    // A file of that name can only be left over from a crash of this same process id.
    DeleteFileW(beside.c_str());
    if (!mayChange({FileStep::create, besideName}))
        return systemError(Status::Code::failed, "create", besideName, ERROR_WRITE_FAULT);
    // Without the right to delete of its own, the handle keeps no reader out.
    const HANDLE fresh = CreateFileW(beside.c_str(), GENERIC_READ | GENERIC_WRITE, shareWithReaders, nullptr,
                                     CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (fresh == INVALID_HANDLE_VALUE) return systemError(Status::Code::failed, "create", besideName, GetLastError());
    DWORD error = 0;
    std::uint64_t offset = 0;
    for (const std::string_view piece : pieces) {
        if (error == 0) error = writeBytesAt(fresh, besideName, offset, piece);
        offset += piece.size();
    }
    if (error == 0) error = flushFile(fresh, besideName);
    // No file can be renamed over while it is open, not even by the one who
    // holds it: the old file's handle goes first.
    const bool hadOld = descriptor_ >= 0;
    if (error == 0 && !mayChange({FileStep::rename, besideName, 0, {}, &path_})) error = ERROR_WRITE_FAULT;
    if (error == 0 && hadOld) close();
    if (error == 0 && !MoveFileExW(beside.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        error = GetLastError();
    if (error != 0) {
        CloseHandle(fresh);
        DeleteFileW(beside.c_str());
        // The old file is as it was; it is held again as it was held before.
        if (hadOld && descriptor_ < 0) {
            const std::string path = path_;
            static_cast<void>(open(path));
        }
        return systemError(Status::Code::failed, "write", path_, error);
    }
    // The handle followed the file to its new name: the new file is held.
    close();
    descriptor_ = descriptorOf(fresh);
    if (descriptor_ < 0) return systemError(Status::Code::failed, "open", path_, ERROR_TOO_MANY_OPEN_FILES);
    static_cast<void>(flushFolderOf(path_));
    return {};
}

Status LockedFile::create(const std::string& path) {
    close();
    path_ = path;
    HeldWay way;
    if (Status held = way.hold(path); !held.ok()) return held;
    if (!mayChange({FileStep::create, path})) return systemError(Status::Code::failed, "create", path, ERROR_WRITE_FAULT);
    const HANDLE file = CreateFileW(widePath(path).c_str(), GENERIC_READ | GENERIC_WRITE, shareWithReaders, nullptr,
                                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return systemError("create", path, GetLastError());
    descriptor_ = descriptorOf(file);
    if (descriptor_ < 0) return systemError(Status::Code::failed, "create", path, ERROR_TOO_MANY_OPEN_FILES);
    if (const DWORD error = flushFolderOf(path); error != 0) {
        close();
        return systemError(Status::Code::failed, "create", path, error);
    }
    return {};
}

Status LockedFile::size(std::uint64_t& bytes) {
    const DWORD error = sizeOf(handleOf(descriptor_), bytes);
    return error == 0 ? Status() : systemError("read", path_, error);
}

Status LockedFile::readAt(std::uint64_t offset, std::size_t count, std::string& bytes) {
    bytes.assign(count, '\0');
    std::size_t done = 0;
    while (done < count) {
        const std::size_t room = count - done;
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset + done);
        at.OffsetHigh = static_cast<DWORD>((offset + done) >> 32);
        DWORD got = 0;
        if (!ReadFile(handleOf(descriptor_), bytes.data() + done,
                      room > 0x40000000 ? 0x40000000 : static_cast<DWORD>(room), &got, &at)) {
            const DWORD error = GetLastError();
            if (error == ERROR_HANDLE_EOF) break;
            bytes.clear();
            return systemError("read", path_, error);
        }
        if (got == 0) break;
        done += got;
    }
    bytes.resize(done);
    return {};
}

Status LockedFile::writeAt(std::uint64_t offset, std::string_view bytes) {
    const DWORD error = writeBytesAt(handleOf(descriptor_), path_, offset, bytes);
    return error == 0 ? Status() : systemError(Status::Code::failed, "write", path_, error);
}

Status LockedFile::resize(std::uint64_t size) {
    if (!mayChange({FileStep::resize, path_, size})) return systemError(Status::Code::failed, "write", path_, ERROR_WRITE_FAULT);
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
    if (!SetFileInformationByHandle(handleOf(descriptor_), FileEndOfFileInfo, &end, sizeof end))
        return systemError(Status::Code::failed, "write", path_, GetLastError());
    return {};
}

Status LockedFile::flush() {
    const DWORD error = flushFile(handleOf(descriptor_), path_);
    return error == 0 ? Status() : systemError(Status::Code::failed, "write", path_, error);
}

Status LockedFile::flushData() { return flush(); }

void LockedFile::close() {
    if (descriptor_ >= 0) _close(descriptor_);
    descriptor_ = -1;
}

namespace {

// The size a file had before an append, for the caller's own watch.
class SizeWatch final : public AppendWatch {
public:
    explicit SizeWatch(AppendWatch* inner) : inner_(inner) {}
    Status beforeAppend(const std::string& path, std::uint64_t sizeBefore) override {
        size = sizeBefore;
        return inner_ != nullptr ? inner_->beforeAppend(path, sizeBefore) : Status();
    }
    std::uint64_t size = 0;

private:
    AppendWatch* inner_;
};

}  // namespace

// Here each append opens its file: a file held open could be neither moved
// nor removed by an operator without leave to share it.
AppendingFiles::~AppendingFiles() { closeAll(); }

Status AppendingFiles::append(const std::string& path, std::string_view header, std::string_view bytes,
                              AppendWatch* watch, std::uint64_t& sizeAfter) {
    SizeWatch sized(watch);
    if (Status written = appendWithHeader(path, header, bytes, &sized); !written.ok()) return written;
    sizeAfter = sized.size + (sized.size == 0 ? header.size() : 0) + bytes.size();
    return {};
}

Status AppendingFiles::sync(const std::string& path) {
    Status refused;
    const HANDLE file = openForAppending(path, GENERIC_WRITE, false, refused, OPEN_EXISTING);
    if (file == INVALID_HANDLE_VALUE) return refused;
    const DWORD error = closeAfter(file, flushFile(file, path));
    return error == 0 ? Status() : systemError(Status::Code::failed, "write", path, error);
}

void AppendingFiles::nextRound() {}

void AppendingFiles::forget(const std::string&) {}

void AppendingFiles::closeAll() { kept_.clear(); }

Status flushFolder(const std::string& path) {
    const DWORD error = mayChange({FileStep::flushFolder, path}) ? 0 : ERROR_WRITE_FAULT;
    return error == 0 ? Status() : systemError(Status::Code::failed, "write", path, error);
}

}  // namespace quelvar::platform
