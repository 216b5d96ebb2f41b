#include "platform/program_dir.h"

#include <windows.h>

#include <vector>

#include "platform/codepage.h"

namespace quelvar::platform {

namespace {

std::wstring moduleFileName() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return {};
        // A path that filled the buffer may have been cut.
        if (length < buffer.size()) return std::wstring(buffer.data(), length);
        buffer.resize(buffer.size() * 2);
    }
}

}  // namespace

std::string executablePath() {
    const std::wstring path = moduleFileName();
    // A folder whose name the ANSI code page cannot show would come back as
    // another folder, or none: better no folder at all.
    const std::string ansi = wideToAnsi(path);
    if (ansiToWide(ansi) != path) return {};
    return ansi;
}

}  // namespace quelvar::platform
