#pragma once
#include <string_view>

namespace quelvar {

// The writer of the plain mode. A text beginning with "RECORD" is a call
// record, filed byte for byte into three daily files of its switch under
// <programDir>/rec/<MAC> (a record without MAC is skipped); any other text
// becomes an event-log line with its own stamp and line end. False only
// when a record could not be written to all its files (each failure is
// logged with the file and the reason): it must not be acknowledged.
bool storePlainRecord(std::string_view text);

}  // namespace quelvar
