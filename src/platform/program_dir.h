#pragma once
#include <string>

namespace quelvar::platform {

// Full path of the running executable as the file system spells it, in the
// 8-bit code page of file names, or empty text when it cannot be fetched or
// that code page cannot show it.
std::string executablePath();

// Separator between the folders of a path on this platform.
#ifdef _WIN32
inline constexpr char pathSeparator = '\\';
#else
inline constexpr char pathSeparator = '/';
#endif

}  // namespace quelvar::platform
