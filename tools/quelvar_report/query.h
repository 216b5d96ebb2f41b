#pragma once
// The commands that answer from the index: calls, summary and status.
#include <ctime>
#include <string>
#include <vector>

namespace quelvar::report {

// Runs `quelvar-report <command> <arguments>` for calls, summary or status:
// the answer goes to `out`, a one-line error to `error`. `programFolder`
// holds the default database and the collector's log; `now` is the time the
// answer is for. Returns the exit status: 0, or 2 for bad arguments and a
// database that cannot be read.
int runQuery(const std::string& command, const std::vector<std::string>& arguments,
             const std::string& programFolder, std::time_t now, std::string& out, std::string& error);

bool isQueryCommand(const std::string& command);

}  // namespace quelvar::report
