#pragma once
#include <string_view>

#include "filing/record_writer.h"
#include "filing/workbook_export.h"
#include "log/event_log.h"
#include "log/network_log.h"
#include "message/record.h"
#include "platform/status.h"

namespace quelvar {

// The intake of the encrypted mode: where each decoded line of a datagram,
// and the merged call, goes. A record with a MAC goes to the daily record
// files, one without to the month's workbook; anything else is an event-log
// line that shows the text behind a head of the collector's own. What could
// not be filed is logged here, under the sender's cap.
class Intake {
public:
    Intake(NetworkLog& network, RecordWriter& records, WorkbookExport& workbook)
        : log_(network.eventLog()), network_(network), records_(records), workbook_(workbook) {}

    // `text` is the line as it came, `record` its decoding. `reply` is the
    // record's ID when it was filed in a switch's files, empty otherwise. Fails
    // when a line of a switch's record could not be written: the datagram
    // must not be acknowledged. `filed` tells whether the line went whole
    // into a switch's files or the workbook.
    Status submitMessage(const Record& record, std::wstring_view text, std::wstring_view& reply, bool* filed = nullptr);

    // The receive loop's beat, at least once a second: rows that wait for
    // a workbook go in once it takes them again.
    void tick(TimeValue now) { workbook_.tick(now); }

private:
    const EventLog& log_;
    NetworkLog& network_;
    RecordWriter& records_;
    WorkbookExport& workbook_;
};

}  // namespace quelvar
