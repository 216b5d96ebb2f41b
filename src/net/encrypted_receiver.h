#pragma once
#include <string>
#include <string_view>

#include "filing/intake.h"
#include "log/event_log.h"

namespace quelvar {

// Receives, files and acknowledges enciphered record datagrams on UDP port
// 1809, for ever. Returns only when it cannot start, after logging why.
void runEncryptedReceiver(const EventLog& log, Intake& intake);

// The call's key against repeats from the datagram's RID: its 8-bit text
// before its first "-"; none when the RID has no "-".
std::string repeatKeyOf(std::wstring_view rid);

}  // namespace quelvar
