#pragma once

namespace quelvar::platform {

// From now on memory that the process frees is kept for its next use
// rather than given back to the system, which would hand it out again page
// by page, each page costing a fault and a clearing. For work that takes and
// frees the same large amounts again and again.
void keepFreedMemory();

}  // namespace quelvar::platform
