#pragma once
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "net/aes_cipher.h"
#include "platform/status.h"
#include "platform/udp.h"

namespace quelvar {

// One IPv4 UDP socket that carries text as GBK, closed by a zero byte,
// padded with zero bytes to whole blocks and enciphered with AES in ECB mode.
// It owns the buffers its datagrams are built and deciphered in.
class SecureUdpEndpoint {
public:
    SecureUdpEndpoint();
    virtual ~SecureUdpEndpoint();
    SecureUdpEndpoint(const SecureUdpEndpoint&) = delete;
    SecureUdpEndpoint& operator=(const SecureUdpEndpoint&) = delete;

    // Makes the socket (protocol 17, UDP) and sets its options.
    Status create(int protocol);
    // Binds it to every local address and the port.
    Status bindPort(int port);
    // A receive waits at most that long.
    void setReceiveTimeout(int milliseconds);
    // Shuts the socket down and closes it, if there is one.
    void close();
    // A key text turns the cipher on (its GBK bytes, zero-filled to the key
    // size, are the key); none turns it off.
    void setKey(const std::wstring* keyText, int keyBits);

    // Receives one raw datagram whole into the buffer: its length in `length`.
    Status receiveFrom(unsigned char* buffer, std::size_t size, platform::Peer& sender, std::size_t& length);
    // Receives, deciphers and converts one datagram: `length` is its size in
    // bytes (0 for an empty one), `text` the part before the first zero byte,
    // empty when it does not fit the datagram (no terminator, single-byte
    // characters only).
    Status receiveText(std::wstring& text, platform::Peer& sender, std::size_t& length);
    // The same without waiting: a length of 0 when none is there.
    Status receiveWaitingText(std::wstring& text, platform::Peer& sender, std::size_t& length);

    // Sends raw bytes to a dotted address and port.
    Status sendTo(const unsigned char* bytes, std::size_t count, const platform::Peer& target);
    // Builds, enciphers and sends one datagram to an address (dotted or a
    // host name) and port. Fails when the address cannot be resolved, the
    // datagram would exceed `mostBytes` or the UDP maximum, or the send fails.
    Status sendText(std::wstring_view text, const platform::Peer& target,
                    std::size_t mostBytes = platform::largestDatagram);

private:
    int cipherOn = 0;
    platform::SocketHandle socketHandle = platform::invalidSocket;
    AesCipher cipher;
    std::vector<unsigned char> receiveBuffer_;
    std::vector<unsigned char> sendBuffer_;
};

// The text of a received datagram of `length` bytes at the start of a
// buffer that has 16 bytes of room behind it: deciphered in place when a
// cipher is given, up to the first zero byte, read as GBK; empty when it does
// not fit the datagram.
std::wstring datagramText(unsigned char* datagram, std::size_t length, const AesCipher* cipher);

// A dotted IPv4 address is given back as it is; a host name is looked up
// and its first IPv4 address given in dotted form.
Status resolveHost(const std::string& host, std::string& dotted);

}  // namespace quelvar
