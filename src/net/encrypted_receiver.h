#pragma once

namespace quelvar {

// Receives, files and acknowledges enciphered record datagrams. Returns only
// when it cannot start, after logging why.
void runEncryptedReceiver();

}  // namespace quelvar
