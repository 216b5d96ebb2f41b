#include "quelvar_report/notify/text.h"

#include "quelvar_report/notify/notify.h"

namespace quelvar::report {

namespace {

// The length of the valid UTF-8 sequence at the start of `bytes`, 0 if none.
std::size_t sequenceLength(std::string_view bytes) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80) return 1;
    std::size_t length;
    unsigned low = 0x80, high = 0xBF;  // the allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;   // overlong
        if (lead == 0xED) high = 0x9F;  // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;   // overlong
        if (lead == 0xF4) high = 0x8F;  // beyond U+10FFFF
    } else {
        return 0;
    }
    if (bytes.size() < length || byte(1) < low || byte(1) > high) return 0;
    for (std::size_t i = 2; i < length; ++i)
        if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
    return length;
}

constexpr std::string_view replacement = "\xEF\xBF\xBD";

}  // namespace

std::string validUtf8(std::string_view bytes) {
    std::string result;
    result.reserve(bytes.size());
    while (!bytes.empty()) {
        const std::size_t length = sequenceLength(bytes);
        if (length == 0) {
            result += replacement;
            bytes.remove_prefix(1);
        } else {
            result += bytes.substr(0, length);
            bytes.remove_prefix(length);
        }
    }
    return result;
}

std::string oneLine(std::string_view bytes) {
    std::string result = validUtf8(bytes);
    for (char& c : result)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
    return result;
}

std::string jsonString(std::string_view text) {
    static constexpr char hex[] = "0123456789abcdef";
    const std::string valid = validUtf8(text);
    std::string result = "\"";
    for (const char c : valid) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
            case '"':
                result += "\\\"";
                break;
            case '\\':
                result += "\\\\";
                break;
            case '\n':
                result += "\\n";
                break;
            case '\r':
                result += "\\r";
                break;
            case '\t':
                result += "\\t";
                break;
            default:
                if (byte < 0x20) {
                    result += "\\u00";
                    result += hex[byte >> 4];
                    result += hex[byte & 15];
                } else {
                    result += c;
                }
        }
    }
    return result += '"';
}

std::string base64(std::string_view bytes, std::size_t lineLength) {
    static constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string encoded;
    encoded.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
        unsigned long group = 0;
        for (std::size_t j = 0; j < 3; ++j)
            group = group << 8 | (j < n ? static_cast<unsigned char>(bytes[i + j]) : 0u);
        for (std::size_t j = 0; j < 4; ++j) encoded += j <= n ? alphabet[(group >> (18 - 6 * j)) & 63] : '=';
    }
    if (lineLength == 0) return encoded;
    std::string lines;
    for (std::size_t i = 0; i < encoded.size(); i += lineLength) lines.append(encoded, i, lineLength).append("\n");
    return lines;
}

std::string encodedWords(std::string_view utf8) {
    // 36 bytes of text (cut between characters) make a word of 60
    // characters: with "Subject: " before it a line stays within 76.
    constexpr std::size_t wordBytes = 36;
    const std::string text = oneLine(utf8);
    std::string_view rest = text;
    std::string result;
    while (!rest.empty()) {
        std::size_t cut = 0;
        while (cut < rest.size()) {
            const std::size_t length = sequenceLength(rest.substr(cut));
            if (cut + length > wordBytes) break;
            cut += length;
        }
        if (!result.empty()) result += "\n ";
        result += "=?UTF-8?B?" + base64(rest.substr(0, cut)) + "?=";
        rest.remove_prefix(cut);
    }
    return result;
}

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        const char c = text[i];
        if ((c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c) != prefix[i]) return false;
    }
    return true;
}

}  // namespace quelvar::report
