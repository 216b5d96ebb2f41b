#include "platform/console.h"

#include <unistd.h>

#include <cerrno>

namespace quelvar::platform {

void writeStandardError(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = write(STDERR_FILENO, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return;
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
}

}  // namespace quelvar::platform
