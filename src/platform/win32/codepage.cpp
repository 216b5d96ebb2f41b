#include "platform/codepage.h"

#include <windows.h>

#include <algorithm>
#include <climits>

namespace quelvar::platform {

namespace {

constexpr UINT gbkCodePage = 936;

// UTF-8, which CP_ACP may stand for, and GB18030 show every character; they
// take neither a default character nor the best-fit switch.
bool coversEveryCharacter(UINT codePage) { return codePage == CP_UTF8 || codePage == 54936; }

int lengthOf(std::size_t size) { return size > INT_MAX ? INT_MAX : static_cast<int>(size); }

bool isSurrogate(wchar_t c) { return c >= 0xD800 && c <= 0xDFFF; }

// Code pages of one or two bytes a character have no character beyond the
// Basic Multilingual Plane: such a character, two UTF-16 units, is one '?'.
std::wstring withoutSurrogatePairs(std::wstring_view text) {
    std::wstring result;
    result.reserve(text.size());
    for (std::size_t index = 0; index < text.size(); ++index) {
        const wchar_t c = text[index];
        if (c >= 0xD800 && c <= 0xDBFF && index + 1 < text.size() && text[index + 1] >= 0xDC00 &&
            text[index + 1] <= 0xDFFF)
            ++index;
        result.push_back(isSurrogate(c) ? L'?' : c);
    }
    return result;
}

std::string narrow(UINT codePage, std::wstring_view text) {
    if (!coversEveryCharacter(codePage) && std::any_of(text.begin(), text.end(), isSurrogate)) {
        const std::wstring shown = withoutSurrogatePairs(text);
        return narrow(codePage, shown);
    }
    std::string result;
    while (!text.empty()) {
        const int count = lengthOf(text.size());
        // No code page needs more than four bytes for one UTF-16 unit.
        std::string piece(static_cast<std::size_t>(count) * 4, '\0');
        const bool every = coversEveryCharacter(codePage);
        const int written =
            WideCharToMultiByte(codePage, every ? 0 : WC_NO_BEST_FIT_CHARS, text.data(), count, piece.data(),
                                lengthOf(piece.size()), every ? nullptr : "?", nullptr);
        if (written <= 0) return result;
        result.append(piece.data(), static_cast<std::size_t>(written));
        text.remove_prefix(static_cast<std::size_t>(count));
    }
    return result;
}

// One character at the front of the bytes: its length, or 0 when the bytes
// begin with no character of the code page.
int characterAt(UINT codePage, std::string_view bytes, wchar_t (&character)[2], int& units) {
    const int longest = bytes.size() < 4 ? static_cast<int>(bytes.size()) : 4;
    for (int length = 1; length <= longest; ++length) {
        units = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data(), length, character, 2);
        if (units > 0) return length;
    }
    return 0;
}

std::wstring widen(UINT codePage, std::string_view bytes) {
    std::wstring result;
    if (bytes.empty()) return result;
    // Nearly always the bytes are all characters of the code page: one call.
    if (bytes.size() <= INT_MAX) {
        result.resize(bytes.size());
        const int written = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data(), lengthOf(bytes.size()),
                                                result.data(), lengthOf(result.size()));
        if (written > 0) {
            result.resize(static_cast<std::size_t>(written));
            return result;
        }
        result.clear();
    }
    // Otherwise character by character, U+FFFD for each byte that begins none.
    while (!bytes.empty()) {
        wchar_t character[2];
        int units = 0;
        const int length = characterAt(codePage, bytes, character, units);
        if (length == 0) {
            result.push_back(L'\uFFFD');
            bytes.remove_prefix(1);
        } else {
            result.append(character, static_cast<std::size_t>(units));
            bytes.remove_prefix(static_cast<std::size_t>(length));
        }
    }
    return result;
}

}  // namespace

std::string wideToGbk(std::wstring_view text) { return narrow(gbkCodePage, text); }

std::wstring gbkToWide(std::string_view bytes) { return widen(gbkCodePage, bytes); }

std::string wideToAnsi(std::wstring_view text) { return narrow(GetACP(), text); }

std::wstring ansiToWide(std::string_view bytes) { return widen(GetACP(), bytes); }

std::string wideToOem(std::wstring_view text) { return narrow(GetOEMCP(), text); }

}  // namespace quelvar::platform
