#include "store/record_writer.h"

#include "core/call_time.h"
#include "core/folders.h"
#include "core/format.h"
#include "core/numbers.h"
#include "core/settings.h"
#include "core/startup.h"
#include "core/text.h"
#include "platform/error.h"
#include "platform/file_names.h"
#include "platform/files.h"
#include "store/classification.h"
#include "store/event_log.h"
#include "store/mac_folder.h"

namespace quelvar {

namespace {

// Appends one line (and the header, when the file is empty), making the
// file's folder only when the file cannot be opened for the lack of it.
// A failure is logged with the file and the reason.
bool appendLine(const std::wstring& folder, const std::wstring& path, const std::wstring& header,
                const std::wstring& line) {
    const std::string file = toAnsi(path);
    const std::string headerBytes = toGbk(header);
    const std::string lineBytes = toGbk(line) + "\r\n";
    platform::WriteResult result = platform::appendWithHeader(file, headerBytes, lineBytes);
    if (result == platform::WriteResult::folderMissing) {
        ensureFolderPath(folder);
        result = platform::appendWithHeader(file, headerBytes, lineBytes);
    }
    if (result == platform::WriteResult::ok) return true;
    writeEventLine(formatText(L"ERROR   record not written to %s: %s\r\n", path, fromAnsi(platform::lastErrorText())));
    return false;
}

}  // namespace

bool storeRecord(const FieldMap& fields, const std::wstring& macValue) {
    // The required fields, a missing one shown as "?"; the record's map
    // itself is left as it came.
    bool incomplete = false;
    const auto required = [&](const wchar_t* key) {
        const std::wstring& value = fieldValue(fields, key);
        incomplete = incomplete || value.empty();
        return value.empty() ? std::wstring(L"?") : value;
    };
    const std::wstring type = required(L"TYPE");
    const std::wstring cdpn = required(L"CDPN");
    const std::wstring timeStartValue = required(L"TIME-S");
    const std::wstring duration = required(L"DURATION");
    const std::wstring route = required(L"ROUTE");
    const std::wstring macFolder = macFolderOf(macValue);
    std::wstring recordBase = settings.dataRoot.empty() ? pathIn(getProgramDir(), L"rec") : settings.dataRoot;
    if (incomplete) recordBase = pathIn(recordBase, L"err");
    const std::wstring timeStart = timeStartValue == L"?" ? std::wstring(L"000000000000") : timeStartValue;
    // The date pairs name a file: a separator among them would name a
    // folder, a character the system refuses would make it unwritable.
    std::wstring date = timeStart.substr(0, 6);
    for (wchar_t& c : date)
        if (c == L'/' || c == L'\\' || platform::refusedInName(c)) c = L'-';
    const auto pair = [&](std::size_t index) { return index < date.size() ? date.substr(index, 2) : std::wstring(); };

    const bool newFormat = !fieldValue(fields, L"COUNT").empty();
    const std::wstring folder = pathIn(pathIn(recordBase, macFolder), newFormat ? L"new" : L"old");
    const std::wstring fileStem = pathIn(folder, formatText(L"CDR_20%s_%s_%s", pair(0), pair(2), pair(4)));
    const std::wstring computedEnd = endTimeText(timeStart, leadingInteger(duration), currentLocalTime());

    classifyTeletype(route, type, fieldValue(fields, L"CPN"), cdpn);
    const std::wstring teletype = lastTeletype;

    // Held back by the record-type filter: acknowledged all the same.
    if (settings.typeFilter.size() >= 2 && settings.typeFilter.find(type) == std::wstring::npos) {
        ensureFolderPath(folder);
        return true;
    }

    std::wstring rid = fieldValue(fields, L"RID");
    if (rid.size() < 19) rid.insert(0, 19 - rid.size(), L'0');
    const auto value = [&](const wchar_t* key) -> const std::wstring& { return fieldValue(fields, key); };

    if (!newFormat) {
        const std::wstring header = formatText(L"#%s&%s\r\n", versionText, macFolder);
        const std::wstring line = formatText(L"%-19s %-24s %-24s %-12s %-2s %-16s %-12s %-5s %-2s %-32s %-15s", rid,
                                             value(L"CPN"), cdpn, teletype, type, timeStartValue, computedEnd, duration,
                                             route, value(L"TRUNKN"), value(L"ACCOUNT"));
        return appendLine(folder, fileStem + L".txt", header, line);
    }

    const std::wstring textHeader =
        formatText(L"#%s&%s\r\n %-17s %-17s %-20s %-2s %-22s %-19s %-4s %-4s %-12s %-10s %-5s %-32s \r\n", versionText,
                   macFolder, L"Call-ID", L"Account", L"CPN", L"Count", L"CDPN", L"Teletype", L"Type", L"Route",
                   L"Time-S", L"Time-E", L"Duration", L"Trunk-N");
    // The teletype column takes 18 bytes in GBK for both teletype lengths.
    const wchar_t* textFormat = teletype.size() <= 2
                                    ? L"%-19s %-15s %-24s %-2s %-24s %-16s %-4s %-4s %-12s %-12s %-5s %-32s "
                                    : L"%-19s %-15s %-24s %-2s %-24s %-14s %-4s %-4s %-12s %-12s %-5s %-32s ";
    const std::wstring textLine =
        formatText(textFormat, rid, value(L"ACCOUNT"), value(L"CPN"), value(L"COUNT"), cdpn, teletype, type, route,
                   timeStartValue, value(L"TIME-E"), duration, value(L"TRUNKN"));
    const bool textWritten = appendLine(folder, fileStem + L".txt", textHeader, textLine);

    const std::wstring csvHeader =
        formatText(L"#%s&%s\r\n %-17s,%-17s,%-20s,%-22s,%-19s,%-4s,%-4s,%-12s,%-10s,%-5s,%-32s\r\n", versionText,
                   macFolder, L"编号", L"账号", L"主叫", L"被叫", L"话务类型", L"通话类型", L"路由规则", L"起始时间",
                   L"结束时间", L"通话时长", L"中继号");
    const std::wstring csvLine = formatText(
        L"%-19s,%-15s,%-24s,%-24s,%-16s,%-4s,%-4s,%-12s,%-12s,%-5s,%-32s", rid, value(L"ACCOUNT"), value(L"CPN"), cdpn,
        teletype, callTypeLabel(type), routeLabel(route), timeStartValue, value(L"TIME-E"), duration, value(L"TRUNKN"));
    appendLine(folder, fileStem + L".csv", csvHeader, csvLine);
    return textWritten;
}

}  // namespace quelvar
