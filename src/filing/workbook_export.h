#pragma once
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/time.h"
#include "filing/excel_sheet_writer.h"
#include "filing/row_queue.h"
#include "log/event_log.h"
#include "message/record.h"
#include "platform/files.h"
#include "platform/status.h"

namespace quelvar {

// Files records without a MAC as rows of the month's workbook
// <programDir>/rec/<YYYY><MM>.xls, in the sheet of their day. A row the
// workbook cannot take now (another program holds it, it is damaged, it
// cannot be written) waits in the workbook's queue beside it and goes in
// later, in order, once the workbook takes rows again: tried at the next
// row for it and at most once a second (tick). A day's sheet that is full
// goes on in a sheet of its own, "01 (2)", then "01 (3)", the first row
// there told in the log. Nothing here waits for another program.
class WorkbookExport {
public:
    // `log` takes the warnings and the troubles of rows that wait.
    WorkbookExport(std::wstring programDir, const EventLog& log) : programDir_(std::move(programDir)), log_(log) {}

    // One record as a row. A failure carries its "XLS-" number and the
    // operator's text, and comes only when the operator is to be told: a
    // row refused for itself, a row the queue cannot keep, the first word
    // of a workbook's trouble (its rows wait; the trouble is told once). The
    // merged record of a call (it alone carries COUNT) is no row: its lines
    // are.
    Status exportToWorkbook(const Record& record) { return exportToWorkbook(record, currentLocalTime()); }
    // The same at a given moment of the clock.
    Status exportToWorkbook(const Record& record, const CalendarTime& now);

    // Tries the workbooks whose rows wait, at most once a second: those
    // that take rows again get them, in order. Logs what goes wrong.
    void tick(TimeValue now);

    // At start: the changes a crash cut short and the rows that waited
    // when the last run ended, in rec/, are dealt with first.
    void resumeLeftovers();

    // Whether rows wait for any workbook.
    bool rowsWait() const { return !waiting_.empty(); }

private:
    // The workbook and its journal as they were when found in trouble.
    struct Seen {
        std::optional<platform::FileStamp> workbook;
        std::optional<platform::FileStamp> journal;
        friend bool operator==(const Seen&, const Seen&) = default;
    };
    // A workbook whose rows wait, and what the operator was told of it.
    struct Waiting {
        bool warned = false;
        std::wstring told;
        std::wstring queueTold;
        // A damaged workbook is not read again until it changes.
        std::optional<Seen> damaged;
        // The queue as this run last wrote it: appended to without reading it again.
        std::optional<platform::FileStamp> queue;
    };
    struct CatchUp {
        bool done = false;
        Status told;
        Status row;  // the refusal of the row given with it
    };

    Status appendDayRow(ExcelSheetWriter& writer, const std::wstring& path, const QueuedRow& row,
                        std::vector<std::wstring>& continued) const;
    Status writeRow(const std::wstring& path, const QueuedRow& row);
    CatchUp catchUp(const std::wstring& path, Waiting& waiting, const QueuedRow* row);
    Status keep(const std::wstring& path, Waiting& waiting, const QueuedRow& row);
    Status trouble(const std::wstring& path, Waiting& waiting, const Status& status);
    Status queueTrouble(const std::wstring& path, Waiting& waiting, std::uint64_t damagedAt);
    void tryWaiting();
    Seen seen(const std::wstring& path) const;
    void tell(const Status& status) const;

    std::wstring programDir_;
    const EventLog& log_;
    std::map<std::wstring, Waiting> waiting_;
    WorkbookMemory memory_;
    std::optional<TimeValue> lastTry_;
};

// The event-log line of a workbook failure: "ERROR   XLS-<number>: <text>".
std::wstring workbookErrorLine(const Status& status);

}  // namespace quelvar
