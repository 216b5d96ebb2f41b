#pragma once

namespace quelvar {

// Receives, files and acknowledges plain record datagrams. Returns only when
// it cannot start, after logging why.
void runPlainReceiver();

}  // namespace quelvar
