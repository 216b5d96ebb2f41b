#include "core/utf16.h"

namespace quelvar {

std::u16string toUtf16(std::wstring_view text) {
    // Wide text is UTF-16 already where wchar_t has 16 bits.
    if constexpr (sizeof(wchar_t) == sizeof(char16_t)) return std::u16string(text.begin(), text.end());
    std::u16string result;
    result.reserve(text.size());
    for (const wchar_t c : text) {
        const auto code = static_cast<unsigned long>(c);
        if (code >= 0x10000 && code <= 0x10FFFF) {
            const unsigned long offset = code - 0x10000;
            result.push_back(static_cast<char16_t>(0xD800 + (offset >> 10)));
            result.push_back(static_cast<char16_t>(0xDC00 + (offset & 0x3FF)));
        } else {
            result.push_back(code > 0x10FFFF ? u'\uFFFD' : static_cast<char16_t>(code));
        }
    }
    return result;
}

std::wstring fromUtf16(std::u16string_view text) {
    if constexpr (sizeof(wchar_t) == sizeof(char16_t)) return std::wstring(text.begin(), text.end());
    std::wstring result;
    result.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            result.push_back(static_cast<wchar_t>(0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00)));
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            result.push_back(L'\uFFFD');
        } else {
            result.push_back(static_cast<wchar_t>(c));
        }
    }
    return result;
}

}  // namespace quelvar
