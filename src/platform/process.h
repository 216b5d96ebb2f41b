#pragma once
#include <string_view>

// What the process has of its surroundings beyond files and sockets.
namespace quelvar::platform {

// Writes the bytes to standard error at once.
void writeStandardError(std::string_view bytes);

// Puts a warning in front of the operator: a system-modal message box with
// an exclamation icon and one OK button, returning when OK is pressed. True
// once it was pressed; false where no operator can see a message box (no
// desktop, as on a server or in a service): the warning went to standard
// error instead.
bool showOperatorWarning(std::wstring_view caption, std::wstring_view text);

// From now on memory that the process frees is kept for its next use rather
// than given back to the system, which would hand it out again page by page.
// For work that takes and frees the same large amounts again and again.
void keepFreedMemory();

}  // namespace quelvar::platform
