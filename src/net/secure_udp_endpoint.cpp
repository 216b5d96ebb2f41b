#include "net/secure_udp_endpoint.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "core/text.h"

namespace quelvar {

namespace {

constexpr std::size_t blockBytes = 16;
// Room for the largest datagram and one block of zero bytes behind it: a
// trailing partial block is deciphered together with them, and the search
// for the terminator ends in them.
constexpr std::size_t bufferBytes = 65536 + blockBytes;
constexpr int socketBufferBytes = 32768;
// Switches send in bursts faster than records are filed; the kernel queues
// them here meanwhile (a burst of 10,000 small datagrams needs about 8 MiB).
constexpr int burstBufferBytes = 16 << 20;

std::array<unsigned char, bufferBytes> receiveBuffer;
std::array<unsigned char, bufferBytes> sendBuffer;

}  // namespace

SecureUdpEndpoint::~SecureUdpEndpoint() { close(); }

int SecureUdpEndpoint::create(int protocol, int port) {
    if (protocol != 17) return 0;
    socketHandle = platform::openUdpSocket();
    if (socketHandle == platform::invalidSocket) return 0;
    platform::setSocketOptions(socketHandle, socketBufferBytes, socketBufferBytes);
    platform::enlargeReceiveBuffer(socketHandle, burstBufferBytes);
    bindPort(port);
    return 1;
}

int SecureUdpEndpoint::bindPort(int port) { return platform::bindUdpPort(socketHandle, port) ? 1 : 0; }

int SecureUdpEndpoint::close() {
    if (socketHandle != platform::invalidSocket) {
        platform::closeSocket(socketHandle);
        socketHandle = platform::invalidSocket;
    }
    return 1;
}

void SecureUdpEndpoint::setKey(const std::wstring* keyText, int keyBits) {
    cipherOn = keyText != nullptr ? 1 : 0;
    if (keyText == nullptr) return;
    std::array<std::uint8_t, 256> key{};
    const std::string bytes = toGbk(*keyText);
    std::memcpy(key.data(), bytes.data(), std::min(bytes.size(), key.size() - 1));
    makeKey(cipher, key.data(), keyBits);
}

long SecureUdpEndpoint::receiveFrom(unsigned char* buffer, std::size_t size, std::wstring* address, int* port) {
    std::memset(buffer, 0, size);
    std::string dotted;
    const long received = platform::receiveDatagram(socketHandle, buffer, size, address ? &dotted : nullptr, port);
    if (received > 0 && address != nullptr) *address = fromAnsi(dotted);
    return received;
}

long SecureUdpEndpoint::receiveText(std::wstring& text, std::wstring* address, int* port) {
    // Only the block behind the datagram needs to be zero, not the whole
    // buffer: clearing 64 KiB for every datagram was most of the work.
    std::string dotted;
    const long received = platform::receiveDatagram(socketHandle, receiveBuffer.data(),
                                                    receiveBuffer.size() - blockBytes, address ? &dotted : nullptr, port);
    if (received <= 0) return received;
    if (address != nullptr) *address = fromAnsi(dotted);
    text = datagramText(receiveBuffer.data(), static_cast<std::size_t>(received), cipherOn == 1 ? &cipher : nullptr);
    return received;
}

int SecureUdpEndpoint::sendTo(const unsigned char* bytes, std::size_t count, const std::wstring* address, int port) {
    if (address != nullptr && port != 0)
        return platform::sendDatagram(socketHandle, bytes, count, toAnsi(*address), port) ? 1 : 0;
    return platform::sendConnected(socketHandle, bytes, count) ? 1 : 0;
}

int SecureUdpEndpoint::sendText(std::wstring_view text, const std::wstring* address, int port) {
    const std::string bytes = toGbk(text);
    std::size_t length = bytes.size() + 1;
    if (cipherOn == 1) length += blockBytes - length % blockBytes;
    if (length > platform::largestDatagram) return 0;
    std::memcpy(sendBuffer.data(), bytes.data(), bytes.size());
    std::memset(sendBuffer.data() + bytes.size(), 0, length - bytes.size());
    if (cipherOn == 1) encryptBuffer(cipher, sendBuffer.data(), length);
    if (address == nullptr) return sendTo(sendBuffer.data(), length, nullptr, 0);
    std::wstring dotted;
    if (!resolveHost(*address, dotted)) return 0;
    return sendTo(sendBuffer.data(), length, &dotted, port);
}

std::wstring datagramText(unsigned char* datagram, std::size_t length, const AesCipher* cipher) {
    std::memset(datagram + length, 0, blockBytes);
    // The last byte of a datagram one longer than whole blocks stays as it
    // came; any other partial block is deciphered with the zeros behind it.
    if (cipher != nullptr && length > 0) decryptBuffer(*cipher, datagram, length - 1);
    const auto* terminator = static_cast<const unsigned char*>(std::memchr(datagram, 0, length + blockBytes));
    const std::size_t textBytes = terminator ? static_cast<std::size_t>(terminator - datagram) : length + blockBytes;
    std::wstring text = fromGbk(std::string_view(reinterpret_cast<const char*>(datagram), textBytes));
    if (text.size() + 1 > length) text.clear();
    return text;
}

int resolveHost(const std::wstring& host, std::wstring& dotted) {
    const std::string name = toAnsi(host);
    if (platform::isDottedAddress(name)) {
        dotted = host;
        return 1;
    }
    std::string found;
    if (!platform::lookupHost(name, found)) return 0;
    dotted = fromAnsi(found);
    return 1;
}

}  // namespace quelvar
