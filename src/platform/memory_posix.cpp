#include "platform/memory.h"

#include <malloc.h>

namespace quelvar::platform {

void keepFreedMemory() {
    // Large blocks come from the heap too, and the heap is never trimmed: its
    // size settles at the largest need.
    mallopt(M_MMAP_MAX, 0);
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
}

}  // namespace quelvar::platform
