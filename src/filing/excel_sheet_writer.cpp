#include "filing/excel_sheet_writer.h"

#include <algorithm>
#include <vector>

#include "core/format.h"
#include "core/text.h"
#include "core/utf16.h"
#include "filing/workbook_error.h"
#include "log/warning.h"
#include "platform/clock.h"
#include "platform/process.h"
#include "xls/workbook_file.h"

namespace quelvar {

const wchar_t* const ExcelSheetWriter::heldWarning = L"EXCEL文件已被打开，新数据无法写入。\r\n请关闭文件后再点“确定”！\r\n\r\n";

namespace {

using Code = WorkbookErrorCode;

Status workbookError(Code code, const char* operation, const std::wstring& path, const std::wstring& message) {
    Status::Code kind = Status::Code::failed;
    if (code == Code::heldElsewhere) kind = Status::Code::busy;
    if (code >= Code::notCompoundFile && code <= Code::encryptedWorkbook) kind = Status::Code::damaged;
    return Status::error(kind, operation, toAnsi(path), toAnsi(message), static_cast<int>(code));
}

std::wstring reasonOf(const Status& status) { return fromAnsi(status.reason()); }

bool usableSheetName(std::u16string_view name) {
    if (name.empty() || name.size() > xls::maxSheetName || name.front() == u'\'' || name.back() == u'\'') return false;
    return name.find_first_of(u"[]:*?/\\") == std::u16string_view::npos;
}

}  // namespace

Status ExcelSheetWriter::openWorkbook(const std::wstring& path) {
    const std::string file = toAnsi(path);
    if (platform::fileInUse(file)) {
        // Where no operator can press OK, the workbook's release stands for it.
        if (!showWarning(log_, L"注意", formatText(L"%s%s", heldWarning, path)))
            while (platform::fileInUse(file)) platform::sleepMilliseconds(1000);
    }
    // Every record reads and writes the whole month: a large workbook would
    // otherwise have its memory taken from the system and given back each time.
    platform::keepFreedMemory();
    closeWorkbook();
    path_ = path;
    workbook_ = {};
    changed_ = false;
    const Status opened = file_.open(file);
    if (opened.is(Status::Code::notFound)) {
        open_ = true;
        return {};
    }
    if (opened.is(Status::Code::busy))
        return workbookError(Code::heldElsewhere, "open", path, formatText(L"%s is open in another program", path));
    if (!opened.ok())
        return workbookError(Code::openFailed, "open", path, formatText(L"cannot open %s: %s", path, reasonOf(opened)));
    std::string bytes;
    if (const Status read = file_.read(bytes); !read.ok()) {
        file_.close();
        return workbookError(Code::openFailed, "read", path, formatText(L"cannot read %s: %s", path, reasonOf(read)));
    }
    std::string why;
    const xls::FileReadResult result = xls::readWorkbookFile(bytes, workbook_, why);
    if (result == xls::FileReadResult::ok) {
        open_ = true;
        return {};
    }
    file_.close();
    workbook_ = {};
    switch (result) {
        case xls::FileReadResult::notCompoundFile:
            return workbookError(Code::notCompoundFile, "read", path,
                                 formatText(L"%s is not an Excel 97-2003 workbook", path));
        case xls::FileReadResult::damagedContainer:
            return workbookError(Code::damagedCompoundFile, "read", path,
                                 formatText(L"%s is damaged: its container is cut short or inconsistent", path));
        case xls::FileReadResult::olderVersion:
            return workbookError(Code::noWorkbookStream, "read", path,
                                 formatText(L"%s is an Excel 5.0/95 workbook, which is not supported", path));
        case xls::FileReadResult::noWorkbook:
            return workbookError(Code::noWorkbookStream, "read", path,
                                 formatText(L"%s holds no Excel 97-2003 workbook", path));
        case xls::FileReadResult::encrypted:
            return workbookError(Code::encryptedWorkbook, "read", path,
                                 formatText(L"%s is protected by a password", path));
        default:
            return workbookError(Code::damagedWorkbook, "read", path,
                                 formatText(L"%s is damaged: %s", path, fromAnsi(why)));
    }
}

Status ExcelSheetWriter::appendRow(std::wstring_view sheetName, std::initializer_list<std::wstring_view> columns,
                                   std::initializer_list<std::wstring_view> values) {
    const std::u16string name = toUtf16(sheetName);
    xls::Sheet* sheet = xls::findSheet(workbook_, name);
    if (sheet == nullptr) {
        if (!open_ || !usableSheetName(name) || columns.size() > xls::maxColumns)
            return workbookError(Code::sheetMissing, "write", path_, formatText(L"there is no sheet '%s'", sheetName));
        xls::Sheet added;
        added.name = name;
        std::uint16_t column = 0;
        for (const std::wstring_view head : columns) {
            xls::Cell cell;
            cell.column = column++;
            cell.text = xls::addString(workbook_, toUtf16(head));
            added.cells.push_back(cell);
        }
        workbook_.sheets.push_back(std::move(added));
        sheet = &workbook_.sheets.back();
        changed_ = true;
    }
    // The columns are named by the sheet's first row.
    const std::vector<xls::Cell>& cells = sheet->cells;
    const auto headerEnd =
        std::find_if(cells.begin(), cells.end(), [&](const xls::Cell& cell) { return cell.row != cells.front().row; });
    std::vector<xls::Cell> row;
    const std::wstring_view* value = values.begin();
    for (const std::wstring_view column : columns) {
        const std::u16string head = toUtf16(column);
        const auto header = std::find_if(cells.begin(), headerEnd, [&](const xls::Cell& cell) {
            return cell.kind == xls::CellKind::text && workbook_.strings[cell.text] == head;
        });
        if (header == headerEnd)
            return workbookError(Code::columnMissing, "write", path_,
                                 formatText(L"sheet '%s' has no column '%s'", sheetName, column));
        std::u16string text = toUtf16(*value++);
        if (text.size() > xls::maxCellText)
            return workbookError(Code::valueTooLong, "write", path_,
                                 formatText(L"the value for '%s' is longer than 32767 characters", column));
        // An empty value leaves its cell empty.
        if (text.empty()) continue;
        xls::Cell cell;
        cell.column = header->column;
        cell.text = xls::addString(workbook_, std::move(text));
        row.push_back(cell);
    }
    const std::uint32_t next = cells.empty() ? 0 : cells.back().row + 1;
    if (next >= xls::maxRows)
        return workbookError(Code::sheetFull, "write", path_,
                             formatText(L"sheet '%s' is full: it holds 65536 rows", sheetName));
    std::stable_sort(row.begin(), row.end(), [](const xls::Cell& a, const xls::Cell& b) { return a.column < b.column; });
    for (xls::Cell& cell : row) {
        cell.row = next;
        sheet->cells.push_back(cell);
    }
    xls::orderCells(*sheet);
    changed_ = true;
    return {};
}

Status ExcelSheetWriter::commitWork() {
    if (!open_ || !changed_) return {};
    const xls::WorkbookFile written = xls::writeWorkbookFile(workbook_);
    if (const Status replaced = file_.replace({written.head, written.stream, written.tail}); !replaced.ok())
        return workbookError(Code::writeFailed, "write", path_,
                             formatText(L"cannot write %s: %s", path_, reasonOf(replaced)));
    changed_ = false;
    return {};
}

void ExcelSheetWriter::closeWorkbook() {
    file_.close();
    open_ = false;
}

}  // namespace quelvar
