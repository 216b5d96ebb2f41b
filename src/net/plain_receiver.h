#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "core/address_range.h"
#include "filing/plain_writer.h"
#include "log/event_log.h"
#include "log/network_log.h"
#include "platform/status.h"

namespace quelvar {

// Receives, files and acknowledges plain record datagrams on UDP port 1809
// from the senders `allow` lets in, until a stop is asked for, the lines the
// network causes going through `lines`: a record is acknowledged once its
// three lines are written and its batch committed, and otherwise taken back
// through `batch`. Fails when it cannot start, after telling why in the log
// and on standard error.
Status runPlainReceiver(const EventLog& log, NetworkLog& lines, PlainRecordWriter& writer, FilingBatch& batch,
                        const std::vector<AddressRange>& allow);

// A datagram is a record when it begins with "RECORD:" in any letter case.
bool isPlainRecord(std::string_view text);

// From "RID=" to the first "-" after it, wherever that is (across fields);
// none without.
std::string plainRepeatKey(std::string_view text);

}  // namespace quelvar
