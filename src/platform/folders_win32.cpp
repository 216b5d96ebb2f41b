#include "platform/folders.h"

#include "platform/codepage.h"
#include "platform/error_win32.h"
#include "platform/path_win32.h"

namespace quelvar::platform {

namespace {

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

}  // namespace

bool makeFolder(const std::string& path) {
    const std::wstring folder = widePath(path);
    if (CreateDirectoryW(folder.c_str(), nullptr)) return true;
    const DWORD error = GetLastError();
    if (error == ERROR_ALREADY_EXISTS && isFolderWide(folder)) return true;
    return rememberError(error);
}

FolderResult makeFolderChain(const std::string& path) {
    const std::wstring folder = widePath(path);
    if (folder.empty()) {
        rememberError(ERROR_PATH_NOT_FOUND);
        return FolderResult::failed;
    }
    // Nearly always the whole chain is there already: one look settles it.
    if (isFolderWide(folder)) return FolderResult::ok;
    std::size_t position = rootLength(folder);
    while (position < folder.size()) {
        std::size_t end = position;
        while (end < folder.size() && !isSeparator(folder[end])) ++end;
        if (end > position) {
            const std::wstring step = folder.substr(0, end);
            if (!isFolderWide(step) && !CreateDirectoryW(step.c_str(), nullptr)) {
                const DWORD error = GetLastError();
                // Made meanwhile by someone else is as good as made here.
                if (error != ERROR_ALREADY_EXISTS || !isFolderWide(step)) {
                    rememberError(error);
                    return error == ERROR_ALREADY_EXISTS ? FolderResult::alreadyExists : FolderResult::failed;
                }
            }
        }
        position = end + 1;
    }
    return FolderResult::ok;
}

bool pathExists(const std::string& path) {
    return GetFileAttributesW(widePath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool isFolder(const std::string& path) { return isFolderWide(widePath(path)); }

bool listFolder(const std::string& path, std::vector<std::string>& names) {
    names.clear();
    std::wstring pattern = widePath(path);
    if (!pattern.empty() && !isSeparator(pattern.back())) pattern += L'\\';
    pattern += L'*';
    WIN32_FIND_DATAW entry{};
    const HANDLE search = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &entry, FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        // An empty drive root has not even "." and "..".
        if (error == ERROR_FILE_NOT_FOUND) return true;
        return rememberError(error);
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
    return true;
}

}  // namespace quelvar::platform
