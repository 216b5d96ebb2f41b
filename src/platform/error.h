#pragma once
#include <string>

namespace quelvar::platform {

// Why the last failed platform call of this thread failed, in words.
std::string lastErrorText();

}  // namespace quelvar::platform
