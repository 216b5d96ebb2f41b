#include "store/workbook_driver.h"

#include <algorithm>

#include "core/format.h"
#include "core/text.h"
#include "platform/error.h"
#include "platform/memory.h"
#include "store/biff_workbook.h"
#include "store/compound_file.h"
#include "store/utf16.h"
#include "store/workbook_statement.h"

namespace quelvar {

namespace {

using Code = WorkbookErrorCode;

bool fail(WorkbookError& error, Code code, std::wstring message) {
    error = {code, std::move(message)};
    return false;
}

std::wstring reason() { return fromAnsi(platform::lastErrorText()); }

bool usableSheetName(std::u16string_view name) {
    if (name.empty() || name.size() > maxSheetName || name.front() == u'\'' || name.back() == u'\'') return false;
    return name.find_first_of(u"[]:*?/\\") == std::u16string_view::npos;
}

std::uint32_t addString(Workbook& workbook, std::u16string text) {
    workbook.strings.push_back(std::move(text));
    return static_cast<std::uint32_t>(workbook.strings.size() - 1);
}

bool createSheet(Workbook& workbook, const WorkbookStatement& statement, WorkbookError& error) {
    const std::u16string name = toUtf16(statement.sheet);
    if (!usableSheetName(name))
        return fail(error, Code::badSheetName, formatText(L"'%s' cannot name a sheet", statement.sheet));
    if (findSheet(workbook, name) != nullptr)
        return fail(error, Code::sheetExists, formatText(L"sheet '%s' exists already", statement.sheet));
    if (statement.columns.size() > maxColumns)
        return fail(error, Code::statementNotUnderstood,
                    formatText(L"sheet '%s' would have more than 256 columns", statement.sheet));
    Sheet sheet;
    sheet.name = name;
    for (std::size_t i = 0; i < statement.columns.size(); ++i) {
        Cell cell;
        cell.column = static_cast<std::uint16_t>(i);
        cell.text = addString(workbook, toUtf16(statement.columns[i]));
        sheet.cells.push_back(cell);
    }
    orderCells(sheet);
    workbook.sheets.push_back(std::move(sheet));
    return true;
}

// The columns are named by the sheet's first row.
bool insertRow(Workbook& workbook, const WorkbookStatement& statement, WorkbookError& error) {
    Sheet* sheet = findSheet(workbook, toUtf16(statement.sheet));
    if (sheet == nullptr)
        return fail(error, Code::sheetMissing, formatText(L"there is no sheet '%s'", statement.sheet));
    if (statement.values.size() != statement.columns.size())
        return fail(error, Code::valueCountMismatch,
                    formatText(L"%d columns but %d values", statement.columns.size(), statement.values.size()));
    const std::vector<Cell>& cells = sheet->cells;
    const auto headerEnd =
        std::find_if(cells.begin(), cells.end(), [&](const Cell& cell) { return cell.row != cells.front().row; });
    std::vector<Cell> row;
    for (std::size_t i = 0; i < statement.columns.size(); ++i) {
        const std::u16string column = toUtf16(statement.columns[i]);
        const auto header = std::find_if(cells.begin(), headerEnd, [&](const Cell& cell) {
            return cell.kind == CellKind::text && workbook.strings[cell.text] == column;
        });
        if (header == headerEnd)
            return fail(error, Code::columnMissing,
                        formatText(L"sheet '%s' has no column '%s'", statement.sheet, statement.columns[i]));
        std::u16string value = toUtf16(statement.values[i]);
        if (value.size() > maxCellText)
            return fail(error, Code::valueTooLong,
                        formatText(L"the value for '%s' is longer than 32767 characters", statement.columns[i]));
        // An empty value leaves its cell empty.
        if (value.empty()) continue;
        Cell cell;
        cell.column = header->column;
        cell.text = addString(workbook, std::move(value));
        row.push_back(cell);
    }
    const std::uint32_t next = sheet->cells.empty() ? 0 : sheet->cells.back().row + 1;
    if (next >= maxRows)
        return fail(error, Code::sheetFull, formatText(L"sheet '%s' is full: it holds 65536 rows", statement.sheet));
    std::stable_sort(row.begin(), row.end(), [](const Cell& a, const Cell& b) { return a.column < b.column; });
    for (Cell& cell : row) {
        cell.row = next;
        sheet->cells.push_back(cell);
    }
    orderCells(*sheet);
    return true;
}

}  // namespace

bool WorkbookConnection::connect(const std::wstring& path, WorkbookError& error) {
    // Every record reads and writes the whole month: a large workbook would
    // otherwise have its memory taken from the system and given back each time.
    platform::keepFreedMemory();
    close();
    path_ = path;
    workbook_ = {};
    changed_ = false;
    switch (file_.open(toAnsi(path))) {
        case platform::LockResult::missing:
            connected_ = true;
            return true;
        case platform::LockResult::held:
            return fail(error, Code::heldElsewhere, formatText(L"%s is open in another program", path));
        case platform::LockResult::failed:
            return fail(error, Code::openFailed, formatText(L"cannot open %s: %s", path, reason()));
        case platform::LockResult::ok:
            break;
    }
    std::string bytes;
    if (!file_.read(bytes)) {
        const std::wstring why = reason();
        file_.close();
        return fail(error, Code::openFailed, formatText(L"cannot read %s: %s", path, why));
    }
    std::string storage;
    std::string_view stream;
    const CompoundReadResult found = readCompoundStream(bytes, u"Workbook", storage, stream);
    WorkbookError refused;
    if (found == CompoundReadResult::notCompoundFile) {
        refused = {Code::notCompoundFile, formatText(L"%s is not an Excel 97-2003 workbook", path)};
    } else if (found == CompoundReadResult::damaged) {
        refused = {Code::damagedCompoundFile,
                   formatText(L"%s is damaged: its container is cut short or inconsistent", path)};
    } else if (found == CompoundReadResult::streamMissing) {
        const bool older = readCompoundStream(bytes, u"Book", storage) == CompoundReadResult::ok;
        refused = {Code::noWorkbookStream,
                   older ? formatText(L"%s is an Excel 5.0/95 workbook, which is not supported", path)
                         : formatText(L"%s holds no Excel 97-2003 workbook", path)};
    } else if (!readBiffWorkbook(stream, workbook_, refused)) {
        refused.message = refused.code == Code::encryptedWorkbook
                              ? formatText(L"%s is protected by a password", path)
                              : formatText(L"%s is damaged: %s", path, refused.message);
    } else {
        connected_ = true;
        return true;
    }
    file_.close();
    workbook_ = {};
    error = std::move(refused);
    return false;
}

bool WorkbookConnection::execute(std::wstring_view statement, WorkbookError& error) {
    WorkbookStatement parsed;
    if (!parseWorkbookStatement(statement, parsed))
        return fail(error, Code::statementNotUnderstood, formatText(L"statement not understood: %s", statement));
    const bool done = parsed.kind == WorkbookStatement::Kind::createSheet ? createSheet(workbook_, parsed, error)
                                                                          : insertRow(workbook_, parsed, error);
    changed_ = changed_ || done;
    return done;
}

bool WorkbookConnection::commit(WorkbookError& error) {
    if (!connected_ || !changed_) return true;
    const std::string stream = writeBiffWorkbook(workbook_);
    const CompoundFrame frame = compoundFrame(u"Workbook", stream.size());
    if (!file_.replace({frame.head, stream, frame.tail}))
        return fail(error, Code::writeFailed, formatText(L"cannot write %s: %s", path_, reason()));
    changed_ = false;
    return true;
}

void WorkbookConnection::close() {
    file_.close();
    connected_ = false;
}

}  // namespace quelvar
