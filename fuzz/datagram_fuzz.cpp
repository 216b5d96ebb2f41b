// A received datagram from its ciphertext to the intake's decision:
// deciphering, framing, GBK conversion, the record test, the decoding into
// lines and records, the repeat key and the merged call.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "message/datagram.h"
#include "message/merged_call.h"
#include "net/aes_cipher.h"
#include "net/encrypted_receiver.h"
#include "net/secure_udp_endpoint.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const quelvar::AesCipher cipher = [] {
        std::uint8_t key[16] = {'L', 'u', 'm', 'e', 'n', 'H', 'a', 'r', 'p', 'Q', 'i', 0, 0, 0, 0, 0};
        quelvar::AesCipher made;
        quelvar::makeKey(made, key, 128);
        return made;
    }();
    static std::array<unsigned char, 65536 + 16> buffer;
    if (size == 0) return 0;
    const std::size_t length = std::min<std::size_t>(size, 65536);
    for (const quelvar::AesCipher* used : {&cipher, static_cast<const quelvar::AesCipher*>(nullptr)}) {
        std::memcpy(buffer.data(), data, length);
        const std::wstring text = quelvar::datagramText(buffer.data(), length, used);
        if (text.size() >= length) __builtin_trap();
        if (!quelvar::isRecordDatagram(text)) continue;
        quelvar::Datagram datagram;
        quelvar::decodeDatagram(text, datagram);
        quelvar::repeatKeyOf(datagram.rid);
        quelvar::MergedCall call;
        quelvar::mergeCall(datagram.lines, quelvar::CalendarTime{2024, 6, 1, 12, 0, 0}, call);
        if (!call.record().isRecord()) __builtin_trap();
    }
    return 0;
}
