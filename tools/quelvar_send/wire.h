#pragma once
#include <optional>
#include <string>

#include "net/aes_cipher.h"
#include "quelvar_send/records.h"

namespace quelvar::send {

// The collector's built-in key.
AesCipher wireCipher();

// The datagram of a call: its lines joined by line feeds as GBK; enciphered
// (closed by a zero byte, padded to whole blocks) unless plain.
std::string encodeDatagram(const Call& call, bool plain, const AesCipher& cipher);

// The acknowledgement the collector must give, as decodeAcknowledgement
// shows it; none when it gives none.
std::optional<std::string> expectedAcknowledgement(const Call& call, bool plain);

// An acknowledgement as UTF-8 text: deciphered up to its terminator, or in
// plain mode the text before its zero byte.
std::string decodeAcknowledgement(const std::string& datagram, bool plain, const AesCipher& cipher);

}  // namespace quelvar::send
