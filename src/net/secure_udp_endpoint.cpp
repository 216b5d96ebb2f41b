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

}  // namespace

SecureUdpEndpoint::SecureUdpEndpoint() : receiveBuffer_(bufferBytes), sendBuffer_(bufferBytes) {}

SecureUdpEndpoint::~SecureUdpEndpoint() { close(); }

Status SecureUdpEndpoint::create(int protocol) {
    if (protocol != 17)
        return Status::error(Status::Code::unsupported, "open", "socket of protocol " + std::to_string(protocol),
                             "only UDP (17) is carried");
    close();
    if (Status opened = platform::openUdpSocket(socketHandle); !opened.ok()) return opened;
    platform::setSocketOptions(socketHandle, socketBufferBytes, socketBufferBytes);
    platform::enlargeReceiveBuffer(socketHandle, burstBufferBytes);
    return {};
}

Status SecureUdpEndpoint::bindPort(int port) { return platform::bindUdpPort(socketHandle, port); }

void SecureUdpEndpoint::setReceiveTimeout(int milliseconds) {
    platform::setReceiveTimeout(socketHandle, milliseconds);
}

void SecureUdpEndpoint::close() {
    if (socketHandle != platform::invalidSocket) {
        platform::closeSocket(socketHandle);
        socketHandle = platform::invalidSocket;
    }
}

void SecureUdpEndpoint::setKey(const std::wstring* keyText, int keyBits) {
    cipherOn = keyText != nullptr ? 1 : 0;
    if (keyText == nullptr) return;
    std::array<std::uint8_t, 256> key{};
    const std::string bytes = toGbk(*keyText);
    std::memcpy(key.data(), bytes.data(), std::min(bytes.size(), key.size() - 1));
    static_cast<void>(makeKey(cipher, key.data(), keyBits));
}

Status SecureUdpEndpoint::receiveFrom(unsigned char* buffer, std::size_t size, platform::Peer& sender,
                                      std::size_t& length) {
    return platform::receiveDatagram(socketHandle, buffer, size, length, &sender);
}

Status SecureUdpEndpoint::receiveText(std::wstring& text, platform::Peer& sender, std::size_t& length) {
    // Only the block behind the datagram needs to be zero, not the whole
    // buffer: clearing 64 KiB for every datagram was most of the work.
    const Status received = receiveFrom(receiveBuffer_.data(), receiveBuffer_.size() - blockBytes, sender, length);
    if (!received.ok() || length == 0) return received;
    text = datagramText(receiveBuffer_.data(), length, cipherOn == 1 ? &cipher : nullptr);
    return {};
}

Status SecureUdpEndpoint::receiveWaitingText(std::wstring& text, platform::Peer& sender, std::size_t& length) {
    const Status received = platform::receiveWaitingDatagram(socketHandle, receiveBuffer_.data(),
                                                             receiveBuffer_.size() - blockBytes, length, &sender);
    if (!received.ok() || length == 0) return received;
    text = datagramText(receiveBuffer_.data(), length, cipherOn == 1 ? &cipher : nullptr);
    return {};
}

Status SecureUdpEndpoint::sendTo(const unsigned char* bytes, std::size_t count, const platform::Peer& target) {
    return platform::sendDatagram(socketHandle, bytes, count, target);
}

Status SecureUdpEndpoint::sendText(std::wstring_view text, const platform::Peer& target, std::size_t mostBytes) {
    const std::string bytes = toGbk(text);
    std::size_t length = bytes.size() + 1;
    if (cipherOn == 1) length += blockBytes - length % blockBytes;
    if (length > platform::largestDatagram)
        return Status::error(Status::Code::failed, "send to", target.address,
                             "the text does not fit into one datagram");
    if (length > mostBytes)
        return Status::error(Status::Code::failed, "send to", target.address,
                             "the answer would be longer than the datagram answered");
    std::memcpy(sendBuffer_.data(), bytes.data(), bytes.size());
    std::memset(sendBuffer_.data() + bytes.size(), 0, length - bytes.size());
    if (cipherOn == 1) encryptBuffer(cipher, sendBuffer_.data(), length);
    platform::Peer resolved{{}, target.port};
    if (Status found = resolveHost(target.address, resolved.address); !found.ok()) return found;
    return sendTo(sendBuffer_.data(), length, resolved);
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

Status resolveHost(const std::string& host, std::string& dotted) {
    if (platform::isDottedAddress(host)) {
        dotted = host;
        return {};
    }
    return platform::lookupHost(host, dotted);
}

}  // namespace quelvar
