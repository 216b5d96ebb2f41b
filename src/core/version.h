#pragma once

namespace quelvar {

// The version the start and stop lines and every record file's header carry.
inline constexpr const wchar_t* versionText = L"2.0.0.10";
inline constexpr const char* versionBytes = "2.0.0.10";

}  // namespace quelvar
