#pragma once
#include <string_view>

namespace quelvar::platform {

// Writes every byte to the descriptor, going on after a short write or an
// interruption. False (with the error kept) when the system refuses.
bool writeAll(int descriptor, std::string_view bytes);

}  // namespace quelvar::platform
