#pragma once
#include <string>

namespace quelvar::platform {

// Full path of the running executable as the file system spells it, or empty
// text when it cannot be fetched.
std::string executablePath();

// Separator between the folders of a path on this platform.
inline constexpr char pathSeparator = '/';

}  // namespace quelvar::platform
