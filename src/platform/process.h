#pragma once
#include <string_view>

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
// systemd's notification socket (NOTIFY_SOCKET), e.g. "READY=1".
void notifyServiceManager(std::string_view state);

// From now on memory that the process frees is kept for its next use rather
// than given back to the system, which would hand it out again page by page.
// For work that takes and frees the same large amounts again and again.
void keepFreedMemory();

}  // namespace quelvar::platform
