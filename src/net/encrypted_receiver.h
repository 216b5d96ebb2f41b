#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "message/field_map.h"

namespace quelvar {

// Receives, files and acknowledges enciphered record datagrams. Returns only
// when it cannot start, after logging why.
void runEncryptedReceiver();

// A datagram is a record when it begins with "RECORD:" in any letter case.
bool isRecordDatagram(std::wstring_view text);

// The call's key from the map of the whole datagram: the RID's 8-bit text
// before its first "-"; none when the RID has no "-".
std::string repeatKeyOf(const FieldMap& datagramFields);

// The merged record of one call from the lines of its datagram: the common
// fields from the first line that has them, a COUNT of the lines and the
// legs of the first five lines, each with its end time.
std::wstring mergeCallRecord(const std::vector<std::wstring>& parts);

}  // namespace quelvar
