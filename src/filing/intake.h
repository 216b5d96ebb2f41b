#pragma once
#include <string_view>

#include "filing/record_writer.h"
#include "filing/workbook_export.h"
#include "log/event_log.h"
#include "message/record.h"
#include "platform/status.h"

namespace quelvar {

// The intake of the encrypted mode: where each decoded line of a datagram,
// and the merged call, goes. A record with a MAC goes to the daily record
// files, one without to the month's workbook; anything else is an event-log
// line of the text as it came. What could not be filed is logged here.
class Intake {
public:
    Intake(const EventLog& log, RecordWriter& records, WorkbookExport& workbook)
        : log_(log), records_(records), workbook_(workbook) {}

    // `text` is the line as it came, `record` its decoding. `reply` is the
    // record's ID when it was filed in a switch's files, empty otherwise. Fails
    // when a line of a switch's record could not be written: the datagram
    // must not be acknowledged.
    Status submitMessage(const Record& record, std::wstring_view text, std::wstring_view& reply);

    // The receive loop's beat, at least once a second: rows that wait for
    // a workbook go in once it takes them again.
    void tick(TimeValue now) { workbook_.tick(now); }

private:
    const EventLog& log_;
    RecordWriter& records_;
    WorkbookExport& workbook_;
};

}  // namespace quelvar
