#pragma once
#include <cstddef>
#include <string>
#include <string_view>

#include "net/aes_cipher.h"
#include "platform/udp.h"

namespace quelvar {

// One IPv4 UDP socket that carries text as GBK, closed by a zero byte,
// padded with zero bytes to whole blocks and enciphered with AES in ECB mode.
// Datagrams are built and deciphered in two buffers that every endpoint of
// the process shares, so endpoints must not be used from two threads.
class SecureUdpEndpoint {
public:
    SecureUdpEndpoint() = default;
    virtual ~SecureUdpEndpoint();
    SecureUdpEndpoint(const SecureUdpEndpoint&) = delete;
    SecureUdpEndpoint& operator=(const SecureUdpEndpoint&) = delete;

    // Makes the socket (protocol 17, UDP), sets its options and binds it. 1
    // when a socket was obtained, whether or not the bind succeeded.
    int create(int protocol, int port);
    int bindPort(int port);
    // Shuts the socket down and closes it, if there is one. Always 1.
    int close();
    // A key text turns the cipher on (its GBK bytes, zero-filled to the key
    // size, are the key); none turns it off.
    void setKey(const std::wstring* keyText, int keyBits);

    // Receives one raw datagram whole: its length, or 0 or less when nothing
    // was received. The buffer is zero-filled first.
    long receiveFrom(unsigned char* buffer, std::size_t size, std::wstring* address, int* port);
    // Receives, deciphers and converts one datagram. The text is the part
    // before the first zero byte; one that does not fit the datagram (no
    // terminator, single-byte characters only) is empty. Gives the length.
    long receiveText(std::wstring& text, std::wstring* address, int* port);

    // Sends raw bytes to an address and port, or on the connected socket when
    // there is no address. 1 when every byte went out.
    int sendTo(const unsigned char* bytes, std::size_t count, const std::wstring* address, int port);
    // Builds, enciphers and sends one datagram. 0 when the address cannot be
    // resolved, the datagram would exceed the UDP maximum, or the send fails.
    int sendText(std::wstring_view text, const std::wstring* address, int port);

private:
    int cipherOn = 0;
    platform::SocketHandle socketHandle = platform::invalidSocket;
    AesCipher cipher;
};

// The text of a received datagram of `length` bytes at the start of a
// buffer that has 16 bytes of room behind it: deciphered in place when a
// cipher is given, up to the first zero byte, read as GBK; empty when it does
// not fit the datagram.
std::wstring datagramText(unsigned char* datagram, std::size_t length, const AesCipher* cipher);

// A dotted IPv4 address is given back as it is; a host name is looked up
// and its first IPv4 address given in dotted form. 1 or 0.
int resolveHost(const std::wstring& host, std::wstring& dotted);

}  // namespace quelvar
