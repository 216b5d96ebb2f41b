#pragma once
#include <string_view>
#include <vector>

namespace quelvar {

// Cuts the text at every delimiter character into `parts`, which view the
// text, and returns their number. Two delimiters in a row give an empty part
// between them; a delimiter at the end adds no empty last part; an empty
// text gives none.
std::size_t splitText(std::wstring_view text, std::wstring_view delimiters, std::vector<std::wstring_view>& parts);

}  // namespace quelvar
