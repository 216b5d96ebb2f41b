#include "net/plain_receiver.h"

#include <vector>

#include "core/format.h"
#include "core/text.h"
#include "filing/record_files.h"
#include "message/datagram.h"
#include "message/plain_fields.h"
#include "net/encrypted_receiver.h"
#include "net/gate.h"
#include "net/recent_record_table.h"
#include "net/start_failure.h"
#include "platform/clock.h"
#include "platform/process.h"
#include "platform/udp.h"

namespace quelvar {

namespace {

// Room in the kernel for bursts that come faster than records are filed.
constexpr int burstBufferBytes = 16 << 20;

// Everything one datagram meets on its way, owned by the loop.
struct Receiver {
    const EventLog& log;
    PlainRecordWriter& writer;
    FilingBatch& batch;
    Gate gate;
    platform::SocketHandle socket;
    RecentRecordTable recentRecords;
};

// The answer is its text and one zero byte, and never more bytes than the
// datagram answered carried: a repeat claiming another's address must not
// turn the collector into an amplifier.
void acknowledge(Receiver& receiver, std::string_view text, const platform::Peer& sender, std::size_t carried) {
    if (text.size() + 1 > carried) return;
    std::string datagram(text);
    datagram.push_back('\0');
    if (!platform::sendDatagram(receiver.socket, reinterpret_cast<const unsigned char*>(datagram.data()),
                                datagram.size(), sender)
             .ok())
        receiver.log.writePlainEventLine("sendto error!");
}

// One datagram, from its text to its acknowledgement.
void handleDatagram(Receiver& receiver, std::string_view text, std::size_t carried, const platform::Peer& sender) {
    if (!isPlainRecord(text)) {
        if (receiver.gate.mayTellUnknown())
            receiver.log.writePlainEventLine(
                formatBytes("unknown message %s:%d [%s]", sender.address, sender.port, shownPayload(text)));
        return;
    }
    if (hasMoreLinesThan(text, mostDatagramLines)) {
        if (receiver.gate.mayTellUnknown())
            receiver.log.writePlainEventLine(formatBytes("WARNING   datagram of more than %d lines from %s:%d refused",
                                                         static_cast<int>(mostDatagramLines), sender.address,
                                                         sender.port));
        return;
    }
    PlainFields fields;
    extractPlainFields(text, fields);
    const std::string key = repeatKeyFor(sender.address, fields.mac, plainRepeatKey(text));
    std::string firstAnswer;
    if (receiver.recentRecords.isRepeatedRecord(key, platform::currentTime(), &firstAnswer)) {
        // Filed already; the switch may have lost our answer, so answer again.
        acknowledge(receiver, firstAnswer, sender, carried);
        return;
    }
    // The "recvfrom" line of a record filed is the log of the calls; the
    // others' are under the sender's cap.
    NetworkLog& lines = receiver.gate.lines();
    const std::string received = formatBytes("recvfrom %s:%d [%s]", sender.address, sender.port, shownPayload(text));
    // The text before the first "&"; none at all without one.
    const std::size_t ampersand = text.find('&');
    const std::string_view answer =
        ampersand == std::string_view::npos ? std::string_view() : text.substr(0, ampersand);
    if (text.starts_with("RECORD")) {
        const StoredPlainRecord stored = receiver.writer.storePlainRecord(fields);
        if (stored.written() && !fields.mac.empty())
            receiver.log.writePlainEventLine(received);
        else
            lines.writePlain(NetworkLine::other, received);
        for (const Status* line : {&stored.newText, &stored.csv, &stored.oldText})
            if (!line->ok()) lines.writePlain(NetworkLine::notWritten, recordNotWrittenBytes(*line));
        bool written = stored.written();
        if (written && stored.noSuchDay)
            lines.writePlain(NetworkLine::other, filedWithoutDayBytes(fields.rid, fields.timeStart));
        if (written) {
            if (const Status finished = receiver.batch.finish(key, answer); !finished.ok()) {
                lines.writePlain(NetworkLine::notWritten, recordNotWrittenBytes(finished));
                written = false;
            }
        }
        if (!written) {
            // Not acknowledged: the switch sends it again, and that copy must
            // neither find lines of this one nor be taken for a repeat.
            std::vector<Status> failures;
            receiver.batch.takeBack(failures);
            for (const Status& failure : failures) receiver.log.writePlainEventLine(linesNotTakenBackBytes(failure));
            receiver.recentRecords.forgetRecord(key);
            return;
        }
    } else {
        // A head in another letter case passes as a record, but only "RECORD"
        // is filed: the log shows the text behind a head of its own.
        lines.writePlain(NetworkLine::other, received);
        lines.writePlain(NetworkLine::other,
                         formatBytes("not a record %s:%d [%s]", sender.address, sender.port, shownPayload(text)));
    }
    acknowledge(receiver, answer, sender, carried);
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

Status runPlainReceiver(const EventLog& log, NetworkLog& lines, PlainRecordWriter& writer, FilingBatch& batch,
                        const std::vector<AddressRange>& allow) {
    Receiver receiver{log, writer, batch, Gate(lines, allow), platform::invalidSocket, {}};
    // The record filed last before the start may not have been answered.
    if (std::string key, firstAnswer; batch.filedBeforeStart(key, firstAnswer) &&
                                      !receiver.recentRecords.isRepeatedRecord(key, platform::currentTime()))
        receiver.recentRecords.rememberAcknowledgement(key, std::move(firstAnswer));
    if (Status opened = platform::openUdpSocket(receiver.socket); !opened.ok()) {
        if (opened.is(Status::Code::unavailable)) return cannotStart(log, L"start ws failed!\r\n", std::move(opened));
        if (opened.is(Status::Code::unsupported)) return cannotStart(log, L"ws version error\r\n", std::move(opened));
        return cannotStart(log, L"bind failed!\r\n", std::move(opened));
    }
    if (Status bound = platform::bindUdpPort(receiver.socket, recordPort); !bound.ok()) {
        platform::closeSocket(receiver.socket);
        return cannotStart(log, L"bind failed!\r\n", std::move(bound));
    }
    platform::enlargeReceiveBuffer(receiver.socket, burstBufferBytes);
    // Waits are cut short now and then to see a stop request and the ends of minutes.
    platform::setReceiveTimeout(receiver.socket, 1000);
    platform::notifyServiceManager("READY=1");

    // Room for the largest datagram and a zero byte behind it.
    std::vector<unsigned char> buffer(platform::largestDatagram + 1);
    platform::Peer sender;
    while (!platform::stopRequested()) {
        const TimeValue now = platform::currentTime();
        receiver.gate.tick(now);
        std::size_t length = 0;
        if (!platform::receiveDatagram(receiver.socket, buffer.data(), buffer.size() - 1, length, &sender).ok()) {
            // A socket that fails at once would keep the processor busy.
            platform::sleepMilliseconds(10);
            continue;
        }
        // An empty datagram, or none in time.
        if (length == 0) continue;
        if (!receiver.gate.admits(sender, now)) continue;
        // The text ends at the first zero byte, or with the datagram.
        buffer[length] = 0;
        handleDatagram(receiver, std::string_view(reinterpret_cast<const char*>(buffer.data())), length, sender);
    }
    receiver.gate.close();
    platform::closeSocket(receiver.socket);
    return {};
}

}  // namespace quelvar
