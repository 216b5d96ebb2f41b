#pragma once
// Reading the index: what every command that answers from it shares.
#include <sqlite3.h>

#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

namespace quelvar::report {

// The rows that are calls: neither unparsable lines nor repeats filed twice.
inline constexpr const char* notCalls = "(flags & 6) = 0";
// The moment a call counts for: its start, else the day of its file.
inline constexpr const char* when = "COALESCE(start, day)";

// One prepared statement; a failure to prepare or to step shows in status().
class Statement {
public:
    Statement(sqlite3* database, const std::string& sql) {
        if (sqlite3_prepare_v2(database, sql.c_str(), -1, &statement_, nullptr) != SQLITE_OK) {
            failure_ = Status::error(Status::Code::damaged, "read the index", "", sqlite3_errmsg(database));
            sqlite3_finalize(statement_);
            statement_ = nullptr;
        }
        database_ = database;
    }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    ~Statement() { sqlite3_finalize(statement_); }

    void bind(const std::vector<std::string>& values) {
        for (std::size_t i = 0; statement_ && i < values.size(); ++i)
            sqlite3_bind_text(statement_, static_cast<int>(i + 1), values[i].c_str(), -1, SQLITE_TRANSIENT);
    }
    // The next row; false at the end or on a failure (see status).
    bool step() {
        if (!statement_) return false;
        const int result = sqlite3_step(statement_);
        if (result == SQLITE_ROW) return true;
        if (result != SQLITE_DONE)
            failure_ = Status::error(Status::Code::damaged, "read the index", "", sqlite3_errmsg(database_));
        return false;
    }
    std::string text(int column) const {
        const auto* value = sqlite3_column_text(statement_, column);
        return value ? reinterpret_cast<const char*>(value) : "";
    }
    // Valid until the next step.
    std::string_view view(int column) const {
        const auto* value = reinterpret_cast<const char*>(sqlite3_column_text(statement_, column));
        return value ? std::string_view(value, static_cast<std::size_t>(sqlite3_column_bytes(statement_, column)))
                     : std::string_view();
    }
    bool null(int column) const { return sqlite3_column_type(statement_, column) == SQLITE_NULL; }
    long long number(int column) const { return sqlite3_column_int64(statement_, column); }
    const Status& status() const { return failure_; }

private:
    sqlite3* database_ = nullptr;
    sqlite3_stmt* statement_ = nullptr;
    Status failure_;
};

// Opens the index for reading only: a query never makes a database.
Status openIndex(const std::string& path, sqlite3*& database);

}  // namespace quelvar::report
