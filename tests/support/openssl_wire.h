#pragma once
// The collector's wire cipher as an independent party sees it: AES-128 in
// ECB mode under the built-in key, done by OpenSSL.
#include <openssl/evp.h>

#include <memory>
#include <string>

inline std::string openSslAes(const std::string& input, bool encrypt) {
    static const unsigned char wireKey[16] = {'L', 'u', 'm', 'e', 'n', 'H', 'a', 'r', 'p', 'Q', 'i', 0, 0, 0, 0, 0};
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> context(EVP_CIPHER_CTX_new(),
                                                                            EVP_CIPHER_CTX_free);
    EVP_CipherInit_ex(context.get(), EVP_aes_128_ecb(), nullptr, wireKey, nullptr, encrypt ? 1 : 0);
    EVP_CIPHER_CTX_set_padding(context.get(), 0);
    std::string output(input.size() + 16, '\0');
    int length = 0;
    EVP_CipherUpdate(context.get(), reinterpret_cast<unsigned char*>(output.data()), &length,
                     reinterpret_cast<const unsigned char*>(input.data()), static_cast<int>(input.size()));
    output.resize(static_cast<std::size_t>(length));
    return output;
}

// A datagram as a switch sends it: the GBK text, a zero byte, zero bytes
// up to whole blocks, enciphered.
inline std::string encipherDatagram(const std::string& gbkText) {
    std::string plain = gbkText;
    plain.push_back('\0');
    plain.append(16 - plain.size() % 16, '\0');
    return openSslAes(plain, true);
}

// The text of an answer: its whole blocks deciphered, up to the terminator.
inline std::string decipherDatagram(const std::string& datagram) {
    const std::string plain = openSslAes(datagram.substr(0, datagram.size() - datagram.size() % 16), false);
    return plain.substr(0, plain.find('\0'));
}
