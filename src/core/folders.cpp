#include "core/folders.h"

#include "core/text.h"
#include "platform/files.h"

namespace quelvar {

std::wstring getProgramDir() {
    std::wstring path = fromAnsi(platform::executablePath());
    const std::size_t separator = path.rfind(static_cast<wchar_t>(platform::pathSeparator));
    if (separator != std::wstring::npos) path.resize(separator);
    return path;
}

std::wstring pathIn(const std::wstring& folder, std::wstring_view name) {
    std::wstring path = folder;
    path += static_cast<wchar_t>(platform::pathSeparator);
    path += name;
    return path;
}

std::string pathIn(const std::string& folder, std::string_view name) {
    std::string path = folder;
    path += platform::pathSeparator;
    path += name;
    return path;
}

void ensureFolder(const std::string& path) {
    if (!platform::pathExists(path)) static_cast<void>(platform::makeFolder(path));
}

Status ensureFolderPath(const std::wstring& path) { return platform::makeFolderChain(toAnsi(path)); }

}  // namespace quelvar
