#pragma once

namespace quelvar::platform {

// Keeps errno of a failed call for lastErrorText(); always false so that a
// failing path can return it directly.
bool rememberError(int error);

}  // namespace quelvar::platform
