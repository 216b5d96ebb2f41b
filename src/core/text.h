#pragma once
#include <string>
#include <string_view>

namespace quelvar {

// Wide text to code page 936 (GBK) and back. Characters that GBK cannot
// show become '?'; bytes that are no GBK become U+FFFD.
std::string toGbk(std::wstring_view text);
std::wstring fromGbk(std::string_view bytes);

// Wide text in the OEM code page, cut to the length of its form in the
// ANSI code page.
std::string toOemText(std::wstring_view text);

// Between wide text and the ANSI code page, the code page of file names.
std::string toAnsi(std::wstring_view text);
std::wstring fromAnsi(std::string_view bytes);

}  // namespace quelvar
