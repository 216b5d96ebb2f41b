#pragma once

namespace quelvar {

inline constexpr const wchar_t* versionText = L"2.0.0.10";

// Finds the program folder, prepares the files and folders, reads the
// settings, logs the start and runs the receive loop of the configured mode.
// Returns only when that loop cannot start.
void serviceMain();

// The process entry: serviceMain, then the stop line. Gives the exit status.
int runProcess();

}  // namespace quelvar
