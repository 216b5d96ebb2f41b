#pragma once
#include <string>
#include <string_view>

namespace quelvar {

// Between the program's wide text and UTF-16, the workbook's text. A
// character beyond the first plane becomes a surrogate pair; an unpaired
// surrogate read back becomes U+FFFD.
std::u16string toUtf16(std::wstring_view text);
std::wstring fromUtf16(std::u16string_view text);

}  // namespace quelvar
