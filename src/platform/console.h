#pragma once
#include <string_view>

namespace quelvar::platform {

// Writes the bytes to standard error at once.
void writeStandardError(std::string_view bytes);

}  // namespace quelvar::platform
