#pragma once
#include <string>
#include <string_view>

#include "platform/status.h"

namespace quelvar {

// What the daily record files of both modes share.

// The second line of a new-format text file's header, the names of its
// columns; the first line is "#<version>&<MAC folder>".
std::wstring_view textColumnHeads();

// The event-log line for a record line that could not be written to its file.
std::wstring recordNotWritten(const Status& failure);
std::string recordNotWrittenBytes(const Status& failure);

// The event-log line for a record whose start names no day of the calendar
// (namesNoDay), filed under the err tree.
std::wstring filedWithoutDay(std::wstring_view rid, std::wstring_view timeStart);
std::string filedWithoutDayBytes(std::string_view rid, std::string_view timeStart);

// The event-log line for a file whose lines of a datagram that was not
// acknowledged could not be taken back.
std::wstring linesNotTakenBack(const Status& failure);
std::string linesNotTakenBackBytes(const Status& failure);

}  // namespace quelvar
