#pragma once
#include <windows.h>

#include <string_view>

namespace quelvar::platform {

// Writes every byte to the file, in pieces WriteFile can take. False (with
// the error kept) when the system refuses.
bool writeAll(HANDLE file, std::string_view bytes);

}  // namespace quelvar::platform
