#include "net/plain_receiver.h"

#include <algorithm>
#include <chrono>
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

// An answer waiting for its batch to be on the disk; `filedNow` when it
// answers a datagram of this batch (or a repeat of one), which the batch's
// failure leaves unanswered.
struct Answer {
    std::string text;
    platform::Peer sender;
    std::size_t carried = 0;
    bool filedNow = false;
};

// Everything one datagram meets on its way, owned by the loop.
struct Receiver {
    const EventLog& log;
    PlainRecordWriter& writer;
    FilingBatch& batch;
    Gate gate;
    platform::SocketHandle socket;
    RecentRecordTable recentRecords;
    // The batch's answers in the order their datagrams came, and the keys it filed.
    std::vector<Answer> answers;
    std::vector<std::string> filedKeys;
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

bool filedNow(const Receiver& receiver, const std::string& key) {
    return std::find(receiver.filedKeys.begin(), receiver.filedKeys.end(), key) != receiver.filedKeys.end();
}

// One datagram, from its text to its acknowledgement, which waits for the batch.
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
        receiver.answers.push_back({std::move(firstAnswer), sender, carried, filedNow(receiver, key)});
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
    receiver.filedKeys.push_back(key);
    receiver.answers.push_back({std::string(answer), sender, carried, true});
    receiver.recentRecords.rememberAcknowledgement(key, std::string(answer));
}

// The batch on the disk, then its answers in the order their datagrams
// came; when it cannot be, none of its datagrams is answered or taken for
// a repeat.
void commitBatch(Receiver& receiver) {
    std::vector<Status> failures;
    const Status committed = receiver.batch.commit(failures);
    if (!committed.ok()) {
        receiver.log.writePlainEventLine(recordNotWrittenBytes(committed));
        for (const Status& failure : failures) receiver.log.writePlainEventLine(linesNotTakenBackBytes(failure));
        for (const std::string& key : receiver.filedKeys) receiver.recentRecords.forgetRecord(key);
    }
    for (const Answer& waiting : receiver.answers)
        if (committed.ok() || !waiting.filedNow) acknowledge(receiver, waiting.text, waiting.sender, waiting.carried);
    receiver.answers.clear();
    receiver.filedKeys.clear();
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
    Receiver receiver{log, writer, batch, Gate(lines, allow), platform::invalidSocket, {}, {}, {}};
    // The record filed last before the start may not have been answered.
    for (const FilingBatch::Filed& filed : batch.filedBeforeStart())
        if (!receiver.recentRecords.isRepeatedRecord(filed.key, platform::currentTime()))
            receiver.recentRecords.rememberAcknowledgement(filed.key, filed.answer);
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
        if (length == 0) {
            receiver.batch.rest();
            continue;
        }
        // With it, every datagram already waiting, within bounds: they share
        // the syncs of one batch.
        const auto started = std::chrono::steady_clock::now();
        for (std::size_t taken = 1;; ++taken) {
            if (receiver.gate.admits(sender, now)) {
                // The text ends at the first zero byte, or with the datagram.
                buffer[length] = 0;
                handleDatagram(receiver, std::string_view(reinterpret_cast<const char*>(buffer.data())), length,
                               sender);
            }
            if (taken == mostBatchDatagrams || std::chrono::steady_clock::now() - started > batchWork) break;
            if (!platform::receiveWaitingDatagram(receiver.socket, buffer.data(), buffer.size() - 1, length, &sender)
                     .ok() ||
                length == 0)
                break;
        }
        commitBatch(receiver);
    }
    receiver.gate.close();
    platform::closeSocket(receiver.socket);
    return {};
}

}  // namespace quelvar
