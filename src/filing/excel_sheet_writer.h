#pragma once
#include <initializer_list>
#include <string>
#include <string_view>

#include "log/event_log.h"
#include "platform/files.h"
#include "platform/status.h"
#include "xls/workbook.h"

namespace quelvar {

// One month's workbook, open for the export of one record: the file is
// locked and read whole when it is opened (a missing file is a new, empty
// workbook), rows are added to the copy in memory, and committing replaces
// the file at once. A failure's Status carries its "XLS-" number
// (workbook_error.h) and the operator's text as its reason.
class ExcelSheetWriter {
public:
    explicit ExcelSheetWriter(const EventLog& log) : log_(log) {}
    virtual ~ExcelSheetWriter() = default;
    ExcelSheetWriter(const ExcelSheetWriter&) = delete;
    ExcelSheetWriter& operator=(const ExcelSheetWriter&) = delete;

    // Waits while another program holds the workbook (telling the operator
    // once), then opens it.
    Status openWorkbook(const std::wstring& path);

    // Adds a row of text cells below the sheet's last row, the sheet made
    // first, with the columns as its header row, when it is not there. Each
    // value goes into the column its name heads in the sheet's first row; an
    // empty value leaves its cell empty.
    Status appendRow(std::wstring_view sheet, std::initializer_list<std::wstring_view> columns,
                     std::initializer_list<std::wstring_view> values);

    // Puts the new rows into the file.
    Status commitWork();
    void closeWorkbook();

    // What the operator is told while another program holds a workbook; the
    // workbook's path follows it.
    static const wchar_t* const heldWarning;

private:
    const EventLog& log_;
    std::wstring path_;
    platform::LockedFile file_;
    xls::Workbook workbook_;
    bool open_ = false;
    bool changed_ = false;
};

}  // namespace quelvar
