#pragma once
#include <string>
#include <string_view>

#include "platform/status.h"

// What the process has of its surroundings beyond files and sockets.
namespace quelvar::platform {

// Writes the bytes to standard error, or standard output, at once. Where a
// windowless program has neither, the console it was started from.
void writeStandardError(std::string_view bytes);
void writeStandardOutput(std::string_view bytes);

// Puts a warning in front of the operator: a system-modal message box with
// an exclamation icon and one OK button, returning when OK is pressed. True
// once it was pressed; false at once where no operator can see a message box
// (no desktop, as on a server or in a service).
bool showOperatorWarning(std::wstring_view caption, std::wstring_view text);

// From now on SIGTERM and SIGINT (on Windows a console's Ctrl+C, close,
// log-off or shutdown) ask the process to stop rather than end it where it
// stands; SIGHUP is ignored. A receive that waits returns when one comes.
void watchStopRequests();
// Whether a stop was asked for.
bool stopRequested();
// Asks for a stop from within (a service manager's stop request).
void requestStop();
// Says that the process has done what a stop request asked: where the
// system waits for that before it ends the process, it may now.
void reportStopped();

// Tells the service manager how the program stands, where one listens:
// systemd's notification socket (NOTIFY_SOCKET), e.g. "READY=1". Under
// Windows' service manager (runAsService) "READY=1" reports the service as
// running.
void notifyServiceManager(std::string_view state);

// Windows' service manager runs programs as services of its own; elsewhere
// (systemd) a service is an ordinary process, and the functions below answer
// unsupported.
#ifdef _WIN32
inline constexpr bool windowsServices = true;
#else
inline constexpr bool windowsServices = false;
#endif

// A service of Windows' service manager that runs this executable.
struct ServiceDefinition {
    std::wstring_view name;         // the manager's key: "sc start <name>"
    std::wstring_view displayName;  // what the Services console shows
    std::wstring_view description;
    // What follows the executable's full path on its command line.
    std::wstring_view argument;
};

// Registers the service to start with the machine, as LocalSystem, running
// this executable from where it lies now. `commandLine` is what the manager
// will run. exists when a service of that name (or display name) is there.
[[nodiscard]] Status installService(const ServiceDefinition& service, std::string& commandLine);
// Removes the service, stopping it first (and then `stopped` is true) when
// it runs. notFound when no service has that name; busy when it has not
// stopped within 30 s, and then it stays.
[[nodiscard]] Status uninstallService(std::wstring_view name, bool& stopped);
// For the process that the service manager started: runs `collector` as
// the service, which the manager sees starting, running from
// notifyServiceManager("READY=1") on, stopping once it asks for a stop
// (stopRequested turns true) and stopped with the status `collector`
// returns, which comes back in `exitStatus`. Within it watchStopRequests
// leaves stop requests to the manager. unavailable when the process was not
// started by the service manager.
[[nodiscard]] Status runAsService(std::wstring_view name, int (*collector)(), int& exitStatus);

// From now on memory that the process frees is kept for its next use rather
// than given back to the system, which would hand it out again page by page.
// For work that takes and frees the same large amounts again and again.
void keepFreedMemory();

}  // namespace quelvar::platform
