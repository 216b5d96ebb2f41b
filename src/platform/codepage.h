#pragma once
#include <string>
#include <string_view>

namespace quelvar::platform {

// Code page 936. A character that GBK cannot show becomes '?', as the
// platform's own conversion does; bytes that are no GBK become U+FFFD.
std::string wideToGbk(std::wstring_view text);
std::wstring gbkToWide(std::string_view bytes);

// The system's 8-bit code page, the one of file names. On Windows that is the
// ANSI code page: a character it cannot show becomes '?' (never a look-alike,
// which could name another file), bytes that are none of its characters
// become U+FFFD. Elsewhere it is UTF-8, and bytes that are no UTF-8 survive
// the round trip (each becomes one character of U+DC80 to U+DCFF), so a file
// name always comes back as it was.
std::string wideToAnsi(std::wstring_view text);
std::wstring ansiToWide(std::string_view bytes);

// The OEM code page, the console's; on Windows it may differ from the ANSI
// code page, elsewhere both are UTF-8.
std::string wideToOem(std::wstring_view text);

}  // namespace quelvar::platform
