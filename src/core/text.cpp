#include "core/text.h"

#include <algorithm>

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

}  // namespace quelvar
