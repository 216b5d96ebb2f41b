#pragma once
// The text of a message as each channel carries it: valid UTF-8 on one line,
// a JSON string, base64 and RFC 2047 words for a mail.
#include <string>
#include <string_view>

namespace quelvar::report {

// `bytes` with every byte that is not part of a valid UTF-8 sequence
// (overlong forms and surrogates included) replaced by U+FFFD.
std::string validUtf8(std::string_view bytes);
// validUtf8 on a single line: line breaks, tabs and other control
// characters become spaces, so a text cannot end a header or a log line.
std::string oneLine(std::string_view bytes);
// RFC 4648 base64, lines of at most `lineLength` characters each ending in
// LF (0: one line without LF).
std::string base64(std::string_view bytes, std::size_t lineLength = 0);
// An unstructured header's value (a Subject) as RFC 2047 "B" words of UTF-8,
// each of at most 60 characters holding whole characters, one a line: the
// header's lines stay within 76 characters.
std::string encodedWords(std::string_view utf8);
// Whether `text` begins with `prefix` (lower case ASCII), whatever the case
// of its letters: "Mail:", "HTTPS://".
bool startsWithNoCase(std::string_view text, std::string_view prefix);

}  // namespace quelvar::report
