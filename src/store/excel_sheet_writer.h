#pragma once
#include <string>
#include <string_view>

#include "core/format.h"
#include "store/workbook_driver.h"

namespace quelvar {

// A connection to one month's workbook for the export of one record.
// Errors read "XLS-<code>: <message>" (codes in store/workbook_error.h).
class ExcelSheetWriter {
public:
    ExcelSheetWriter() = default;
    virtual ~ExcelSheetWriter() = default;
    ExcelSheetWriter(const ExcelSheetWriter&) = delete;
    ExcelSheetWriter& operator=(const ExcelSheetWriter&) = delete;

    // Waits while another program holds the workbook (telling the operator
    // once), then connects; a missing workbook is created on commit.
    bool openWorkbook(const std::wstring& path);

    // Formats a statement, without a length limit, and runs it.
    template <class... Arguments>
    bool executeSql(std::wstring_view format, const Arguments&... arguments) {
        return executeStatement(formatText(format, arguments...));
    }
    bool executeStatement(const std::wstring& statement);

    // Puts what the statements changed into the file; false when it could not.
    bool commitWork();
    void closeWorkbook();
    std::wstring lastError() const { return errorText_; }

private:
    void remember(const WorkbookError& error);

    std::wstring errorText_;
    WorkbookConnection database_;
};

// What the operator is told while another program holds a workbook; the
// workbook's path follows it.
extern const wchar_t* const workbookHeldWarning;

}  // namespace quelvar
