#include "filing/workbook_export.h"

#include <algorithm>
#include <vector>

#include "core/folders.h"
#include "core/format.h"
#include "core/numbers.h"
#include "core/text.h"
#include "filing/workbook_error.h"
#include "log/warning.h"

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

// Refused for itself: the row could never go in, whenever it were tried.
bool refusedRow(const Status& status) {
    switch (static_cast<WorkbookErrorCode>(status.number())) {
        case WorkbookErrorCode::sheetMissing:
        case WorkbookErrorCode::columnMissing:
        case WorkbookErrorCode::sheetFull:
        case WorkbookErrorCode::valueTooLong: return true;
        default: return false;
    }
}

const wchar_t* const columns[] = {L"帐号", L"类型", L"主叫", L"被叫", L"时间", L"时长", L"线路"};

// The sheets a full day's sheet goes on in, "01 (2)" to "01 (999)": 65
// million rows a day.
constexpr int lastPart = 999;

bool sheetFull(const Status& status) {
    return static_cast<WorkbookErrorCode>(status.number()) == WorkbookErrorCode::sheetFull;
}

}  // namespace

std::wstring workbookErrorLine(const Status& status) {
    // The operator's text stays one line of the log.
    const std::wstring reason = fromAnsi(status.reason());
    return formatText(L"ERROR   XLS-%05d: %.*s\r\n", status.number(), reason.find(L'\n'), reason);
}

Status WorkbookExport::exportToWorkbook(const Record& record, const CalendarTime& now) {
    if (!record[Field::count].empty()) return {};
    const std::wstring_view time = record[Field::time];
    if (!hasMonthAndDay(time))
        return exportError(WorkbookErrorCode::recordTimeUnusable, std::wstring(time),
                           formatText(L"record time '%s' names no month and day", escapeControlCharacters(time)));
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

    QueuedRow row{std::wstring(sheet), {std::begin(columns), std::end(columns)},
                  {std::wstring(record[Field::account]), std::wstring(record[Field::type]),
                   std::wstring(record[Field::cpn]), std::wstring(record[Field::cdpn]), timeOfDay, duration,
                   std::wstring(record[Field::route])}};
    auto waiting = waiting_.find(path);
    if (waiting == waiting_.end() && platform::pathExists(toAnsi(queuePathOf(path))))
        waiting = waiting_.emplace(path, Waiting{}).first;
    Status told;
    if (waiting == waiting_.end()) {
        const Status written = writeRow(path, row);
        if (written.ok() || refusedRow(written)) return written;
        waiting = waiting_.emplace(path, Waiting{}).first;
        told = trouble(path, waiting->second, written);
    } else {
        // Rows wait already: this one goes in only after them.
        const CatchUp caught = catchUp(path, waiting->second, &row);
        if (caught.done) {
            waiting_.erase(waiting);
            return caught.row;
        }
        told = caught.told;
    }
    const Status kept = keep(path, waiting->second, row);
    if (kept.ok()) return told;
    if (!told.ok()) tell(told);
    return kept;
}

// The row in its day's sheet or, where that is full, in the first of the
// sheets it goes on in that is not; `continued` gets the line that tells of
// a sheet made so, to be written once the row is in the file.
Status WorkbookExport::appendDayRow(ExcelSheetWriter& writer, const std::wstring& path, const QueuedRow& row,
                                    std::vector<std::wstring>& continued) const {
    Status status = writer.appendRow(row.sheet, row.columns, row.values);
    for (int part = 2; sheetFull(status) && part <= lastPart; ++part) {
        const std::wstring sheet = formatText(L"%s (%d)", row.sheet, part);
        const bool made = !writer.hasSheet(sheet);
        status = writer.appendRow(sheet, row.columns, row.values);
        if (status.ok() && made)
            continued.push_back(formatText(L"WARNING   sheet '%s' of %s is full: its rows go on in sheet '%s'\r\n",
                                           formatText(part == 2 ? L"%s" : L"%s (%d)", row.sheet, part - 1), path,
                                           sheet));
    }
    return status;
}

Status WorkbookExport::writeRow(const std::wstring& path, const QueuedRow& row) {
    ExcelSheetWriter writer;
    std::vector<std::wstring> continued;
    Status status = writer.openWorkbook(path, &memory_);
    if (status.ok()) status = appendDayRow(writer, path, row, continued);
    if (status.ok()) status = writer.commitWork();
    writer.closeWorkbook();
    if (status.ok())
        for (const std::wstring& line : continued) log_.writeEventLine(line);
    return status;
}

// The rows that wait, and the one given, in one step; the queue is removed
// once they are in.
WorkbookExport::CatchUp WorkbookExport::catchUp(const std::wstring& path, Waiting& waiting, const QueuedRow* row) {
    const std::string workbook = toAnsi(path);
    if (waiting.damaged) {
        if (seen(path) == *waiting.damaged) return {};
        waiting.damaged.reset();
    }
    if (platform::fileInUse(workbook))
        return {false, trouble(path, waiting, Status::error(Status::Code::busy, "open", workbook, "held")), {}};
    // Opening undoes a change a crash cut short, the queue's count of rows
    // in the workbook with it: the queue is read only then.
    ExcelSheetWriter writer;
    Status status = writer.openWorkbook(path, &memory_);
    if (!status.ok()) return {false, trouble(path, waiting, status), {}};
    const std::wstring queuePath = queuePathOf(path);
    std::string bytes;
    const Status read = platform::readFile(toAnsi(queuePath), bytes);
    if (!read.ok() && !read.is(Status::Code::notFound))
        return {false,
                trouble(path, waiting,
                        Status::error(Status::Code::failed, "read", toAnsi(queuePath),
                                      toAnsi(formatText(L"cannot read %s: %s", queuePath, fromAnsi(read.reason()))),
                                      static_cast<int>(WorkbookErrorCode::openFailed))),
                {}};
    // A row a crash cut short in the queue was never whole: it is left out.
    const QueueContents queue = readQueue(bytes);
    if (read.ok() && queue.state == QueueContents::State::damaged)
        return {false, queueTrouble(path, waiting, queue.damagedAt), {}};

    std::vector<Status> refused;
    std::vector<std::wstring> continued;
    for (std::size_t i = queue.applied; status.ok() && i < queue.rows.size(); ++i) {
        status = appendDayRow(writer, path, queue.rows[i], continued);
        if (refusedRow(status)) {
            refused.push_back(status);
            status = {};
        }
    }
    Status rowStatus;
    if (status.ok() && row != nullptr) {
        status = appendDayRow(writer, path, *row, continued);
        if (refusedRow(status)) {
            rowStatus = status;
            status = {};
        }
    }
    const QueueUpdate update{queuePath, bytes.size(), queue.applied, static_cast<std::uint32_t>(queue.rows.size())};
    if (status.ok()) status = writer.commitWork(read.ok() ? &update : nullptr);
    writer.closeWorkbook();
    if (!status.ok()) return {false, trouble(path, waiting, status), {}};
    // Every row is in the workbook and counted so in the queue: the queue
    // may go, and if it stays it gives no row twice.
    if (read.ok()) static_cast<void>(platform::removeFileDurably(toAnsi(queuePath)));
    for (const std::wstring& line : continued) log_.writeEventLine(line);
    for (const Status& each : refused) tell(each);
    return {true, {}, rowStatus};
}

// Appends the row to the queue, the queue first cut back to its last whole
// row where a crash left half a row at its end.
Status WorkbookExport::keep(const std::wstring& path, Waiting& waiting, const QueuedRow& row) {
    const std::wstring queuePath = queuePathOf(path);
    const std::string file = toAnsi(queuePath);
    std::string entry = encodeQueuedRow(row);
    platform::FileStamp stamp;
    Status status = platform::fileStamp(file, stamp);
    if (status.is(Status::Code::notFound)) {
        entry = queueHeader() + entry;
        status = {};
    } else if (status.ok() && (!waiting.queue || *waiting.queue != stamp)) {
        std::string bytes;
        status = platform::readFile(file, bytes);
        const QueueContents queue = readQueue(bytes);
        if (status.ok() && queue.state == QueueContents::State::damaged) {
            // Left as it is; the row waits behind the damage, kept all the same.
            if (const Status told = queueTrouble(path, waiting, queue.damagedAt); !told.ok()) tell(told);
        } else if (status.ok() && queue.state == QueueContents::State::cutShort) {
            if (queue.wholeSize == 0) {
                status = platform::removeFileDurably(file);
                entry = queueHeader() + entry;
            } else {
                platform::LockedFile cut;
                status = cut.open(file);
                if (status.ok()) status = cut.resize(queue.wholeSize);
                if (status.ok()) status = cut.flush();
            }
        }
    }
    if (status.ok()) status = platform::appendDurably(file, entry);
    waiting.queue.reset();
    if (!status.ok())
        return Status::error(Status::Code::failed, "write", file,
                             toAnsi(formatText(L"cannot keep the row for %s in %s: %s", path, queuePath,
                                               fromAnsi(status.reason()))),
                             static_cast<int>(WorkbookErrorCode::rowNotKept));
    if (platform::fileStamp(file, stamp).ok()) waiting.queue = stamp;
    return {};
}

// What the operator is to be told of a workbook's trouble, once: the hold
// as a warning, the rest as an error (a damaged file again after each change).
Status WorkbookExport::trouble(const std::wstring& path, Waiting& waiting, const Status& status) {
    if (status.is(Status::Code::busy)) {
        if (!waiting.warned)
            showWarningAside(log_, L"注意", formatText(L"%s%s", ExcelSheetWriter::heldWarning, path));
        waiting.warned = true;
        return {};
    }
    const std::wstring line = workbookErrorLine(status);
    if (status.is(Status::Code::damaged)) {
        waiting.damaged = seen(path);
    } else if (line == waiting.told) {
        return {};
    }
    waiting.told = line;
    return status;
}

Status WorkbookExport::queueTrouble(const std::wstring& path, Waiting& waiting, std::uint64_t damagedAt) {
    const std::wstring queuePath = queuePathOf(path);
    const Status status = Status::error(
        Status::Code::damaged, "read", toAnsi(queuePath),
        toAnsi(formatText(L"%s is damaged at byte %llu: it is left as it is, and the rows for %s wait in it",
                          queuePath, static_cast<unsigned long long>(damagedAt), path)),
        static_cast<int>(WorkbookErrorCode::queueDamaged));
    const std::wstring line = workbookErrorLine(status);
    if (line == waiting.queueTold) return {};
    waiting.queueTold = line;
    return status;
}

WorkbookExport::Seen WorkbookExport::seen(const std::wstring& path) const {
    Seen files;
    platform::FileStamp stamp;
    if (platform::fileStamp(toAnsi(path), stamp).ok()) files.workbook = stamp;
    if (platform::fileStamp(toAnsi(journalPathOf(path)), stamp).ok()) files.journal = stamp;
    return files;
}

void WorkbookExport::tell(const Status& status) const { log_.writeEventLine(workbookErrorLine(status)); }

void WorkbookExport::tryWaiting() {
    std::vector<std::wstring> paths;
    for (const auto& [path, waiting] : waiting_) paths.push_back(path);
    for (const std::wstring& path : paths) {
        const auto waiting = waiting_.find(path);
        const CatchUp caught = catchUp(path, waiting->second, nullptr);
        if (caught.done) waiting_.erase(waiting);
        if (!caught.told.ok()) tell(caught.told);
    }
}

void WorkbookExport::tick(TimeValue now) {
    if (waiting_.empty() || lastTry_ == now) return;
    lastTry_ = now;
    tryWaiting();
}

void WorkbookExport::resumeLeftovers() {
    const std::wstring folder = pathIn(programDir_, L"rec");
    std::vector<std::string> names;
    if (!platform::listFolder(toAnsi(folder), names).ok()) return;
    for (const std::string& name : names) {
        const std::wstring wide = fromAnsi(name);
        // Only what lies beside a month's workbook, YYYYMM.xls: a journal
        // beside any other file would change that file.
        const bool month = wide.size() > 6 && std::all_of(wide.begin(), wide.begin() + 6,
                                                          [](wchar_t c) { return c >= L'0' && c <= L'9'; });
        for (const std::wstring_view ending : {std::wstring_view(L".xls.queue"), std::wstring_view(L".xls-journal")})
            if (month && wide.size() == 6 + ending.size() && wide.ends_with(ending))
                waiting_.emplace(pathIn(folder, wide.substr(0, 6 + 4)), Waiting{});
    }
    tryWaiting();
}

}  // namespace quelvar
