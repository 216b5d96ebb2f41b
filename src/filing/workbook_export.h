#pragma once
#include <string>

#include "core/time.h"
#include "log/event_log.h"
#include "message/record.h"
#include "platform/status.h"

namespace quelvar {

// Files records without a MAC as rows of the month's workbook
// <programDir>/rec/<YYYY><MM>.xls, in the sheet of their day.
class WorkbookExport {
public:
    // `log` takes the warning while another program holds a workbook.
    WorkbookExport(std::wstring programDir, const EventLog& log) : programDir_(std::move(programDir)), log_(log) {}

    // One record as a row. A failure carries its "XLS-" number and the
    // operator's text. The merged record of a call (it alone carries COUNT)
    // is no row: its lines are.
    Status exportToWorkbook(const Record& record) { return exportToWorkbook(record, currentLocalTime()); }
    // The same at a given moment of the clock.
    Status exportToWorkbook(const Record& record, const CalendarTime& now);

private:
    std::wstring programDir_;
    const EventLog& log_;
};

}  // namespace quelvar
