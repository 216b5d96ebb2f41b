#pragma once
#include <string_view>

namespace quelvar::platform {

// What this system's file systems refuse in a name taken from a datagram,
// beyond the separators: such a name is made safe with these, so that no
// record is ever refused for the name of its folder or file.

// A character no name may hold.
bool refusedInName(wchar_t c);
// A character a name may not end in (it would be dropped from the name).
bool refusedAtEnd(wchar_t c);
// A name the system keeps for a device.
bool reservedName(std::wstring_view name);

}  // namespace quelvar::platform
