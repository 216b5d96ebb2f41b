#pragma once
#include <string_view>

namespace quelvar {

// The writer of the plain mode. A text beginning with "RECORD" is a call
// record for the switch's daily files; any other text becomes an event-log
// line, written byte for byte with its own stamp and line end.
void storePlainRecord(std::string_view text);

}  // namespace quelvar
