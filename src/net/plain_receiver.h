#pragma once
#include <string>
#include <string_view>

namespace quelvar {

// Receives, files and acknowledges plain record datagrams. Returns only when
// it cannot start, after logging why.
void runPlainReceiver();

// A datagram is a record when it begins with "RECORD:" in any letter case.
bool isPlainRecord(std::string_view text);

// From "RID=" to the first "-" after it, wherever that is (across fields);
// none without.
std::string plainRepeatKey(std::string_view text);

}  // namespace quelvar
