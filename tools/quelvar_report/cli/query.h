#pragma once
// The commands that answer from the index: calls, summary and status.
#include <ctime>
#include <functional>
#include <string_view>
#include <string>
#include <vector>

namespace quelvar::report {

// Runs `quelvar-report <command> <arguments>` for calls, summary or status:
// the answer goes to `out`, a one-line error to `error`. `programFolder`
// holds the default database and the collector's log; `now` is the time the
// answer is for. Returns the exit status: 0, or 2 for bad arguments and a
// database that cannot be read.
// The answer goes out a piece at a time through `write`, which says whether
// the piece was taken.
// A CSV file holds one table: the notes that a table has below it (a bill's)
// go to `notes`, for standard error.
using Writer = std::function<bool(std::string_view)>;
int runQuery(const std::string& command, const std::vector<std::string>& arguments, const std::string& programFolder,
             std::time_t now, const Writer& write, std::string& error, std::vector<std::string>* notes = nullptr);
// The same with the whole answer in `out` (nothing of it on a failure).
int runQuery(const std::string& command, const std::vector<std::string>& arguments, const std::string& programFolder,
             std::time_t now, std::string& out, std::string& error, std::vector<std::string>* notes = nullptr);

bool isQueryCommand(const std::string& command);

}  // namespace quelvar::report
