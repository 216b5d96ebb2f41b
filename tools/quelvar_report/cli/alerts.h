#pragma once
// The alerts and watch commands: the index brought up to date, the rules of
// alerts.csv evaluated, what is new recorded and delivered.
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

namespace quelvar::report {

bool isAlertsCommand(const std::string& command);

// Runs `quelvar-report alerts|watch <arguments>`: the answer to `out`, a
// one-line error to `error`, the log channel and failed deliveries to
// `log`. `now` is the moment of an alerts run without --at (watch takes the
// clock's at each run). Returns the exit status: 0, or 2 for a bad argument
// or rules file, or an index that cannot be read.
int runAlerts(const std::string& command, const std::vector<std::string>& arguments, const std::string& programFolder,
              std::time_t now, std::string& out, std::string& error, std::FILE* log);

// watch: a run every --every seconds until SIGTERM or SIGINT; the errors of
// a run go to `log` and the next run goes on.
int runWatch(const std::vector<std::string>& arguments, const std::string& programFolder, std::string& error,
             std::FILE* log);

}  // namespace quelvar::report
