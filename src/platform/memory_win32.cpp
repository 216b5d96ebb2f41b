#include "platform/memory.h"

namespace quelvar::platform {

// The Windows heap has no switch for this at run time: it decides by itself
// what it keeps and what it gives back.
void keepFreedMemory() {}

}  // namespace quelvar::platform
