#include "net/aes_cipher.h"

#include <gtest/gtest.h>
#ifdef QUELVAR_OPENSSL
#include <openssl/evp.h>
#endif

#include <algorithm>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace quelvar {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes fromHex(const std::string& hex) {
    Bytes bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

TEST(AesCipherTest, Fips197AppendixCVectors) {
    struct Vector {
        int keyBits;
        int rounds;
        const char* key;
        const char* ciphertext;
    };
    const Vector vectors[] = {
        {128, 10, "000102030405060708090a0b0c0d0e0f", "69c4e0d86a7b0430d8cdb78070b4c55a"},
        {192, 12, "000102030405060708090a0b0c0d0e0f1011121314151617", "dda97ca4864cdfe06eaf70a0ec0d7191"},
        {256, 14, "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
         "8ea2b7ca516745bfeafc49904b496089"},
    };
    const Bytes plaintext = fromHex("00112233445566778899aabbccddeeff");

    for (const Vector& v : vectors) {
        SCOPED_TRACE(v.keyBits);
        const Bytes key = fromHex(v.key);
        const Bytes ciphertext = fromHex(v.ciphertext);
        AesCipher cipher;
        ASSERT_TRUE(makeKey(cipher, key.data(), v.keyBits).ok());
        EXPECT_EQ(cipher.rounds, v.rounds);

        Bytes out(16);
        encryptBlock(cipher, plaintext.data(), out.data());
        EXPECT_EQ(out, ciphertext);
        decryptBlock(cipher, ciphertext.data(), out.data());
        EXPECT_EQ(out, plaintext);

        Bytes inPlace = plaintext;
        encryptBlock(cipher, inPlace.data(), inPlace.data());
        EXPECT_EQ(inPlace, ciphertext);
        decryptBlock(cipher, inPlace.data(), inPlace.data());
        EXPECT_EQ(inPlace, plaintext);
    }
}

#ifdef QUELVAR_OPENSSL
// Where OpenSSL is at hand (not in the cross build), it is the reference.
const EVP_CIPHER* opensslEcb(int keyBits) {
    switch (keyBits) {
        case 128:
            return EVP_aes_128_ecb();
        case 192:
            return EVP_aes_192_ecb();
        default:
            return EVP_aes_256_ecb();
    }
}

Bytes opensslEncrypt(int keyBits, const Bytes& key, const Bytes& plaintext) {
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(), &EVP_CIPHER_CTX_free);
    Bytes out(plaintext.size());
    int written = 0;
    int finalWritten = 0;
    const bool ok =
        ctx && EVP_EncryptInit_ex(ctx.get(), opensslEcb(keyBits), nullptr, key.data(), nullptr) == 1 &&
        EVP_CIPHER_CTX_set_padding(ctx.get(), 0) == 1 &&
        EVP_EncryptUpdate(ctx.get(), out.data(), &written, plaintext.data(), static_cast<int>(plaintext.size())) == 1 &&
        EVP_EncryptFinal_ex(ctx.get(), out.data() + written, &finalWritten) == 1;
    EXPECT_TRUE(ok);
    EXPECT_EQ(static_cast<std::size_t>(written + finalWritten), plaintext.size());
    return out;
}

// Random keys of every size and random multi-block buffers, one cipher being
// re-keyed throughout so that nothing of an earlier key can linger. The
// buffer sits one byte off alignment, as datagram contents may.
TEST(AesCipherTest, MatchesOpenSslOnRandomKeysAndBuffers) {
    std::mt19937 random(1809);
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<int> blockCount(1, 64);
    AesCipher cipher;

    for (int trial = 0; trial < 60; ++trial) {
        const int keyBits = 128 + 64 * (trial % 3);
        SCOPED_TRACE(testing::Message() << "trial " << trial << ", " << keyBits << " bits");
        Bytes key(static_cast<std::size_t>(keyBits / 8));
        for (auto& b : key) b = static_cast<std::uint8_t>(byte(random));
        Bytes plaintext(16 * static_cast<std::size_t>(blockCount(random)));
        for (auto& b : plaintext) b = static_cast<std::uint8_t>(byte(random));

        ASSERT_TRUE(makeKey(cipher, key.data(), keyBits).ok());
        const Bytes expected = opensslEncrypt(keyBits, key, plaintext);

        Bytes storage(plaintext.size() + 1);
        std::uint8_t* buffer = storage.data() + 1;
        std::copy(plaintext.begin(), plaintext.end(), buffer);
        encryptBuffer(cipher, buffer, plaintext.size());
        ASSERT_TRUE(std::equal(expected.begin(), expected.end(), buffer));
        decryptBuffer(cipher, buffer, plaintext.size());
        ASSERT_TRUE(std::equal(plaintext.begin(), plaintext.end(), buffer));
    }
}

#endif

// A length covers ceil(length / 16) whole blocks, each by itself, and
// nothing past them.
TEST(AesCipherTest, BufferLengthSelectsWholeBlocks) {
    struct Case {
        std::size_t length;
        std::size_t blocksTouched;
    };
    const Case cases[] = {{0, 0}, {1, 1}, {15, 1}, {16, 1}, {17, 2}, {20, 2}, {32, 2}, {33, 3}};

    AesCipher cipher;
    const Bytes key = fromHex("2b7e151628aed2a6abf7158809cf4f3c");
    ASSERT_TRUE(makeKey(cipher, key.data(), 128).ok());
    Bytes original(64);
    for (std::size_t i = 0; i < original.size(); ++i) original[i] = static_cast<std::uint8_t>(7 * i + 1);

    using BlockFn = void (*)(const AesCipher&, const std::uint8_t*, std::uint8_t*);
    using BufferFn = void (*)(const AesCipher&, std::uint8_t*, std::size_t);
    const std::pair<BlockFn, BufferFn> directions[] = {{&encryptBlock, &encryptBuffer},
                                                       {&decryptBlock, &decryptBuffer}};

    for (const auto& [blockFn, bufferFn] : directions) {
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message()
                         << (blockFn == &encryptBlock ? "encrypt" : "decrypt") << ", length " << c.length);
            Bytes expected = original;
            for (std::size_t b = 0; b < c.blocksTouched; ++b) {
                blockFn(cipher, original.data() + 16 * b, expected.data() + 16 * b);
            }
            Bytes buffer = original;
            bufferFn(cipher, buffer.data(), c.length);
            EXPECT_EQ(buffer, expected);
        }
    }
}

TEST(AesCipherTest, UnsupportedKeySizeIsRefusedAndChangesNothing) {
    AesCipher cipher;
    const Bytes key = fromHex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f");
    ASSERT_TRUE(makeKey(cipher, key.data(), 128).ok());
    const AesCipher before = cipher;

    for (int keyBits : {0, 64, 100, 127, 129, 160, 224, 255, 257, 512, -128}) {
        SCOPED_TRACE(keyBits);
        EXPECT_TRUE(makeKey(cipher, key.data(), keyBits).is(Status::Code::unsupported));
        EXPECT_EQ(cipher.rounds, before.rounds);
        EXPECT_EQ(cipher.encryptKeys, before.encryptKeys);
        EXPECT_EQ(cipher.decryptKeys, before.decryptKeys);
    }
}

}  // namespace
}  // namespace quelvar
