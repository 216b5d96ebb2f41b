#include "filing/record_writer.h"

#include <algorithm>
#include <array>

#include "core/call_time.h"
#include "core/folders.h"
#include "core/format.h"
#include "core/numbers.h"
#include "core/text.h"
#include "core/version.h"
#include "filing/mac_folder.h"
#include "filing/record_files.h"
#include "platform/files.h"

namespace quelvar {

namespace {

// Who grants a new switch its folder, and which folder that is; for the
// err tree, the switch's own folder too, which makes it no new switch.
struct NewFolder {
    SwitchFolders* folders;
    std::wstring_view name;
    std::wstring switchFolder;
    std::wstring ownFolder;
};

// A switch new to the data root gets its folder only when `folders` grants it.
Status mayMakeFolders(const NewFolder& made, const std::string& file) {
    if (made.folders == nullptr || platform::isFolder(toAnsi(made.switchFolder)) ||
        (!made.ownFolder.empty() && platform::isFolder(toAnsi(made.ownFolder))))
        return {};
    return made.folders->mayMake(made.name, file);
}

// Appends one line (and the header, when the file is empty), making the
// file's folder only when the file cannot be opened for the lack of it.
Status appendLine(const std::wstring& root, const std::wstring& folder, const std::wstring& path,
                  const std::wstring& header, const std::wstring& line, FilingBatch* batch, const NewFolder& made) {
    const std::string file = toAnsi(path);
    const std::string headerBytes = toGbk(header);
    const std::string lineBytes = toGbk(line) + "\r\n";
    const auto write = [&] {
        return batch != nullptr ? batch->append(file, headerBytes, lineBytes)
                                : platform::appendWithHeader(file, headerBytes, lineBytes);
    };
    Status written = write();
    if (written.is(Status::Code::notFound)) {
        if (Status granted = mayMakeFolders(made, file); !granted.ok()) return granted;
        static_cast<void>(ensureFolderPath(folder));
        if (batch != nullptr) batch->foldersMade(toAnsi(root), toAnsi(folder));
        written = write();
    }
    return written;
}

// The record with each value's control characters escaped (see
// escapeControlCharacters), or the record itself when it has none, as
// nearly every one has. `storage` holds the escaped values.
const Record& withControlsEscaped(const Record& record, std::array<std::wstring, fieldCount>& storage,
                                  Record& escaped) {
    if (std::none_of(record.values.begin(), record.values.end(),
                     [](std::wstring_view value) { return hasControlCharacters(value); }))
        return record;
    escaped = record;
    for (std::size_t field = 0; field < fieldCount; ++field) {
        if (!hasControlCharacters(record.values[field])) continue;
        storage[field] = escapeControlCharacters(record.values[field]);
        escaped.values[field] = storage[field];
    }
    return escaped;
}

}  // namespace

StoredRecord RecordWriter::storeRecord(const Record& received) {
    // No value may end a line or make one up; the names of the files still
    // come from the values as they came.
    std::array<std::wstring, fieldCount> escapedValues;
    Record escapedRecord;
    const Record& record = withControlsEscaped(received, escapedValues, escapedRecord);
    // The required fields, a missing one shown as "?".
    bool incomplete = false;
    const auto required = [&](Field field) -> std::wstring_view {
        const std::wstring_view value = record[field];
        incomplete = incomplete || value.empty();
        return value.empty() ? std::wstring_view(L"?") : value;
    };
    const std::wstring_view type = required(Field::type);
    const std::wstring_view cdpn = required(Field::cdpn);
    const std::wstring_view timeStartValue = required(Field::timeStart);
    const std::wstring_view duration = required(Field::duration);
    const std::wstring_view route = required(Field::route);
    const std::wstring macFolder = macFolderOf(std::wstring(received[Field::mac]));
    const std::wstring macShown = escapeControlCharacters(macFolder);
    const std::wstring ownBase = settings_.dataRoot.empty() ? pathIn(settings_.programDir, L"rec") : settings_.dataRoot;
    // A day no calendar has would stand among the month's days, never priced.
    const bool noSuchDay = namesNoDay(received[Field::timeStart]);
    const std::wstring recordBase = incomplete || noSuchDay ? pathIn(ownBase, L"err") : ownBase;
    const std::wstring_view timeStart = timeStartValue == L"?" ? std::wstring_view(L"000000000000") : timeStartValue;
    // The date pairs name a file: a separator among them would name a
    // folder, a character the system refuses would make it unwritable.
    const std::wstring_view receivedStart = received[Field::timeStart];
    std::wstring date(receivedStart.empty() ? timeStart.substr(0, 6) : receivedStart.substr(0, 6));
    for (wchar_t& c : date)
        if (c == L'/' || c == L'\\' || platform::refusedInName(c)) c = L'-';
    const auto pair = [&](std::size_t index) {
        return index < date.size() ? std::wstring_view(date).substr(index, 2) : std::wstring_view();
    };

    const bool newFormat = !record[Field::count].empty();
    const NewFolder made{folders_, macFolder, pathIn(recordBase, macFolder),
                         recordBase != ownBase ? pathIn(ownBase, macFolder) : std::wstring()};
    const std::wstring folder = pathIn(made.switchFolder, newFormat ? L"new" : L"old");
    const std::wstring fileStem = pathIn(folder, formatText(L"CDR_20%s_%s_%s", pair(0), pair(2), pair(4)));

    std::wstring_view teletype = classifier_.classifyTeletype(route, type, record[Field::cpn], cdpn);
    const bool shortTeletype = teletype.size() <= 2;
    std::wstring teletypeEscaped;
    if (hasControlCharacters(teletype)) teletype = teletypeEscaped = escapeControlCharacters(teletype);

    // Held back by the record-type filter: acknowledged all the same.
    if (settings_.typeFilter.size() >= 2 && settings_.typeFilter.find(type) == std::wstring::npos) {
        if (mayMakeFolders(made, toAnsi(folder)).ok()) static_cast<void>(ensureFolderPath(folder));
        return {};
    }

    std::wstring rid(record[Field::rid]);
    if (rid.size() < 19) rid.insert(0, 19 - rid.size(), L'0');

    if (!newFormat) {
        const std::wstring computedEnd = endTimeText(timeStart, leadingInteger(duration), currentLocalTime());
        const std::wstring header = formatText(L"#%s&%s\r\n", versionText, macShown);
        const std::wstring line = formatText(L"%-19s %-24s %-24s %-12s %-2s %-16s %-12s %-5s %-2s %-32s %-15s", rid,
                                             record[Field::cpn], cdpn, teletype, type, timeStartValue, computedEnd,
                                             duration, route, record[Field::trunk], record[Field::account]);
        return {appendLine(ownBase, folder, fileStem + L".txt", header, line, batch_, made), {}, noSuchDay};
    }

    const std::wstring textHeader = formatText(L"#%s&%s\r\n%s", versionText, macShown, textColumnHeads());
    // The teletype column takes 18 bytes in GBK for both teletype lengths.
    const wchar_t* textFormat = shortTeletype ? L"%-19s %-15s %-24s %-2s %-24s %-16s %-4s %-4s %-12s %-12s %-5s %-32s "
                                              : L"%-19s %-15s %-24s %-2s %-24s %-14s %-4s %-4s %-12s %-12s %-5s %-32s ";
    const std::wstring textLine =
        formatText(textFormat, rid, record[Field::account], record[Field::cpn], record[Field::count], cdpn, teletype,
                   type, route, timeStartValue, record[Field::timeEnd], duration, record[Field::trunk]);
    StoredRecord stored;
    stored.noSuchDay = noSuchDay;
    stored.text = appendLine(ownBase, folder, fileStem + L".txt", textHeader, textLine, batch_, made);

    const std::wstring csvHeader =
        formatText(L"#%s&%s\r\n %-17s,%-17s,%-20s,%-22s,%-19s,%-4s,%-4s,%-12s,%-10s,%-5s,%-32s\r\n", versionText,
                   macShown, L"编号", L"账号", L"主叫", L"被叫", L"话务类型", L"通话类型", L"路由规则", L"起始时间",
                   L"结束时间", L"通话时长", L"中继号");
    const std::wstring csvLine = formatText(
        L"%-19s,%-15s,%-24s,%-24s,%-16s,%-4s,%-4s,%-12s,%-12s,%-5s,%-32s", rid, record[Field::account],
        record[Field::cpn], cdpn, teletype, callTypeLabel(type), routeLabel(route), timeStartValue,
        record[Field::timeEnd], duration, record[Field::trunk]);
    stored.csv = appendLine(ownBase, folder, fileStem + L".csv", csvHeader, csvLine, batch_, made);
    return stored;
}

}  // namespace quelvar
