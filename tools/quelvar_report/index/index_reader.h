#pragma once
// Reading the index: what every command that answers from it shares.
#include <sqlite3.h>

#include <string>

#include "platform/status.h"
#include "quelvar_report/index/statement.h"

namespace quelvar::report {

// The rows that are calls: neither unparsable lines nor repeats filed twice.
inline constexpr const char* notCalls = "(flags & 6) = 0";
// The moment a call counts for: its start, else the day of its file.
inline constexpr const char* when = "COALESCE(start, day)";

// Opens the index for reading only: a query never makes a database.
Status openIndex(const std::string& path, sqlite3*& database);

}  // namespace quelvar::report
