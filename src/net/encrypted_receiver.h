#pragma once
#include <string>
#include <vector>

namespace quelvar {

// Receives, files and acknowledges enciphered record datagrams. Returns only
// when it cannot start, after logging why.
void runEncryptedReceiver();

// The merged record of one call from the lines of its datagram: the common
// fields from the first line that has them, a COUNT of the lines and the
// legs of the first five lines, each with its end time.
std::wstring mergeCallRecord(const std::vector<std::wstring>& parts);

}  // namespace quelvar
