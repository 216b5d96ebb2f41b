#include "platform/error.h"
#include "platform/error_posix.h"

#include <cstring>

namespace quelvar::platform {

namespace {
thread_local int lastError = 0;
}

bool rememberError(int error) {
    lastError = error;
    return false;
}

std::string lastErrorText() { return std::strerror(lastError); }

}  // namespace quelvar::platform
