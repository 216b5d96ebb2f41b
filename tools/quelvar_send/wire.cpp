#include "quelvar_send/wire.h"

#include <cstdint>

#include "core/numbers.h"
#include "core/text.h"
#include "message/field_map.h"

namespace quelvar::send {

namespace {

bool beginsWithRecordHead(const std::string& text) {
    static const std::string head = "RECORD:";
    if (text.size() < head.size()) return false;
    for (std::size_t index = 0; index < head.size(); ++index) {
        const char c = text[index];
        if ((c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c) != head[index]) return false;
    }
    return true;
}

std::string joined(const Call& call) {
    std::string text;
    for (std::size_t index = 0; index < call.size(); ++index) text += (index ? "\n" : "") + call[index];
    return text;
}

}  // namespace

AesCipher wireCipher() {
    std::uint8_t key[16] = {'L', 'u', 'm', 'e', 'n', 'H', 'a', 'r', 'p', 'Q', 'i', 0, 0, 0, 0, 0};
    AesCipher cipher;
    makeKey(cipher, key, 128);
    return cipher;
}

std::string encodeDatagram(const Call& call, bool plain, const AesCipher& cipher) {
    std::string bytes = toGbk(fromAnsi(joined(call)));
    if (plain) return bytes;
    bytes.push_back('\0');
    bytes.append(16 - bytes.size() % 16, '\0');
    encryptBuffer(cipher, reinterpret_cast<std::uint8_t*>(bytes.data()), bytes.size());
    return bytes;
}

std::optional<std::string> expectedAcknowledgement(const Call& call, bool plain) {
    const std::string text = joined(call);
    if (!beginsWithRecordHead(text)) return std::nullopt;
    if (plain) {
        const std::size_t ampersand = text.find('&');
        return ampersand == std::string::npos ? std::string() : text.substr(0, ampersand);
    }
    // The highest ID among the lines that are records of a switch.
    std::wstring best;
    for (const std::string& line : call) {
        FieldMap fields;
        parseFieldMap(fromAnsi(line), fields);
        if (fieldValue(fields, L"HEAD") != L"RECORD" || fieldValue(fields, L"MAC").empty()) continue;
        const std::wstring& id = fieldValue(fields, L"ID");
        if (leadingInteger(id) > leadingInteger(best)) best = id;
    }
    if (best.empty()) return std::nullopt;
    return "RECORD:ID=" + toAnsi(best);
}

std::string decodeAcknowledgement(const std::string& datagram, bool plain, const AesCipher& cipher) {
    std::string bytes = datagram;
    if (!plain) {
        bytes.resize(bytes.size() - bytes.size() % 16);
        decryptBuffer(cipher, reinterpret_cast<std::uint8_t*>(bytes.data()), bytes.size());
    }
    return toAnsi(fromGbk(bytes.substr(0, bytes.find('\0'))));
}

}  // namespace quelvar::send
