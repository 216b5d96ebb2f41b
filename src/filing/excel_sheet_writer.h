#pragma once
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files.h"
#include "platform/status.h"
#include "xls/append.h"
#include "xls/workbook.h"

namespace quelvar {

// What one writer learnt of a workbook for the next: where its rows go in
// place, while the file stays as it was left.
struct WorkbookMemory {
    std::wstring path;
    std::optional<xls::AppendSite> site;
};

// Beside a workbook: the journal of a change under way, and the queue of
// the rows that wait for it.
std::wstring journalPathOf(const std::wstring& workbook);
std::wstring queuePathOf(const std::wstring& workbook);

// A queue whose rows a commit puts into the workbook: its count of rows in
// the workbook goes from `before` to `after` in the same journalled step.
struct QueueUpdate {
    std::wstring path;
    std::uint64_t size = 0;
    std::uint32_t before = 0;
    std::uint32_t after = 0;
};

// One month's workbook, open for the rows of one moment: the file is
// locked when it is opened (a missing file is a new, empty workbook),
// rows are added in memory, and committing puts them into the file. Rows
// for any sheet of a workbook of the collector's own go in where the
// file lies, under a rollback journal; other rows make the whole workbook
// written anew (FORMAT.md, "How the collector writes its workbooks"). A
// failure's Status carries its "XLS-" number (workbook_error.h) and the
// operator's text as its reason.
class ExcelSheetWriter {
public:
    ExcelSheetWriter() = default;
    ExcelSheetWriter(const ExcelSheetWriter&) = delete;
    ExcelSheetWriter& operator=(const ExcelSheetWriter&) = delete;

    // Opens the workbook without waiting: heldElsewhere while another
    // program holds it. A change that a crash cut short is undone first.
    // With `memory` of the same path, a file that is as the last writer
    // left it is not read whole again.
    Status openWorkbook(const std::wstring& path, WorkbookMemory* memory = nullptr);

    // Adds a row of text cells below the sheet's last row, the sheet made
    // first, with the columns as its header row, when it is not there. Each
    // value goes into the column its name heads in the sheet's first row; an
    // empty value leaves its cell empty.
    Status appendRow(std::wstring_view sheet, std::initializer_list<std::wstring_view> columns,
                     std::initializer_list<std::wstring_view> values);
    Status appendRow(std::wstring_view sheet, const std::vector<std::wstring>& columns,
                     const std::vector<std::wstring>& values);

    // Whether the workbook has the sheet, as it stands with the rows given.
    bool hasSheet(std::wstring_view sheet) const;

    // Puts the new rows into the file; with `queue`, sets the queue's count
    // of rows in the workbook in the same step.
    Status commitWork(const QueueUpdate* queue = nullptr);
    void closeWorkbook();

    // What the operator is told while another program holds a workbook; the
    // workbook's path follows it.
    static const wchar_t* const heldWarning;

private:
    struct Row {
        std::wstring sheet;
        std::vector<std::wstring> columns;
        std::vector<std::wstring> values;
    };

    Status append(Row row);
    Status readWhole();
    Status leavePlace();
    Status appendInPlace(const Row& row, bool& placed);
    Status appendWhole(const Row& row);

    std::wstring path_;
    platform::LockedFile file_;
    bool open_ = false;
    bool exists_ = false;
    bool changed_ = false;
    WorkbookMemory own_;
    WorkbookMemory* memory_ = &own_;
    // Rows go in place while the site holds; the workbook is read whole
    // where they cannot.
    bool inPlace_ = false;
    std::vector<Row> rows_;
    // The rows placed, by sheet in the order they came.
    std::vector<xls::SheetRows> cells_;
    bool whole_ = false;
    std::string bytes_;
    xls::Workbook workbook_;
};

}  // namespace quelvar
