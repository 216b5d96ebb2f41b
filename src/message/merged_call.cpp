#include "message/merged_call.h"

#include "core/call_time.h"
#include "core/format.h"
#include "core/numbers.h"

namespace quelvar {

namespace {

void fillOnce(std::wstring_view& field, std::wstring_view value) {
    if (field.empty()) field = value;
}

}  // namespace

void mergeCall(const std::vector<DatagramLine>& lines, const CalendarTime& today, MergedCall& call) {
    call = MergedCall{};
    const Record none;
    const Record* previous = &none;
    for (std::size_t index = 0; index < lines.size(); ++index) {
        // An empty line says nothing new: what the line before said stands.
        const Record& part = lines[index].text.empty() ? *previous : lines[index].record;
        previous = &part;
        fillOnce(call.rid, part[part[Field::type] == L"CB" ? Field::cbid : Field::rid]);
        fillOnce(call.account, part[Field::account]);
        fillOnce(call.cpn, part[Field::cpn]);
        fillOnce(call.cdpn, part[Field::cdpn]);
        fillOnce(call.type, part[Field::type]);
        fillOnce(call.route, part[Field::route]);
        fillOnce(call.mac, part[Field::mac]);
        if (index >= MergedCall::legCount) continue;
        MergedCall::Leg& leg = call.legs[index];
        leg.start = part[Field::timeStart];
        leg.duration = part[Field::duration];
        leg.trunk = part[Field::trunk];
        leg.end = endTimeText(leg.start, leadingInteger(leg.duration), today);
    }
    call.count = formatText(L"%d", lines.size());
}

Record MergedCall::record() const {
    Record record;
    record.hasHead = true;
    record.head = L"RECORD";
    record.set(Field::rid, rid);
    record.set(Field::account, account);
    record.set(Field::cpn, cpn);
    record.set(Field::count, count);
    record.set(Field::cdpn, cdpn);
    record.set(Field::type, type);
    record.set(Field::route, route);
    record.set(Field::mac, mac);
    record.set(Field::timeStart, legs[0].start);
    record.set(Field::timeEnd, legs[0].end);
    record.set(Field::duration, legs[0].duration);
    record.set(Field::trunk, legs[0].trunk);
    return record;
}

}  // namespace quelvar
