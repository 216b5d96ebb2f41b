#pragma once
#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/status.h"

namespace quelvar::platform {

// The kind of failure an errno value stands for.
inline Status::Code codeOf(int error) {
    switch (error) {
        case ENOENT: return Status::Code::notFound;
        case EEXIST: return Status::Code::exists;
        case EADDRINUSE: case EBUSY: return Status::Code::busy;
        default: return Status::Code::failed;
    }
}

// A failure the system reported with errno `error`, in its own words.
inline Status systemError(const char* operation, const std::string& subject, int error) {
    return Status::error(codeOf(error), operation, subject, std::strerror(error));
}

inline Status systemError(Status::Code code, const char* operation, const std::string& subject, int error) {
    return Status::error(code, operation, subject, std::strerror(error));
}

// Writes every byte to the descriptor, going on after a short write or an
// interruption; the errno of a refusal otherwise.
int writeAll(int descriptor, std::string_view bytes);

}  // namespace quelvar::platform
