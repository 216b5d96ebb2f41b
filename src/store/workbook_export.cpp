#include "store/workbook_export.h"


#include "core/folders.h"
#include "core/numbers.h"
#include "core/text.h"
#include "platform/error.h"
#include "store/excel_sheet_writer.h"
#include "store/intake.h"
#include "store/workbook_error.h"

namespace quelvar {

namespace {

// TIME reads MM?DD?hh?mm?ss; the month and the day name the file and the sheet.
bool hasMonthAndDay(const std::wstring& time) {
    if (time.size() < 5) return false;
    for (const std::size_t i : {0, 1, 3, 4})
        if (time[i] < L'0' || time[i] > L'9') return false;
    const int month = (time[0] - L'0') * 10 + (time[1] - L'0');
    const int day = (time[3] - L'0') * 10 + (time[4] - L'0');
    return month >= 1 && month <= 12 && day >= 1 && day <= 31;
}

// Two characters from a position on, fewer where TIME ends sooner.
std::wstring pairAt(const std::wstring& time, std::size_t position) {
    return position < time.size() ? time.substr(position, 2) : std::wstring();
}

// The record's month lies in the past or at most a month ahead of the
// clock: December's records handled in January belong to the year before.
int yearOfMonth(int month, const CalendarTime& now) {
    const int ahead = month - now.month;
    if (ahead > 1) return now.year - 1;
    if (ahead < -10) return now.year + 1;
    return now.year;
}

std::wstring quoted(const std::wstring& value) {
    std::wstring result;
    result.reserve(value.size());
    for (const wchar_t c : value) {
        result.push_back(c);
        if (c == L'\'') result.push_back(c);
    }
    return result;
}

void logError(const std::wstring& text) { submitMessage(L"ERROR   %s\r\n", text); }

}  // namespace

void exportToWorkbook(const FieldMap& fields, const std::wstring& programDir, const std::wstring& origin) {
    exportToWorkbook(fields, programDir, origin, currentLocalTime());
}

void exportToWorkbook(const FieldMap& fields, const std::wstring& programDir, const std::wstring& origin,
                      const CalendarTime& now) {
    // The merged record of a call (it alone carries COUNT) has no TIME and
    // repeats what its lines brought: they are the rows.
    if (!fieldValue(fields, L"COUNT").empty()) return;
    const std::wstring& time = fieldValue(fields, L"TIME");
    if (!hasMonthAndDay(time)) {
        logError(formatText(L"XLS-%05d: record time '%s' names no month and day",
                            static_cast<int>(WorkbookErrorCode::recordTimeUnusable), time));
        return;
    }
    const std::wstring sheet = pairAt(time, 3);
    const std::wstring timeOfDay = formatText(L"%s:%s:%s", pairAt(time, 6), pairAt(time, 9), pairAt(time, 12));
    const long long seconds = leadingInteger(fieldValue(fields, L"DURATION"));
    const std::wstring duration = formatText(L"%02d:%02d:%02d", seconds / 3600, seconds % 3600 / 60, seconds % 60);

    ensureFolderPath(pathIn(programDir, L"rec"));
    // Without an origin the workbook lies in rec itself.
    const std::wstring folder = origin.empty() ? pathIn(programDir, L"rec") : pathIn(pathIn(programDir, L"rec"), origin);
    if (ensureFolderPath(folder) != FolderResult::ok) {
        logError(formatText(L"XLS-%05d: cannot make the folder %s: %s",
                            static_cast<int>(WorkbookErrorCode::folderNotMade), folder,
                            fromAnsi(platform::lastErrorText())));
        return;
    }
    const int month = (time[0] - L'0') * 10 + (time[1] - L'0');
    const std::wstring path = pathIn(folder, formatText(L"%04d%.2s.xls", yearOfMonth(month, now), time));

    ExcelSheetWriter writer;
    if (!writer.openWorkbook(path)) {
        logError(writer.lastError());
        return;
    }
    // Fails for every record after a day's first: the sheet is there already.
    writer.executeSql(
        L"CREATE TABLE \"%s\"(\"帐号\" TEXT,\"类型\" TEXT,\"主叫\" TEXT,\"被叫\" TEXT,\"时间\" TEXT,"
        L"\"时长\" TEXT,\"线路\" TEXT)",
        sheet);
    const auto value = [&](const wchar_t* key) { return quoted(fieldValue(fields, key)); };
    // A lost row is worth a line in the log, and so is a workbook that could not be written.
    if (!writer.executeSql(L"INSERT INTO \"%s\"(\"帐号\",\"类型\",\"主叫\",\"被叫\",\"时间\",\"时长\",\"线路\") "
                           L"VALUES('%s','%s','%s','%s','%s','%s','%s')",
                           sheet, value(L"ACCOUNT"), value(L"TYPE"), value(L"CPN"), value(L"CDPN"), quoted(timeOfDay),
                           duration, value(L"ROUTE")))
        logError(writer.lastError());
    else if (!writer.commitWork())
        logError(writer.lastError());
    writer.closeWorkbook();
}

}  // namespace quelvar
