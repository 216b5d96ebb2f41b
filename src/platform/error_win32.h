#pragma once
#include <windows.h>

namespace quelvar::platform {

// Keeps the error code of a failed call (GetLastError, WSAGetLastError) for
// lastErrorText(); always false so that a failing path can return it directly.
bool rememberError(DWORD error);
DWORD rememberedError();

}  // namespace quelvar::platform
