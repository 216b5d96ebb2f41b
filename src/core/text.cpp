#include "core/text.h"

#include <algorithm>
#include <type_traits>

#include "platform/codepage.h"

namespace quelvar {

namespace {

// Nearly every text on the wire and in the files is ASCII, which every code
// page here spells the same: no conversion needed.
bool isAscii(std::wstring_view text) {
    return std::all_of(text.begin(), text.end(), [](wchar_t c) { return static_cast<unsigned long>(c) < 0x80; });
}

bool isAscii(std::string_view bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

}  // namespace

std::string toGbk(std::wstring_view text) {
    if (isAscii(text)) return std::string(text.begin(), text.end());
    return platform::wideToGbk(text);
}

std::wstring fromGbk(std::string_view bytes) {
    if (isAscii(bytes)) return std::wstring(bytes.begin(), bytes.end());
    return platform::gbkToWide(bytes);
}

std::string toOemText(std::wstring_view text) {
    std::string oem = platform::wideToOem(text);
    const std::size_t ansiLength = platform::wideToAnsi(text).size();
    if (oem.size() > ansiLength) oem.resize(ansiLength);
    return oem;
}

std::string toAnsi(std::wstring_view text) {
    if (isAscii(text)) return std::string(text.begin(), text.end());
    return platform::wideToAnsi(text);
}

std::wstring fromAnsi(std::string_view bytes) {
    if (isAscii(bytes)) return std::wstring(bytes.begin(), bytes.end());
    return platform::ansiToWide(bytes);
}

namespace {

template <class Char>
bool isControl(Char c) {
    return static_cast<unsigned long>(static_cast<std::make_unsigned_t<Char>>(c)) < 0x20;
}

template <class Text>
Text escaped(std::basic_string_view<typename Text::value_type> text) {
    using Char = typename Text::value_type;
    constexpr char hex[] = "0123456789ABCDEF";
    Text out;
    out.reserve(text.size() + 8);
    for (const Char c : text) {
        if (!isControl(c)) {
            out += c;
            continue;
        }
        const auto code = static_cast<unsigned>(static_cast<std::make_unsigned_t<Char>>(c));
        out += static_cast<Char>('\\');
        if (code == '\r')
            out += static_cast<Char>('r');
        else if (code == '\n')
            out += static_cast<Char>('n');
        else if (code == '\t')
            out += static_cast<Char>('t');
        else {
            out += static_cast<Char>('x');
            out += static_cast<Char>(hex[code >> 4]);
            out += static_cast<Char>(hex[code & 15]);
        }
    }
    return out;
}

}  // namespace

bool hasControlCharacters(std::wstring_view text) {
    return std::any_of(text.begin(), text.end(), [](wchar_t c) { return isControl(c); });
}

bool hasControlCharacters(std::string_view bytes) {
    return std::any_of(bytes.begin(), bytes.end(), [](char c) { return isControl(c); });
}

std::wstring escapeControlCharacters(std::wstring_view text) {
    if (!hasControlCharacters(text)) return std::wstring(text);
    return escaped<std::wstring>(text);
}

std::string escapeControlCharacters(std::string_view bytes) {
    if (!hasControlCharacters(bytes)) return std::string(bytes);
    return escaped<std::string>(bytes);
}

}  // namespace quelvar
