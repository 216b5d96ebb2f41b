#pragma once
#include <string>
#include <vector>

#include "core/settings.h"
#include "log/event_log.h"
#include "platform/status.h"

namespace quelvar {

// Prepares the files and folders, reads the settings, logs the start and
// runs the receive loop of the configured mode until a stop is asked for.
// Fails when that loop cannot start. `settings` comes with the program's
// folder.
Status serviceMain(Settings& settings, const EventLog& log);

// The process entry. Without arguments the collector runs: serviceMain,
// then the stop line; the exit status is 0 after a stop that was asked for,
// 1 when it could not start. The arguments are for an operator: --check,
// --version, --help, and --install and --uninstall of the Windows service;
// --service is for Windows' service manager, which runs the collector so.
// Elsewhere the last three say that they are for Windows, and anything
// unknown is refused: exit status 2, touching nothing.
int runProcess(const std::vector<std::string>& arguments);

}  // namespace quelvar
