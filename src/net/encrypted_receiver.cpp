#include "net/encrypted_receiver.h"

#include <algorithm>
#include <chrono>

#include "core/format.h"
#include "core/numbers.h"
#include "core/text.h"
#include "core/time.h"
#include "filing/record_files.h"
#include "message/datagram.h"
#include "message/merged_call.h"
#include "net/gate.h"
#include "net/macless_rows.h"
#include "net/recent_record_table.h"
#include "net/secure_udp_endpoint.h"
#include "net/start_failure.h"
#include "platform/process.h"

namespace quelvar {

namespace {

constexpr int udpProtocol = 17;

// An answer waiting for its batch to be on the disk; `filedNow` when it
// answers a datagram of this batch (or a repeat of one), which the batch's
// failure leaves unanswered.
struct Answer {
    std::wstring id;
    platform::Peer sender;
    std::size_t carried = 0;
    std::string key;
    bool filedNow = false;
};

// Everything one datagram meets on its way, owned by the loop.
struct Receiver {
    const EventLog& log;
    Intake& intake;
    FilingBatch& batch;
    Gate gate;
    SecureUdpEndpoint endpoint;
    RecentRecordTable recentRecords;
    Datagram datagram;
    MergedCall call;
    MaclessRowRate maclessRows;
    // The batch's answers in the order their datagrams came, and the keys it filed.
    std::vector<Answer> answers;
    std::vector<std::string> filedKeys;
};

// Never more bytes than the datagram answered carried: a repeat claiming
// another's address must not turn the collector into an amplifier.
void answer(Receiver& receiver, const Answer& waiting) {
    // Whether the answer went out is not looked at: a switch without it sends
    // the record again, and is answered again.
    static_cast<void>(
        receiver.endpoint.sendText(std::wstring(L"RECORD:ID=").append(waiting.id), waiting.sender, waiting.carried));
}

void takeBack(Receiver& receiver) {
    std::vector<Status> failures;
    receiver.batch.takeBack(failures);
    for (const Status& failure : failures) receiver.log.writeEventLine(linesNotTakenBack(failure));
}

bool filedNow(const Receiver& receiver, const std::string& key) {
    return std::find(receiver.filedKeys.begin(), receiver.filedKeys.end(), key) != receiver.filedKeys.end();
}

// One datagram, from its text to its merged call and its answer, which waits
// for the batch.
void handleDatagram(Receiver& receiver, std::wstring_view text, std::size_t carried, const platform::Peer& sender) {
    const std::wstring address = fromAnsi(sender.address);
    if (!isRecordDatagram(text)) {
        if (receiver.gate.mayTellUnknown())
            receiver.log.writeEventLine(
                formatText(L"unknown message %s:%d [%s]\r\n", address, sender.port, shownPayload(text)));
        return;
    }
    if (hasMoreLinesThan(text, mostDatagramLines)) {
        if (receiver.gate.mayTellUnknown())
            receiver.log.writeEventLine(formatText(L"WARNING   datagram of more than %d lines from %s:%d refused\r\n",
                                                   static_cast<int>(mostDatagramLines), address, sender.port));
        return;
    }
    Datagram& datagram = receiver.datagram;
    decodeDatagram(text, datagram);
    const auto macless = std::count_if(datagram.lines.begin(), datagram.lines.end(), [](const DatagramLine& line) {
        return line.record.isRecord() && line.record[Field::mac].empty();
    });
    if (!receiver.maclessRows.admits(sender.address, static_cast<std::size_t>(macless), platform::currentTime())) {
        if (receiver.gate.mayTellUnknown())
            receiver.log.writeEventLine(
                formatText(L"WARNING   datagram of %d rows without a MAC from %s:%d refused\r\n",
                           static_cast<int>(macless), address, sender.port));
        return;
    }
    const std::wstring_view mac = datagram.lines.empty() ? std::wstring_view() : datagram.lines.front().record[Field::mac];
    const std::string key = repeatKeyFor(sender.address, toGbk(mac), repeatKeyOf(datagram.rid));
    std::string firstAnswer;
    if (receiver.recentRecords.isRepeatedRecord(key, platform::currentTime(), &firstAnswer)) {
        // Filed already; the switch may have lost our answer, so answer again.
        if (!firstAnswer.empty())
            receiver.answers.push_back({fromGbk(firstAnswer), sender, carried, key, filedNow(receiver, key)});
        return;
    }

    // Every line is filed or logged as it came, each followed by its
    // "recvfrom" line; the highest ID among them is the answer. The
    // "recvfrom" line of a line filed is the log of the calls; the others'
    // are under the sender's cap.
    std::wstring_view bestId;
    bool unwritten = false;
    bool anyFiled = false;
    for (const DatagramLine& line : datagram.lines) {
        std::wstring_view reply;
        bool filed = false;
        unwritten = !receiver.intake.submitMessage(line.record, line.text, reply, &filed).ok() || unwritten;
        const std::wstring received =
            formatText(L"recvfrom %s:%d [%s]\r\n", address, sender.port, shownPayload(line.text));
        if (filed)
            receiver.log.writeEventLine(received);
        else
            receiver.gate.lines().write(NetworkLine::other, received);
        anyFiled = anyFiled || filed;
        if (leadingInteger(reply) > leadingInteger(bestId)) bestId = reply;
    }

    // The answer says that every line of the call is on disk, the merged
    // call's too.
    mergeCall(datagram.lines, currentLocalTime(), receiver.call);
    std::wstring_view ignored;
    unwritten = !receiver.intake.submitMessage(receiver.call.record(), {}, ignored).ok() || unwritten;
    std::string answerBytes = toGbk(bestId);
    if (!unwritten) {
        if (const Status finished = receiver.batch.finish(key, answerBytes); !finished.ok()) {
            receiver.gate.lines().write(NetworkLine::notWritten, recordNotWritten(finished));
            unwritten = true;
        }
    }

    if (unwritten) {
        // Not acknowledged: the switch sends it again, and that copy must
        // neither find lines of this one nor be taken for a repeat.
        takeBack(receiver);
        receiver.recentRecords.forgetRecord(key);
    } else if (!bestId.empty() || anyFiled) {
        receiver.filedKeys.push_back(key);
        if (!bestId.empty()) receiver.answers.push_back({std::wstring(bestId), sender, carried, key, true});
        receiver.recentRecords.rememberAcknowledgement(key, std::move(answerBytes));
    } else {
        // Neither answered nor filed: it takes no room among the recent records.
        receiver.recentRecords.forgetRecord(key);
    }
}

// The batch on the disk, then its answers in the order their datagrams
// came; when it cannot be, none of its datagrams is answered or taken for
// a repeat.
void commitBatch(Receiver& receiver) {
    std::vector<Status> failures;
    const Status committed = receiver.batch.commit(failures);
    if (!committed.ok()) {
        receiver.log.writeEventLine(recordNotWritten(committed));
        for (const Status& failure : failures) receiver.log.writeEventLine(linesNotTakenBack(failure));
        for (const std::string& key : receiver.filedKeys) receiver.recentRecords.forgetRecord(key);
    }
    for (const Answer& waiting : receiver.answers)
        if (committed.ok() || !waiting.filedNow) answer(receiver, waiting);
    receiver.answers.clear();
    receiver.filedKeys.clear();
}

}  // namespace

std::string repeatKeyOf(std::wstring_view rid) {
    std::string bytes = toOemText(rid);
    const std::size_t dash = bytes.find('-');
    if (dash == std::string::npos) return {};
    bytes.resize(dash);
    return bytes;
}

Status runEncryptedReceiver(const EventLog& log, NetworkLog& lines, Intake& intake, FilingBatch& batch,
                            const std::vector<AddressRange>& allow) {
    Receiver receiver{log, intake, batch, Gate(lines, allow), {}, {}, {}, {}, {}, {}, {}};
    // The call filed last before the start may not have been answered.
    for (const FilingBatch::Filed& filed : batch.filedBeforeStart())
        if (!receiver.recentRecords.isRepeatedRecord(filed.key, platform::currentTime()))
            receiver.recentRecords.rememberAcknowledgement(filed.key, filed.answer);
    if (Status made = receiver.endpoint.create(udpProtocol); !made.ok())
        return cannotStart(log, L"Sock Create failed!\r\n", std::move(made));
    if (Status bound = receiver.endpoint.bindPort(recordPort); !bound.ok())
        return cannotStart(log, L"Sock Create failed!\r\n", std::move(bound));
    // Waits are cut short now and then to see a stop request and the ends of minutes.
    receiver.endpoint.setReceiveTimeout(1000);
    const std::wstring keyText = L"LumenHarpQi";
    receiver.endpoint.setKey(&keyText, 128);
    platform::notifyServiceManager("READY=1");

    std::wstring text;
    platform::Peer sender;
    while (!platform::stopRequested()) {
        const TimeValue now = platform::currentTime();
        receiver.gate.tick(now);
        receiver.intake.tick(now);
        std::size_t length = 0;
        if (!receiver.endpoint.receiveText(text, sender, length).ok()) {
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
            if (receiver.gate.admits(sender, now)) handleDatagram(receiver, text, length, sender);
            if (taken == mostBatchDatagrams || std::chrono::steady_clock::now() - started > batchWork) break;
            if (!receiver.endpoint.receiveWaitingText(text, sender, length).ok() || length == 0) break;
        }
        commitBatch(receiver);
    }
    receiver.gate.close();
    return {};
}

}  // namespace quelvar
