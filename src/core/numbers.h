#pragma once
#include <string_view>

namespace quelvar {

// The leading decimal integer of a text, read the way atoi reads it:
// leading white space, an optional sign, then digits; 0 without digits.
// Values beyond the range of long long stop at its ends.
long long leadingInteger(std::wstring_view text);
long long leadingInteger(std::string_view text);

}  // namespace quelvar
