#pragma once
// What the collector's event log tells about records it could not file and
// datagrams it did not take.
#include <map>
#include <string>
#include <string_view>

#include "platform/status.h"

namespace quelvar::report {

struct SenderCounts {
    long unknown = 0;   // datagrams that were no record, those suppressed included
    long tooLong = 0;   // record datagrams of more than 64 lines
    long refused = 0;   // datagrams from a sender ALLOW does not list
};

struct LogCounts {
    long notWritten = 0;                          // records that could not be written
    std::map<std::string, SenderCounts> senders;  // by address, without the port
};

// Adds up the lines of one day's log. The lines counted are ASCII, in GBK as
// in UTF-8, so the bytes are read as they are.
void countLogLines(std::string_view text, LogCounts& counts);

// The same for a log file, read a piece at a time: a day's log of a busy
// collector runs to hundreds of megabytes. Only a regular file is read.
Status countLogFile(const std::string& path, LogCounts& counts);

}  // namespace quelvar::report
