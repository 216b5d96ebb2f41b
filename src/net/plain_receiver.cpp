#include "net/plain_receiver.h"

#include <array>
#include <string>
#include <string_view>

#include "core/format.h"
#include "core/text.h"
#include "net/recent_record_table.h"
#include "platform/clock.h"
#include "platform/udp.h"
#include "store/intake.h"
#include "store/plain_writer.h"

namespace quelvar {

namespace {

constexpr int recordPort = 1809;
// Room in the kernel for bursts that come faster than records are filed.
constexpr int burstBufferBytes = 16 << 20;

// Room for the largest datagram and a zero byte behind it.
std::array<unsigned char, platform::largestDatagram + 1> receiveBuffer;

}  // namespace

bool isPlainRecord(std::string_view text) {
    constexpr std::string_view head = "RECORD:";
    if (text.size() < head.size()) return false;
    for (std::size_t index = 0; index < head.size(); ++index) {
        const char c = text[index];
        const char upper = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
        if (upper != head[index]) return false;
    }
    return true;
}

std::string plainRepeatKey(std::string_view text) {
    const std::size_t rid = text.find("RID=");
    if (rid == std::string_view::npos) return {};
    const std::size_t dash = text.find('-', rid + 4);
    if (dash == std::string_view::npos) return {};
    return std::string(text.substr(rid + 4, dash - rid - 4));
}

namespace {

void acknowledge(platform::SocketHandle socket, const std::string& text, const std::string& address, int port) {
    std::string datagram = text;
    datagram.push_back('\0');
    if (!platform::sendDatagram(socket, reinterpret_cast<const unsigned char*>(datagram.data()), datagram.size(),
                                address, port))
        storePlainRecord("sendto error!");
}

void handleDatagram(platform::SocketHandle socket, std::string_view text, const std::string& address, int port) {
    if (!isPlainRecord(text)) {
        storePlainRecord(formatBytes("unknown message %s:%d [%s]", address, port, text));
        return;
    }
    const std::string key = plainRepeatKey(text);
    std::wstring firstAcknowledgement;
    if (isRepeatedRecord(key, platform::currentTime(), &firstAcknowledgement)) {
        // Filed already; the switch may have lost our answer, so answer again.
        acknowledge(socket, toAnsi(firstAcknowledgement), address, port);
        return;
    }
    storePlainRecord(formatBytes("recvfrom %s:%d [%s]", address, port, text));
    if (!storePlainRecord(text)) {
        // Not acknowledged: the switch sends it again, and that copy must
        // not be taken for a repeat.
        forgetRecord(key);
        return;
    }
    // The text before the first "&"; none at all without one.
    const std::size_t ampersand = text.find('&');
    const std::string acknowledgement(ampersand == std::string_view::npos ? std::string_view()
                                                                          : text.substr(0, ampersand));
    acknowledge(socket, acknowledgement, address, port);
    rememberAcknowledgement(key, fromAnsi(acknowledgement));
}

}  // namespace

void runPlainReceiver() {
    int major = 0, minor = 0;
    if (!platform::startSocketLayer(major, minor)) {
        submitMessage(L"start ws failed!\r\n");
        return;
    }
    if (major != 1 || minor != major) {
        platform::stopSocketLayer();
        submitMessage(L"ws version error\r\n");
        return;
    }
    const platform::SocketHandle socket = platform::openUdpSocket();
    if (socket == platform::invalidSocket || !platform::bindUdpPort(socket, recordPort)) {
        submitMessage(L"bind failed!\r\n");
        if (socket != platform::invalidSocket) platform::closeSocket(socket);
        platform::stopSocketLayer();
        return;
    }
    platform::enlargeReceiveBuffer(socket, burstBufferBytes);
    std::string address;
    int port = 0;
    for (;;) {
        const long received =
            platform::receiveDatagram(socket, receiveBuffer.data(), receiveBuffer.size() - 1, &address, &port);
        if (received <= 0) {
            platform::sleepMilliseconds(10);
            continue;
        }
        // The text ends at the first zero byte, or with the datagram.
        receiveBuffer[static_cast<std::size_t>(received)] = 0;
        const auto* begin = reinterpret_cast<const char*>(receiveBuffer.data());
        handleDatagram(socket, std::string_view(begin), address, port);
    }
}

}  // namespace quelvar
