#pragma once
#include <array>
#include <cstddef>
#include <cstdint>

#include "platform/status.h"

namespace quelvar {

// AES (FIPS-197) with keys of 128, 192 or 256 bits. Both key schedules are
// built once by makeKey, so a block costs only its rounds.
struct AesCipher {
    // Encryption round keys; 4 * (rounds + 1) of them are in use.
    std::array<std::uint32_t, 64> encryptKeys{};
    // Round keys of the equivalent inverse cipher, last encryption round key
    // first, the inner ones passed through InvMixColumns.
    std::array<std::uint32_t, 64> decryptKeys{};
    // 10, 12 or 14; 0 until a key is set up.
    std::int32_t rounds = 0;
};

// Expands the first 16, 24 or 32 bytes of key for keyBits 128, 192 or 256.
// Any other size is refused and leaves the cipher exactly as it was.
Status makeKey(AesCipher& cipher, const std::uint8_t* key, int keyBits);

// One 16-byte block; in and out may be the same place.
void encryptBlock(const AesCipher& cipher, const std::uint8_t* in, std::uint8_t* out);
void decryptBlock(const AesCipher& cipher, const std::uint8_t* in, std::uint8_t* out);

// ECB in place over ceil(length / 16) blocks; nothing when length is 0. A
// trailing partial block is processed whole, so the buffer must hold it.
void encryptBuffer(const AesCipher& cipher, std::uint8_t* buffer, std::size_t length);
void decryptBuffer(const AesCipher& cipher, std::uint8_t* buffer, std::size_t length);

}  // namespace quelvar
