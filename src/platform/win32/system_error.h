#pragma once
#include <windows.h>

#include <string>
#include <string_view>

#include "platform/codepage.h"
#include "platform/status.h"

namespace quelvar::platform {

// The kind of failure a system error code stands for.
Status::Code codeOf(DWORD error);

// The system's words for an error code, without the full stop and line end
// its texts close with.
std::string errorText(DWORD error);

// A failure the system reported with `error`.
inline Status systemError(const char* operation, const std::string& subject, DWORD error) {
    return Status::error(codeOf(error), operation, subject, errorText(error));
}

inline Status systemError(Status::Code code, const char* operation, const std::string& subject, DWORD error) {
    return Status::error(code, operation, subject, errorText(error));
}

// Paths cross the seam in the ANSI code page, as the system's 8-bit file
// functions take them; the W functions get them back in wide form.
inline std::wstring widePath(const std::string& path) { return ansiToWide(path); }

// Writes every byte to the file, in pieces WriteFile can take; the error
// code of a refusal, or 0.
DWORD writeAll(HANDLE file, std::string_view bytes);

}  // namespace quelvar::platform
