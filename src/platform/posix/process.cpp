#include "platform/process.h"

#include <malloc.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/codepage.h"

namespace quelvar::platform {

namespace {

void writeTo(int descriptor, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = write(descriptor, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return;
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
}

}  // namespace

void writeStandardError(std::string_view bytes) { writeTo(STDERR_FILENO, bytes); }

void writeStandardOutput(std::string_view bytes) { writeTo(STDOUT_FILENO, bytes); }

// There is no desktop to show a message box on.
bool showOperatorWarning(std::wstring_view, std::wstring_view) { return false; }

namespace {

volatile sig_atomic_t stopAsked = 0;

void askStop(int) { stopAsked = 1; }

}  // namespace

void watchStopRequests() {
    struct sigaction action {};
    action.sa_handler = askStop;
    sigemptyset(&action.sa_mask);
    // No restart: a receive that waits returns at once, to see the request.
    action.sa_flags = 0;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    signal(SIGHUP, SIG_IGN);
}

bool stopRequested() { return stopAsked != 0; }

void requestStop() { stopAsked = 1; }

void reportStopped() {}

void notifyServiceManager(std::string_view state) {
    const char* name = std::getenv("NOTIFY_SOCKET");
    if (name == nullptr || name[0] == '\0') return;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::size_t length = std::strlen(name);
    if (length >= sizeof address.sun_path) return;
    std::memcpy(address.sun_path, name, length);
    // A name beginning with '@' lies in the abstract namespace.
    if (address.sun_path[0] == '@') address.sun_path[0] = '\0';
    const int handle = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (handle < 0) return;
    const socklen_t size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + length);
    sendto(handle, state.data(), state.size(), MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&address), size);
    close(handle);
}

// systemd runs the collector as it is, from its unit file.
Status installService(const ServiceDefinition& service, std::string& commandLine) {
    commandLine.clear();
    return Status::error(Status::Code::unsupported, "install service", wideToAnsi(service.name),
                         "Windows services exist only on Windows");
}

Status uninstallService(std::wstring_view name, bool& stopped) {
    stopped = false;
    return Status::error(Status::Code::unsupported, "remove service", wideToAnsi(name),
                         "Windows services exist only on Windows");
}

Status runAsService(std::wstring_view name, int (*)(), int& exitStatus) {
    exitStatus = 2;
    return Status::error(Status::Code::unsupported, "run as service", wideToAnsi(name),
                         "Windows services exist only on Windows");
}

void keepFreedMemory() {
    // Large blocks come from the heap too, and the heap is never trimmed: its
    // size settles at the largest need.
    mallopt(M_MMAP_MAX, 0);
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
}

}  // namespace quelvar::platform
