#pragma once
#include <string>

#include "platform/codepage.h"

namespace quelvar::platform {

// Paths cross the seam in the ANSI code page, as the system's 8-bit file
// functions take them; the W functions get them back in wide form.
inline std::wstring widePath(const std::string& path) { return ansiToWide(path); }

}  // namespace quelvar::platform
