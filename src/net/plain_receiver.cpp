#include "net/plain_receiver.h"

#include <vector>

#include "core/format.h"
#include "filing/record_files.h"
#include "message/plain_fields.h"
#include "net/recent_record_table.h"
#include "platform/clock.h"
#include "platform/udp.h"

namespace quelvar {

namespace {

constexpr int recordPort = 1809;
// Room in the kernel for bursts that come faster than records are filed.
constexpr int burstBufferBytes = 16 << 20;

// Everything one datagram meets on its way, owned by the loop.
struct Receiver {
    const EventLog& log;
    PlainRecordWriter& writer;
    platform::SocketHandle socket;
    RecentRecordTable recentRecords;
};

// The answer is its text and one zero byte.
void acknowledge(Receiver& receiver, std::string_view text, const platform::Peer& sender) {
    std::string datagram(text);
    datagram.push_back('\0');
    if (!platform::sendDatagram(receiver.socket, reinterpret_cast<const unsigned char*>(datagram.data()),
                                datagram.size(), sender)
             .ok())
        receiver.log.writePlainEventLine("sendto error!");
}

// One datagram, from its text to its acknowledgement.
void handleDatagram(Receiver& receiver, std::string_view text, const platform::Peer& sender) {
    if (!isPlainRecord(text)) {
        receiver.log.writePlainEventLine(formatBytes("unknown message %s:%d [%s]", sender.address, sender.port, text));
        return;
    }
    const std::string key = plainRepeatKey(text);
    std::string firstAnswer;
    if (receiver.recentRecords.isRepeatedRecord(key, platform::currentTime(), &firstAnswer)) {
        // Filed already; the switch may have lost our answer, so answer again.
        acknowledge(receiver, firstAnswer, sender);
        return;
    }
    receiver.log.writePlainEventLine(formatBytes("recvfrom %s:%d [%s]", sender.address, sender.port, text));
    if (text.starts_with("RECORD")) {
        PlainFields fields;
        extractPlainFields(text, fields);
        const StoredPlainRecord stored = receiver.writer.storePlainRecord(fields);
        for (const Status* line : {&stored.newText, &stored.csv, &stored.oldText})
            if (!line->ok()) receiver.log.writePlainEventLine(recordNotWrittenBytes(*line));
        if (!stored.written()) {
            // Not acknowledged: the switch sends it again, and that copy must
            // not be taken for a repeat.
            receiver.recentRecords.forgetRecord(key);
            return;
        }
    } else {
        // A head in another letter case passes as a record, but only "RECORD"
        // is filed: the text goes to the log as it came.
        receiver.log.writePlainEventLine(text);
    }
    // The text before the first "&"; none at all without one.
    const std::size_t ampersand = text.find('&');
    const std::string_view answer = ampersand == std::string_view::npos ? std::string_view() : text.substr(0, ampersand);
    acknowledge(receiver, answer, sender);
    receiver.recentRecords.rememberAcknowledgement(key, std::string(answer));
}

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

void runPlainReceiver(const EventLog& log, PlainRecordWriter& writer) {
    Receiver receiver{log, writer, platform::invalidSocket, {}};
    const Status opened = platform::openUdpSocket(receiver.socket);
    if (opened.is(Status::Code::unavailable)) {
        log.writeEventLine(L"start ws failed!\r\n");
        return;
    }
    if (opened.is(Status::Code::unsupported)) {
        log.writeEventLine(L"ws version error\r\n");
        return;
    }
    if (!opened.ok() || !platform::bindUdpPort(receiver.socket, recordPort).ok()) {
        log.writeEventLine(L"bind failed!\r\n");
        if (receiver.socket != platform::invalidSocket) platform::closeSocket(receiver.socket);
        return;
    }
    platform::enlargeReceiveBuffer(receiver.socket, burstBufferBytes);

    // Room for the largest datagram and a zero byte behind it.
    std::vector<unsigned char> buffer(platform::largestDatagram + 1);
    platform::Peer sender;
    for (;;) {
        std::size_t length = 0;
        if (!platform::receiveDatagram(receiver.socket, buffer.data(), buffer.size() - 1, length, &sender).ok() ||
            length == 0) {
            platform::sleepMilliseconds(10);
            continue;
        }
        // The text ends at the first zero byte, or with the datagram.
        buffer[length] = 0;
        handleDatagram(receiver, std::string_view(reinterpret_cast<const char*>(buffer.data())), sender);
    }
}

}  // namespace quelvar
