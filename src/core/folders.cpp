#include "core/folders.h"

#include "core/text.h"
#include "platform/program_dir.h"

namespace quelvar {

std::wstring getProgramDir() {
    // The running executable stays where it was started from: looked up once.
    static const std::wstring programDir = [] {
        std::wstring path = fromAnsi(platform::executablePath());
        const std::size_t separator = path.rfind(static_cast<wchar_t>(platform::pathSeparator));
        if (separator != std::wstring::npos) path.resize(separator);
        return path;
    }();
    return programDir;
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
    if (!platform::pathExists(path)) platform::makeFolder(path);
}

FolderResult ensureFolderPath(const std::wstring& path) { return platform::makeFolderChain(toAnsi(path)); }

}  // namespace quelvar
