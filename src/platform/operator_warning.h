#pragma once
#include <string_view>

namespace quelvar::platform {

// Puts a warning in front of the operator: a system-modal message box with
// an exclamation icon and one OK button, returning when OK is pressed. True
// once it was pressed; false where no operator can see a message box (no
// desktop, as on a server or in a service), and the warning went to standard
// error instead.
bool showOperatorWarning(std::wstring_view caption, std::wstring_view text);

}  // namespace quelvar::platform
