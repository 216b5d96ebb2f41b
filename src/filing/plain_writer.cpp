#include "filing/plain_writer.h"

#include <algorithm>
#include <limits>
#include <string>

#include "core/call_time.h"
#include "core/folders.h"
#include "core/format.h"
#include "core/numbers.h"
#include "core/text.h"
#include "core/time.h"
#include "core/version.h"
#include "filing/mac_folder.h"
#include "filing/record_files.h"
#include "platform/files.h"

namespace quelvar {

namespace {

int pieceValue(std::string_view text, std::size_t position, std::size_t length) {
    if (position >= text.size()) return 0;
    const long long value = leadingInteger(text.substr(position, length));
    return static_cast<int>(
        std::clamp<long long>(value, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

// The end of the call as YYMMDDhhmmss: TIME-S read piece by piece as atoi
// reads it, rolled over as the calendar rolls it, plus DURATION. Empty when
// the calendar cannot show the end.
std::string plainEndText(const std::string& timeStart, const std::string& duration) {
    const CalendarTime start{2000 + pieceValue(timeStart, 0, 2), pieceValue(timeStart, 2, 2),
                             pieceValue(timeStart, 4, 2),        pieceValue(timeStart, 6, 2),
                             pieceValue(timeStart, 8, 2),        pieceValue(timeStart, 10, std::string::npos)};
    TimeValue startTime = 0;
    CalendarTime end;
    if (!platform::fromLocalCalendar(start, startTime) ||
        !platform::toLocalCalendar(addSeconds(startTime, leadingInteger(duration)), end))
        return {};
    return formatBytes("%02d%02d%02d%02d%02d%02d", end.year - 2000, end.month, end.day, end.hour, end.minute,
                       end.second);
}

// The fields with their control characters escaped (see
// escapeControlCharacters), or the fields themselves when they have none,
// as nearly all have.
const PlainFields& withControlsEscaped(const PlainFields& fields, PlainFields& escaped) {
    std::string PlainFields::*const all[] = {
        &PlainFields::rid,       &PlainFields::account,  &PlainFields::type,  &PlainFields::cpn,   &PlainFields::cdpn,
        &PlainFields::timeStart, &PlainFields::duration, &PlainFields::route, &PlainFields::trunk, &PlainFields::mac};
    if (std::none_of(std::begin(all), std::end(all), [&](auto field) { return hasControlCharacters(fields.*field); }))
        return fields;
    for (const auto field : all) escaped.*field = escapeControlCharacters(fields.*field);
    return escaped;
}

}  // namespace

// Appends a line to one of the record's files, making the missing folders
// one level at a time only when the file cannot be opened for their lack.
Status PlainRecordWriter::appendLine(const std::string& switchFolder, std::string_view switchName,
                                     const std::string& subFolder, const std::string& file, const std::string& header,
                                     const std::string& line) const {
    const std::string bytes = line + "\r\n";
    const auto write = [&] {
        return batch_ != nullptr ? batch_->append(file, header, bytes)
                                 : platform::appendWithHeader(file, header, bytes);
    };
    Status written = write();
    if (written.is(Status::Code::notFound)) {
        // A switch's own folder makes its err folder no new one.
        if (folders_ != nullptr && !platform::isFolder(switchFolder) &&
            !platform::isFolder(pathIn(pathIn(programFolder_, "rec"), std::string(switchName))))
            if (Status granted = folders_->mayMake(fromAnsi(switchName), file); !granted.ok()) return granted;
        ensureFolder(pathIn(programFolder_, "rec"));
        ensureFolder(switchFolder.substr(0, switchFolder.rfind(platform::pathSeparator)));
        ensureFolder(switchFolder);
        ensureFolder(subFolder);
        if (batch_ != nullptr) batch_->foldersMade(programFolder_, subFolder);
        written = write();
    }
    return written;
}

StoredPlainRecord PlainRecordWriter::storePlainRecord(const PlainFields& received) {
    if (received.mac.empty()) return {};

    const std::string switchName = macFolderOf(received.mac);
    const std::string& timeStart = received.timeStart;
    const bool noSuchDay = namesNoDay(timeStart);
    const std::string rec = pathIn(programFolder_, "rec");
    const std::string recordBase = noSuchDay ? pathIn(rec, "err") : rec;
    const std::string switchFolder = pathIn(recordBase, switchName);
    const int year = pieceValue(timeStart, 0, 2);
    const int month = pieceValue(timeStart, 2, 2);
    const int day = pieceValue(timeStart, 4, 2);
    const std::string endText = plainEndText(timeStart, received.duration);

    std::string teletype = toGbk(classifier_.classifyTeletype(fromAnsi(received.route), fromAnsi(received.type),
                                                              fromAnsi(received.cpn), fromAnsi(received.cdpn)));
    if (hasControlCharacters(teletype)) teletype = escapeControlCharacters(teletype);
    // No value may end a line or make one up; the names of the files still
    // come from the values as they came.
    PlainFields escaped;
    const PlainFields& fields = withControlsEscaped(received, escaped);
    std::string callId = fields.rid;
    if (callId.size() < 19) callId.insert(0, 19 - callId.size(), '0');

    StoredPlainRecord stored;
    stored.noSuchDay = noSuchDay;
    const std::string newFolder = pathIn(switchFolder, "new");
    const std::string newStem = pathIn(newFolder, formatBytes("CDR_20%02d_%02d_%02d", year, month, day));
    const std::string textHeader = formatBytes("#%s&%s\r\n", versionBytes, fields.mac) + toGbk(textColumnHeads());
    const std::string textLine = formatBytes("%-17s %-15s %-24s 1  %-24s %-16s   %-4s %-4s %-12s %-12s %-5s %-32s ",
                                             callId, fields.account, fields.cpn, fields.cdpn, teletype, fields.type,
                                             fields.route, fields.timeStart, endText, fields.duration, fields.trunk);
    stored.newText = appendLine(switchFolder, switchName, newFolder, newStem + ".txt", textHeader, textLine);

    const std::string csvHeader = formatBytes(
        "#%s&%s\r\n %-17s,%-17s,%-20s,%-22s,%-19s,%-4s,%-4s,%-12s,%-10s,%-5s,%-32s \r\n", versionBytes, fields.mac,
        toGbk(L"编号"), toGbk(L"账号"), toGbk(L"主叫"), toGbk(L"被叫"), toGbk(L"话务类型"), toGbk(L"通话类型"),
        toGbk(L"路由规则"), toGbk(L"开始时间"), toGbk(L"结束时间"), toGbk(L"通话时长"), toGbk(L"中继号"));
    const std::string csvLine = formatBytes(
        "%-17s,%-15s,%-24s,%-24s,%-16s,%-4s,%-4s,%-12s,%-12s,%-5s,%-32s ", callId, fields.account, fields.cpn,
        fields.cdpn, teletype, toGbk(callTypeLabel(fromAnsi(fields.type))), toGbk(routeLabel(fromAnsi(fields.route))),
        fields.timeStart, endText, fields.duration, fields.trunk);
    stored.csv = appendLine(switchFolder, switchName, newFolder, newStem + ".csv", csvHeader, csvLine);

    const std::string oldFolder = pathIn(switchFolder, "old");
    const std::string oldLine = formatBytes("%-19s %-24s %-24s %-16s   %-2s %-12s %-12s %-5s %-2s %-32s %-15s", callId,
                                            fields.cpn, fields.cdpn, teletype, fields.type, fields.timeStart, endText,
                                            fields.duration, fields.route, fields.trunk, fields.account);
    stored.oldText = appendLine(switchFolder, switchName, oldFolder,
                                pathIn(oldFolder, formatBytes("CDR_20%02d_%02d_%02d.txt", year, month, day)),
                                formatBytes("#%s&%s\r\n", versionBytes, fields.mac), oldLine);
    return stored;
}

}  // namespace quelvar
