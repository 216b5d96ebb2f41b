#include "platform/codepage.h"

#include <iconv.h>

#include <cerrno>
#include <cstdint>

namespace quelvar::platform {

namespace {

// One descriptor per direction for the life of the process: opening one
// loads the conversion module, which is too slow to do per line.
iconv_t gbkDescriptor(bool toGbk) {
    static const iconv_t encoder = iconv_open("CP936", "WCHAR_T");
    static const iconv_t decoder = iconv_open("WCHAR_T", "CP936");
    return toGbk ? encoder : decoder;
}

bool usable(iconv_t descriptor) { return descriptor != reinterpret_cast<iconv_t>(-1); }

}  // namespace

std::string wideToGbk(std::wstring_view text) {
    const iconv_t descriptor = gbkDescriptor(true);
    std::string result;
    if (!usable(descriptor) || text.empty()) return result;
    iconv(descriptor, nullptr, nullptr, nullptr, nullptr);
    char* input = const_cast<char*>(reinterpret_cast<const char*>(text.data()));
    std::size_t inputLeft = text.size() * sizeof(wchar_t);
    char buffer[4096];
    while (inputLeft > 0) {
        char* output = buffer;
        std::size_t outputLeft = sizeof buffer;
        const std::size_t status = iconv(descriptor, &input, &inputLeft, &output, &outputLeft);
        result.append(buffer, static_cast<std::size_t>(output - buffer));
        if (status != static_cast<std::size_t>(-1)) continue;
        if (errno == E2BIG) continue;
        // Not in the code page: one '?' for the character, and go on.
        result.push_back('?');
        input += sizeof(wchar_t);
        inputLeft -= sizeof(wchar_t);
        iconv(descriptor, nullptr, nullptr, nullptr, nullptr);
    }
    return result;
}

std::wstring gbkToWide(std::string_view bytes) {
    const iconv_t descriptor = gbkDescriptor(false);
    std::wstring result;
    if (!usable(descriptor) || bytes.empty()) return result;
    iconv(descriptor, nullptr, nullptr, nullptr, nullptr);
    char* input = const_cast<char*>(bytes.data());
    std::size_t inputLeft = bytes.size();
    wchar_t buffer[1024];
    while (inputLeft > 0) {
        char* output = reinterpret_cast<char*>(buffer);
        std::size_t outputLeft = sizeof buffer;
        const std::size_t status = iconv(descriptor, &input, &inputLeft, &output, &outputLeft);
        result.append(buffer, static_cast<std::size_t>(reinterpret_cast<wchar_t*>(output) - buffer));
        if (status != static_cast<std::size_t>(-1)) continue;
        if (errno == E2BIG) continue;
        // An invalid or cut-off byte sequence: one replacement per byte.
        result.push_back(L'\uFFFD');
        ++input;
        --inputLeft;
        iconv(descriptor, nullptr, nullptr, nullptr, nullptr);
    }
    return result;
}

std::string wideToAnsi(std::wstring_view text) {
    std::string result;
    result.reserve(text.size());
    for (const wchar_t character : text) {
        const auto code = static_cast<std::uint32_t>(character);
        if (code < 0x80) {
            result.push_back(static_cast<char>(code));
        } else if (code >= 0xDC80 && code <= 0xDCFF) {
            result.push_back(static_cast<char>(code - 0xDC00));
        } else if (code < 0x800) {
            result.push_back(static_cast<char>(0xC0 | (code >> 6)));
            result.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else if (code < 0x10000) {
            const std::uint32_t shown = (code >= 0xD800 && code <= 0xDFFF) ? 0xFFFD : code;
            result.push_back(static_cast<char>(0xE0 | (shown >> 12)));
            result.push_back(static_cast<char>(0x80 | ((shown >> 6) & 0x3F)));
            result.push_back(static_cast<char>(0x80 | (shown & 0x3F)));
        } else if (code < 0x110000) {
            result.push_back(static_cast<char>(0xF0 | (code >> 18)));
            result.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
            result.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            result.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else {
            result += "\xEF\xBF\xBD";
        }
    }
    return result;
}

std::wstring ansiToWide(std::string_view bytes) {
    std::wstring result;
    result.reserve(bytes.size());
    std::size_t position = 0;
    while (position < bytes.size()) {
        const auto lead = static_cast<unsigned char>(bytes[position]);
        std::size_t length = 0;
        std::uint32_t code = 0;
        std::uint32_t smallest = 0;
        if (lead < 0x80) {
            length = 1, code = lead;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2, code = lead & 0x1Fu, smallest = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3, code = lead & 0x0Fu, smallest = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4, code = lead & 0x07u, smallest = 0x10000;
        }
        bool valid = length > 0 && position + length <= bytes.size();
        for (std::size_t index = 1; valid && index < length; ++index) {
            const auto next = static_cast<unsigned char>(bytes[position + index]);
            valid = (next & 0xC0) == 0x80;
            code = (code << 6) | (next & 0x3Fu);
        }
        valid = valid && code >= smallest && code < 0x110000 && !(code >= 0xD800 && code <= 0xDFFF);
        if (valid) {
            result.push_back(static_cast<wchar_t>(code));
            position += length;
        } else {
            result.push_back(static_cast<wchar_t>(0xDC00 + lead));
            ++position;
        }
    }
    return result;
}

std::string wideToOem(std::wstring_view text) { return wideToAnsi(text); }

}  // namespace quelvar::platform
