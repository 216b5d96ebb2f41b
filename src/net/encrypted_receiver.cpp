#include "net/encrypted_receiver.h"

#include <array>
#include <string>
#include <vector>

#include "core/call_time.h"
#include "core/numbers.h"
#include "core/text.h"
#include "core/time.h"
#include "message/field_map.h"
#include "message/split_text.h"
#include "net/recent_record_table.h"
#include "net/secure_udp_endpoint.h"
#include "store/intake.h"

namespace quelvar {

namespace {

constexpr int recordPort = 1809;
constexpr int udpProtocol = 17;
constexpr std::size_t legCount = 5;

}  // namespace

bool isRecordDatagram(std::wstring_view text) {
    constexpr std::wstring_view head = L"RECORD:";
    if (text.size() < head.size()) return false;
    for (std::size_t index = 0; index < head.size(); ++index) {
        const wchar_t c = text[index];
        const wchar_t lower = (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c;
        const wchar_t expected = head[index];
        const wchar_t expectedLower =
            (expected >= L'A' && expected <= L'Z') ? static_cast<wchar_t>(expected - L'A' + L'a') : expected;
        if (lower != expectedLower) return false;
    }
    return true;
}

std::string repeatKeyOf(const FieldMap& datagramFields) {
    const std::string bytes = toOemText(fieldValue(datagramFields, L"RID"));
    const std::size_t dash = bytes.find('-');
    return dash == std::string::npos ? std::string() : bytes.substr(0, dash);
}

namespace {

struct MergedCall {
    std::wstring rid, account, cpn, cdpn, type, route, mac;
    std::array<std::vector<std::wstring>, 4> legs;  // TIME-S, TIME-E, DURATION, TRUNKN
};

void fillOnce(std::wstring& field, const std::wstring& value) {
    if (field.empty()) field = value;
}

void addLeg(MergedCall& call, const FieldMap& part) {
    fillOnce(call.rid, fieldValue(part, fieldValue(part, L"TYPE") == L"CB" ? L"CBID" : L"RID"));
    fillOnce(call.account, fieldValue(part, L"ACCOUNT"));
    fillOnce(call.cpn, fieldValue(part, L"CPN"));
    fillOnce(call.cdpn, fieldValue(part, L"CDPN"));
    fillOnce(call.type, fieldValue(part, L"TYPE"));
    fillOnce(call.route, fieldValue(part, L"ROUTE"));
    fillOnce(call.mac, fieldValue(part, L"MAC"));
    const std::wstring& start = fieldValue(part, L"TIME-S");
    const std::wstring& duration = fieldValue(part, L"DURATION");
    call.legs[0].push_back(start);
    call.legs[2].push_back(duration);
    call.legs[3].push_back(fieldValue(part, L"TRUNKN"));
    call.legs[1].push_back(endTimeText(start, leadingInteger(duration), currentLocalTime()));
}

}  // namespace

std::wstring mergeCallRecord(const std::vector<std::wstring>& parts) {
    FieldMap partFields;
    MergedCall call;
    for (const std::wstring& part : parts) {
        parseFieldMap(part, partFields);
        addLeg(call, partFields);
    }
    for (auto& list : call.legs) list.resize(list.size() + legCount);
    const auto leg = [&](std::size_t list, std::size_t index) -> const std::wstring& { return call.legs[list][index]; };
    return formatText(
        L"RECORD:RID=%s&ACCOUNT=%s&CPN=%s&COUNT=%s&CDPN=%s&TYPE=%s&ROUTE=%s&MAC=%s&TIME-S=%s&TIME-E=%s&DURATION=%s&"
        L"TRUNKN=%s&TIME-S1=%s&TIME-E1=%s&DURATION1=%s&TRUNKN1=%s&TIME-S2=%s&TIME-E2=%s&DURATION2=%s&TRUNKN2=%s&"
        L"TIME-S3=%s&TIME-E3=%s&DURATION3=%s&TRUNKN3=%s&TIME-S4=%s&TIME-E4=%s&DURATION4=%s&TRUNKN4=%s&",
        call.rid, call.account, call.cpn, formatText(L"%d", parts.size()), call.cdpn, call.type, call.route, call.mac,
        leg(0, 0), leg(1, 0), leg(2, 0), leg(3, 0), leg(0, 1), leg(1, 1), leg(2, 1), leg(3, 1), leg(0, 2),
        leg(1, 2), leg(2, 2), leg(3, 2), leg(0, 3), leg(1, 3), leg(2, 3), leg(3, 3), leg(0, 4), leg(1, 4),
        leg(2, 4), leg(3, 4));
}

namespace {

void handleDatagram(SecureUdpEndpoint& endpoint, const std::wstring& text, const std::wstring& address, int port) {
    if (!isRecordDatagram(text)) {
        submitMessage(L"unknown message %s:%d [%s]\r\n", address, port, text);
        return;
    }
    FieldMap datagramFields;
    parseFieldMap(text, datagramFields);
    const std::string key = repeatKeyOf(datagramFields);
    std::wstring firstAcknowledgement;
    if (isRepeatedRecord(key, platform::currentTime(), &firstAcknowledgement)) {
        // Filed already; the switch may have lost our answer, so answer again.
        if (!firstAcknowledgement.empty()) endpoint.sendText(L"RECORD:ID=" + firstAcknowledgement, &address, port);
        return;
    }

    std::vector<std::wstring> parts;
    splitText(text, L"\n", parts);
    std::wstring bestId;
    bool unwritten = false;
    for (const std::wstring& part : parts) {
        const IntakeOutcome outcome = submitMessageOutcome(part);
        unwritten = unwritten || outcome.recordUnwritten;
        submitMessage(L"recvfrom %s:%d [%s]\r\n", address, port, part);
        if (leadingInteger(outcome.reply) > leadingInteger(bestId)) bestId = outcome.reply;
    }

    if (unwritten) {
        // Not acknowledged: the switch sends it again, and that copy must
        // not be taken for a repeat.
        forgetRecord(key);
    } else {
        if (!bestId.empty()) endpoint.sendText(L"RECORD:ID=" + bestId, &address, port);
        rememberAcknowledgement(key, bestId);
    }
    submitMessageText(mergeCallRecord(parts));
}

}  // namespace

void runEncryptedReceiver() {
    SecureUdpEndpoint endpoint;
    if (endpoint.create(udpProtocol, recordPort) == 0) {
        submitMessage(L"Sock Create failed!\r\n");
        return;
    }
    const std::wstring keyText = L"LumenHarpQi";
    endpoint.setKey(&keyText, 128);
    std::wstring text;
    std::wstring address;
    int port = 0;
    for (;;) {
        if (endpoint.receiveText(text, &address, &port) <= 0) {
            platform::sleepMilliseconds(10);
            continue;
        }
        handleDatagram(endpoint, text, address, port);
    }
}

}  // namespace quelvar
