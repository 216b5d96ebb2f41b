#pragma once
// What the collector's event log tells about records it could not file and
// datagrams it did not take.
#include <map>
#include <string>
#include <string_view>

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

// Adds up the lines of one day's log, as UTF-8 text.
void countLogLines(std::string_view text, LogCounts& counts);

}  // namespace quelvar::report
