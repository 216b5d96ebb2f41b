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

// Text from a datagram as the log and the record files take it: each
// control character below 0x20 written out, CR as "\r", LF as "\n", tab as
// "\t", any other as "\x" and two upper-case hex digits, so that none ends
// a line or makes one up. Everything else stays as it is, a backslash too:
// text without control characters comes back unchanged. On GBK bytes it
// works alike, since no byte below 0x20 is part of a wider character.
bool hasControlCharacters(std::wstring_view text);
bool hasControlCharacters(std::string_view bytes);
std::wstring escapeControlCharacters(std::wstring_view text);
std::string escapeControlCharacters(std::string_view bytes);

}  // namespace quelvar
