#include "platform/process.h"

#include <malloc.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/codepage.h"

namespace quelvar::platform {

void writeStandardError(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = write(STDERR_FILENO, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return;
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
}

// There is no desktop to show a message box on.
bool showOperatorWarning(std::wstring_view caption, std::wstring_view text) {
    std::wstring line(caption);
    line.append(L": ").append(text).append(L"\n");
    writeStandardError(wideToAnsi(line));
    return false;
}

void keepFreedMemory() {
    // Large blocks come from the heap too, and the heap is never trimmed: its
    // size settles at the largest need.
    mallopt(M_MMAP_MAX, 0);
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
}

}  // namespace quelvar::platform
