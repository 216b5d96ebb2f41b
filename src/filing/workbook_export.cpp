#include "filing/workbook_export.h"

#include "core/folders.h"
#include "core/format.h"
#include "core/numbers.h"
#include "core/text.h"
#include "filing/excel_sheet_writer.h"
#include "filing/workbook_error.h"

namespace quelvar {

namespace {

// TIME reads MM?DD?hh?mm?ss; the month and the day name the file and the sheet.
bool hasMonthAndDay(std::wstring_view time) {
    if (time.size() < 5) return false;
    for (const std::size_t i : {0, 1, 3, 4})
        if (time[i] < L'0' || time[i] > L'9') return false;
    const int month = (time[0] - L'0') * 10 + (time[1] - L'0');
    const int day = (time[3] - L'0') * 10 + (time[4] - L'0');
    return month >= 1 && month <= 12 && day >= 1 && day <= 31;
}

// Two characters from a position on, fewer where TIME ends sooner.
std::wstring_view pairAt(std::wstring_view time, std::size_t position) {
    return position < time.size() ? time.substr(position, 2) : std::wstring_view();
}

// The record's month lies in the past or at most a month ahead of the
// clock: December's records handled in January belong to the year before.
int yearOfMonth(int month, const CalendarTime& now) {
    const int ahead = month - now.month;
    if (ahead > 1) return now.year - 1;
    if (ahead < -10) return now.year + 1;
    return now.year;
}

Status exportError(WorkbookErrorCode code, const std::wstring& subject, const std::wstring& message) {
    return Status::error(Status::Code::failed, "export", toAnsi(subject), toAnsi(message), static_cast<int>(code));
}

}  // namespace

Status WorkbookExport::exportToWorkbook(const Record& record, const CalendarTime& now) {
    if (!record[Field::count].empty()) return {};
    const std::wstring_view time = record[Field::time];
    if (!hasMonthAndDay(time))
        return exportError(WorkbookErrorCode::recordTimeUnusable, std::wstring(time),
                           formatText(L"record time '%s' names no month and day", time));
    const std::wstring_view sheet = pairAt(time, 3);
    const std::wstring timeOfDay = formatText(L"%s:%s:%s", pairAt(time, 6), pairAt(time, 9), pairAt(time, 12));
    const long long seconds = leadingInteger(record[Field::duration]);
    const std::wstring duration = formatText(L"%02d:%02d:%02d", seconds / 3600, seconds % 3600 / 60, seconds % 60);

    // The workbook lies in rec itself.
    const std::wstring folder = pathIn(programDir_, L"rec");
    if (const Status made = ensureFolderPath(folder); !made.ok())
        return exportError(WorkbookErrorCode::folderNotMade, folder,
                           formatText(L"cannot make the folder %s: %s", folder, fromAnsi(made.reason())));
    const int month = (time[0] - L'0') * 10 + (time[1] - L'0');
    const std::wstring path = pathIn(folder, formatText(L"%04d%.2s.xls", yearOfMonth(month, now), time));

    ExcelSheetWriter writer(log_);
    Status status = writer.openWorkbook(path);
    if (status.ok())
        status = writer.appendRow(sheet, {L"帐号", L"类型", L"主叫", L"被叫", L"时间", L"时长", L"线路"},
                                  {record[Field::account], record[Field::type], record[Field::cpn], record[Field::cdpn],
                                   timeOfDay, duration, record[Field::route]});
    if (status.ok()) status = writer.commitWork();
    writer.closeWorkbook();
    return status;
}

}  // namespace quelvar
