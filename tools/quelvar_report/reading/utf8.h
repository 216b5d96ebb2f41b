#pragma once
#include <string>

namespace quelvar::report {

// Appends one character, encoded as UTF-8.
void appendUtf8(std::string& out, char32_t c);

}  // namespace quelvar::report
