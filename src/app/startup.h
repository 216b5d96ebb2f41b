#pragma once
#include "core/settings.h"
#include "log/event_log.h"

namespace quelvar {

// Prepares the files and folders, reads the settings, logs the start and
// runs the receive loop of the configured mode. Returns only when that loop
// cannot start. `settings` comes with the program's folder.
void serviceMain(Settings& settings, const EventLog& log);

// The process entry: finds the program's folder, runs serviceMain, then
// writes the stop line. Gives the exit status.
int runProcess();

}  // namespace quelvar
