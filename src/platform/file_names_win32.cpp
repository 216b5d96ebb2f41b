#include "platform/file_names.h"

#include <cwctype>
#include <string>

namespace quelvar::platform {

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

}  // namespace quelvar::platform
