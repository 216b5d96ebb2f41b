#pragma once
#include <string>
#include <string_view>

#include "filing/plain_writer.h"
#include "log/event_log.h"

namespace quelvar {

// Receives, files and acknowledges plain record datagrams on UDP port 1809,
// for ever. Returns only when it cannot start, after logging why.
void runPlainReceiver(const EventLog& log, PlainRecordWriter& writer);

// A datagram is a record when it begins with "RECORD:" in any letter case.
bool isPlainRecord(std::string_view text);

// From "RID=" to the first "-" after it, wherever that is (across fields);
// none without.
std::string plainRepeatKey(std::string_view text);

}  // namespace quelvar
