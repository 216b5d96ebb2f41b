#include "filing/excel_sheet_writer.h"

#include <algorithm>

#include "core/format.h"
#include "core/text.h"
#include "core/utf16.h"
#include "filing/rollback_journal.h"
#include "filing/row_queue.h"
#include "filing/workbook_error.h"
#include "platform/process.h"
#include "xls/workbook_file.h"

namespace quelvar {

const wchar_t* const ExcelSheetWriter::heldWarning = L"EXCEL文件已被打开，新数据无法写入。\r\n请关闭文件后再点“确定”！\r\n\r\n";

std::wstring journalPathOf(const std::wstring& workbook) { return workbook + L"-journal"; }

std::wstring queuePathOf(const std::wstring& workbook) { return workbook + L".queue"; }

namespace {

using Code = WorkbookErrorCode;

Status workbookError(Code code, const char* operation, const std::wstring& path, const std::wstring& message) {
    Status::Code kind = Status::Code::failed;
    if (code == Code::heldElsewhere) kind = Status::Code::busy;
    if ((code >= Code::notCompoundFile && code <= Code::encryptedWorkbook) || code == Code::unfinishedChange)
        kind = Status::Code::damaged;
    return Status::error(kind, operation, toAnsi(path), toAnsi(message), static_cast<int>(code));
}

std::wstring reasonOf(const Status& status) { return fromAnsi(status.reason()); }

bool usableSheetName(std::u16string_view name) {
    if (name.empty() || name.size() > xls::maxSheetName || name.front() == u'\'' || name.back() == u'\'') return false;
    return name.find_first_of(u"[]:*?/\\") == std::u16string_view::npos;
}

// As Excel compares sheet names: without regard to case.
bool sameSheet(std::u16string_view a, std::u16string_view b) {
    const auto upper = [](char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [&](char16_t x, char16_t y) { return upper(x) == upper(y); });
}

Status readFailure(xls::FileReadResult result, const std::wstring& path, const std::string& why) {
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

// Whether the file is as the site left it: its size and every sector it kept.
bool matchesSite(platform::LockedFile& file, const xls::AppendSite& site) {
    std::uint64_t size = 0;
    if (!file.size(size).ok() || size != site.fileSize()) return false;
    std::string bytes;
    for (const auto& [offset, kept] : site.keptSectors())
        if (!file.readAt(offset, kept.size(), bytes).ok() || bytes != kept) return false;
    return true;
}

}  // namespace

Status ExcelSheetWriter::openWorkbook(const std::wstring& path, WorkbookMemory* memory) {
    const std::string file = toAnsi(path);
    if (platform::fileInUse(file))
        return workbookError(Code::heldElsewhere, "open", path, formatText(L"%s is open in another program", path));
    closeWorkbook();
    path_ = path;
    memory_ = memory != nullptr ? memory : &own_;
    if (memory_->path != path) *memory_ = {path, std::nullopt};
    Status opened = file_.open(file);
    if (!opened.ok() && !opened.is(Status::Code::notFound)) {
        if (opened.is(Status::Code::busy))
            return workbookError(Code::heldElsewhere, "open", path, formatText(L"%s is open in another program", path));
        return workbookError(Code::openFailed, "open", path, formatText(L"cannot open %s: %s", path, reasonOf(opened)));
    }
    // A change that a crash cut short is undone before anything is read.
    const std::string journal = toAnsi(journalPathOf(path));
    if (platform::pathExists(journal)) {
        memory_->site.reset();
        const Status undone = undoJournal(journal, {{file, opened.ok() ? &file_ : nullptr}, {toAnsi(queuePathOf(path))}});
        if (!undone.ok()) {
            file_.close();
            return workbookError(Code::unfinishedChange, "undo", path,
                                 formatText(L"%s was left half written and cannot be put back: %s", path,
                                            reasonOf(undone)));
        }
        file_.close();
        opened = file_.open(file);
        if (!opened.ok() && !opened.is(Status::Code::notFound))
            return workbookError(Code::openFailed, "open", path,
                                 formatText(L"cannot open %s: %s", path, reasonOf(opened)));
    }
    open_ = true;
    exists_ = opened.ok();
    if (!exists_) {
        memory_->site.reset();
        whole_ = true;
        return {};
    }
    if (memory_->site && matchesSite(file_, *memory_->site)) {
        inPlace_ = true;
        return {};
    }
    memory_->site.reset();
    const Status read = readWhole();
    if (!read.ok()) closeWorkbook();
    return read;
}

// The whole file, and where rows can go in place.
Status ExcelSheetWriter::readWhole() {
    // A large workbook would otherwise have its memory taken from the
    // system and given back for every whole read.
    platform::keepFreedMemory();
    if (const Status read = file_.read(bytes_); !read.ok())
        return workbookError(Code::openFailed, "read", path_, formatText(L"cannot read %s: %s", path_, reasonOf(read)));
    std::string why;
    const xls::FileReadResult result = xls::readWorkbookFile(bytes_, workbook_, why);
    if (result != xls::FileReadResult::ok) return readFailure(result, path_, why);
    whole_ = true;
    xls::AppendSite site;
    if (xls::AppendSite::find(bytes_, workbook_, site)) {
        memory_->site = std::move(site);
        inPlace_ = true;
    }
    return {};
}

// From here rows go into the workbook read whole, those given so far too.
Status ExcelSheetWriter::leavePlace() {
    inPlace_ = false;
    if (!whole_)
        if (const Status read = readWhole(); !read.ok()) return read;
    inPlace_ = false;
    for (const Row& row : rows_)
        if (const Status added = appendWhole(row); !added.ok()) return added;
    rows_.clear();
    cells_.clear();
    return {};
}

bool ExcelSheetWriter::hasSheet(std::wstring_view sheet) const {
    const std::u16string name = toUtf16(sheet);
    if (inPlace_) {
        const xls::AppendSite& site = *memory_->site;
        for (std::size_t i = 0; i < site.sheetCount(); ++i)
            if (sameSheet(site.sheetName(i), name)) return true;
        return false;
    }
    return std::any_of(workbook_.sheets.begin(), workbook_.sheets.end(),
                       [&](const xls::Sheet& each) { return sameSheet(each.name, name); });
}

Status ExcelSheetWriter::appendRow(std::wstring_view sheet, std::initializer_list<std::wstring_view> columns,
                                   std::initializer_list<std::wstring_view> values) {
    Row row{std::wstring(sheet), {}, {}};
    for (const std::wstring_view column : columns) row.columns.emplace_back(column);
    for (const std::wstring_view value : values) row.values.emplace_back(value);
    return append(std::move(row));
}

Status ExcelSheetWriter::appendRow(std::wstring_view sheet, const std::vector<std::wstring>& columns,
                                   const std::vector<std::wstring>& values) {
    return append({std::wstring(sheet), columns, values});
}

Status ExcelSheetWriter::append(Row row) {
    const std::wstring& sheetName = row.sheet;
    row.values.resize(row.columns.size());
    if (inPlace_) {
        bool placed = false;
        const Status added = appendInPlace(row, placed);
        if (placed || !added.ok()) return added;
        if (const Status left = leavePlace(); !left.ok()) return left;
    }
    if (!whole_) return workbookError(Code::sheetMissing, "write", path_, formatText(L"there is no sheet '%s'", sheetName));
    return appendWhole(row);
}

// The same answers as appendWhole gives; `placed` stays false where the row
// cannot go in place.
Status ExcelSheetWriter::appendInPlace(const Row& row, bool& placed) {
    const xls::AppendSite& site = *memory_->site;
    const std::u16string name = toUtf16(row.sheet);
    std::size_t sheet = 0;
    while (sheet < site.sheetCount() && !sameSheet(site.sheetName(sheet), name)) ++sheet;
    if (sheet == site.sheetCount() || !site.takesRows(sheet)) return {};
    std::vector<xls::RowCell> cells;
    for (std::size_t i = 0; i < row.columns.size(); ++i) {
        std::uint16_t column = 0;
        if (!site.columnOf(sheet, toUtf16(row.columns[i]), column))
            return workbookError(Code::columnMissing, "write", path_,
                                 formatText(L"sheet '%s' has no column '%s'", row.sheet, row.columns[i]));
        std::u16string text = toUtf16(row.values[i]);
        if (text.size() > xls::maxCellText)
            return workbookError(Code::valueTooLong, "write", path_,
                                 formatText(L"the value for '%s' is longer than 32767 characters", row.columns[i]));
        if (text.size() > xls::AppendSite::maxText) return {};
        if (!text.empty()) cells.push_back({column, std::move(text)});
    }
    auto group = std::find_if(cells_.begin(), cells_.end(),
                              [&](const xls::SheetRows& each) { return each.sheet == sheet; });
    std::uint32_t taken = 0;
    if (group != cells_.end())
        taken = static_cast<std::uint32_t>(std::count_if(
            group->rows.begin(), group->rows.end(), [](const std::vector<xls::RowCell>& r) { return !r.empty(); }));
    if (site.nextRow(sheet) + taken >= xls::maxRows)
        return workbookError(Code::sheetFull, "write", path_,
                             formatText(L"sheet '%s' is full: it holds 65536 rows", row.sheet));
    std::stable_sort(cells.begin(), cells.end(),
                     [](const xls::RowCell& a, const xls::RowCell& b) { return a.column < b.column; });
    // Of two cells at one place the later wins, as in a workbook read whole.
    std::vector<xls::RowCell> kept;
    for (xls::RowCell& cell : cells) {
        if (!kept.empty() && kept.back().column == cell.column)
            kept.back() = std::move(cell);
        else
            kept.push_back(std::move(cell));
    }
    if (group == cells_.end()) group = cells_.insert(cells_.end(), xls::SheetRows{sheet, {}});
    group->rows.push_back(std::move(kept));
    rows_.push_back(row);
    changed_ = true;
    placed = true;
    return {};
}

Status ExcelSheetWriter::appendWhole(const Row& row) {
    const std::wstring& sheetName = row.sheet;
    const std::u16string name = toUtf16(sheetName);
    xls::Sheet* sheet = xls::findSheet(workbook_, name);
    if (sheet == nullptr) {
        if (!open_ || !usableSheetName(name) || row.columns.size() > xls::maxColumns)
            return workbookError(Code::sheetMissing, "write", path_, formatText(L"there is no sheet '%s'", sheetName));
        xls::Sheet added;
        added.name = name;
        std::uint16_t column = 0;
        for (const std::wstring& head : row.columns) {
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
    const std::uint32_t next = cells.empty() ? 0 : cells.back().row + 1;
    const auto headerEnd =
        std::find_if(cells.begin(), cells.end(), [&](const xls::Cell& cell) { return cell.row != cells.front().row; });
    std::vector<std::pair<std::uint16_t, std::u16string>> texts;
    for (std::size_t i = 0; i < row.columns.size(); ++i) {
        const std::u16string head = toUtf16(row.columns[i]);
        const auto header = std::find_if(cells.begin(), headerEnd, [&](const xls::Cell& cell) {
            return cell.kind == xls::CellKind::text && workbook_.strings[cell.text] == head;
        });
        if (header == headerEnd)
            return workbookError(Code::columnMissing, "write", path_,
                                 formatText(L"sheet '%s' has no column '%s'", sheetName, row.columns[i]));
        std::u16string text = toUtf16(row.values[i]);
        if (text.size() > xls::maxCellText)
            return workbookError(Code::valueTooLong, "write", path_,
                                 formatText(L"the value for '%s' is longer than 32767 characters", row.columns[i]));
        // An empty value leaves its cell empty.
        if (!text.empty()) texts.emplace_back(header->column, std::move(text));
    }
    // Before any text goes into the shared ones.
    if (next >= xls::maxRows)
        return workbookError(Code::sheetFull, "write", path_,
                             formatText(L"sheet '%s' is full: it holds 65536 rows", sheetName));
    std::vector<xls::Cell> added;
    for (auto& [column, text] : texts) {
        xls::Cell cell;
        cell.column = column;
        cell.text = xls::addString(workbook_, std::move(text));
        added.push_back(cell);
    }
    std::stable_sort(added.begin(), added.end(),
                     [](const xls::Cell& a, const xls::Cell& b) { return a.column < b.column; });
    for (xls::Cell& cell : added) {
        cell.row = next;
        sheet->cells.push_back(cell);
    }
    xls::orderCells(*sheet);
    changed_ = true;
    return {};
}

Status ExcelSheetWriter::commitWork(const QueueUpdate* queue) {
    if (!open_ || (!changed_ && queue == nullptr)) return {};
    const auto failed = [&](const Status& status) {
        memory_->site.reset();
        return workbookError(Code::writeFailed, "write", path_,
                             formatText(L"cannot write %s: %s", path_, reasonOf(status)));
    };
    std::vector<FileChangePlan> plans;
    if (changed_ && inPlace_) {
        FileChangePlan plan{toAnsi(path_), &file_, true, memory_->site->fileSize(), 0, {}, {}};
        const xls::FileReader read = [&](std::uint64_t offset, std::size_t size, std::string& bytes) {
            return file_.readAt(offset, size, bytes).ok();
        };
        const auto appended = memory_->site->append(cells_, read, plan.edits, plan.sizeAfter);
        if (appended == xls::AppendSite::Result::unreadable)
            return failed(Status::error(Status::Code::failed, "read", toAnsi(path_), "cannot read it"));
        if (appended == xls::AppendSite::Result::added) {
            plans.push_back(std::move(plan));
        } else {
            memory_->site.reset();
            if (const Status left = leavePlace(); !left.ok()) return left;
        }
    }
    xls::WorkbookFile written;
    if (changed_ && !inPlace_) {
        // Written anew, the workbook is read whole again before rows go in place.
        memory_->site.reset();
        written = xls::writeWorkbookFile(workbook_);
        if (queue == nullptr) {
            if (const Status replaced = file_.replace({written.head, written.stream, written.tail}); !replaced.ok())
                return failed(replaced);
            changed_ = false;
            exists_ = true;
            return {};
        }
        // With the queue, in place under the journal, so that the rows are
        // in the workbook and out of the queue in one step.
        const std::uint64_t size = written.head.size() + written.stream.size() + written.tail.size();
        FileChangePlan plan{toAnsi(path_), &file_, exists_, exists_ ? bytes_.size() : 0, size, {}, {}};
        std::uint64_t offset = 0;
        for (std::string* piece : {&written.head, &written.stream, &written.tail}) {
            const std::string before = offset < bytes_.size() ? bytes_.substr(offset, piece->size()) : std::string();
            plan.edits.push_back({offset, std::move(*piece), before});
            offset += plan.edits.back().bytes.size();
        }
        if (bytes_.size() > size) plan.cutAway = bytes_.substr(size);
        plans.push_back(std::move(plan));
    }
    platform::LockedFile queueFile;
    if (queue != nullptr) {
        const std::string queuePath = toAnsi(queue->path);
        if (const Status opened = queueFile.open(queuePath); !opened.ok()) return failed(opened);
        plans.push_back({queuePath, &queueFile, true, queue->size, queue->size,
                         {{queueAppliedAt, queueAppliedField(queue->after), queueAppliedField(queue->before)}},
                         {}, true});
    }
    if (const Status changed = changeUnderJournal(toAnsi(journalPathOf(path_)), plans); !changed.ok())
        return failed(changed);
    exists_ = exists_ || changed_;
    changed_ = false;
    rows_.clear();
    cells_.clear();
    return {};
}

void ExcelSheetWriter::closeWorkbook() {
    file_.close();
    open_ = false;
    exists_ = false;
    changed_ = false;
    inPlace_ = false;
    whole_ = false;
    rows_.clear();
    cells_.clear();
    bytes_.clear();
    workbook_ = {};
}

}  // namespace quelvar
