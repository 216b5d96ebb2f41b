#pragma once
#include <string>

namespace quelvar::platform {

// Whether another program has the file open for editing. On Windows the file
// cannot be opened without sharing (a sharing violation); elsewhere an office
// suite's lock file ".~lock.<name>#" lies beside it, or another process holds
// a record lock on it. A missing file is in nobody's use.
bool fileInUse(const std::string& path);

}  // namespace quelvar::platform
