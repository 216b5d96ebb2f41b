#pragma once
// One prepared SQLite statement, for the index and the queries alike.
#include <sqlite3.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

namespace quelvar::report {

inline constexpr const char* rebuildAdvice = "the index is damaged: make it anew with `quelvar-report index --rebuild`";

// SQLite's reason for a failure; for a damaged file (or one that is no
// database) with what to do about it.
inline std::string indexFailure(sqlite3* database, int result) {
    std::string reason = sqlite3_errmsg(database);
    if ((result & 0xFF) == SQLITE_CORRUPT || (result & 0xFF) == SQLITE_NOTADB) reason.append("; ").append(rebuildAdvice);
    return reason;
}

// A failure to prepare or to step shows in failed() and status().
class Statement {
public:
    Statement(sqlite3* database, const std::string& sql) : database_(database) {
        if (const int result = sqlite3_prepare_v2(database, sql.c_str(), -1, &statement_, nullptr); result != SQLITE_OK) {
            failure_ = Status::error(Status::Code::damaged, "read the index", "", indexFailure(database, result));
            sqlite3_finalize(statement_);
            statement_ = nullptr;
        }
    }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    ~Statement() { sqlite3_finalize(statement_); }

    bool ready() const { return statement_ != nullptr; }

    // The text must outlive the next step: every caller binds and runs at once.
    Statement& bind(int index, std::string_view text) {
        sqlite3_bind_text(statement_, index, text.data(), static_cast<int>(text.size()), SQLITE_STATIC);
        return *this;
    }
    Statement& bind(int index, const std::string& text) { return bind(index, std::string_view(text)); }
    // A temporary would be gone before the step reads it.
    Statement& bind(int index, std::string&& text) = delete;
    Statement& bind(int index, std::optional<std::string>&& text) = delete;
    Statement& bind(int index, const char* text) { return bind(index, std::string_view(text)); }
    Statement& bind(int index, const std::optional<std::string>& text) {
        return text ? bind(index, std::string_view(*text)) : bindNull(index);
    }
    Statement& bind(int index, long long value) {
        sqlite3_bind_int64(statement_, index, value);
        return *this;
    }
    Statement& bind(int index, const std::optional<long long>& value) {
        return value ? bind(index, *value) : bindNull(index);
    }
    Statement& bindNull(int index) {
        sqlite3_bind_null(statement_, index);
        return *this;
    }
    // The values as ?1, ?2, ..., copied.
    void bind(const std::vector<std::string>& values) {
        for (std::size_t i = 0; statement_ && i < values.size(); ++i)
            sqlite3_bind_text(statement_, static_cast<int>(i + 1), values[i].c_str(), -1, SQLITE_TRANSIENT);
    }

    // The next row; false at the end, ready to run again, or on a failure.
    bool step() {
        if (!statement_) return false;
        const int result = sqlite3_step(statement_);
        if (result == SQLITE_ROW) return true;
        if (result != SQLITE_DONE)
            failure_ = Status::error(Status::Code::damaged, "read the index", "", indexFailure(database_, result));
        sqlite3_reset(statement_);
        return false;
    }
    void run() {
        while (step()) {
        }
    }
    bool failed() const { return !failure_.ok(); }
    const Status& status() const { return failure_; }

    std::string text(int column) const { return std::string(view(column)); }
    // Valid until the next step.
    std::string_view view(int column) const {
        const auto* value = reinterpret_cast<const char*>(sqlite3_column_text(statement_, column));
        return value ? std::string_view(value, static_cast<std::size_t>(sqlite3_column_bytes(statement_, column)))
                     : std::string_view();
    }
    std::optional<std::string> optionalText(int column) const {
        if (null(column)) return std::nullopt;
        return text(column);
    }
    bool null(int column) const { return sqlite3_column_type(statement_, column) == SQLITE_NULL; }
    long long integer(int column) const { return sqlite3_column_int64(statement_, column); }
    std::optional<long long> optionalInteger(int column) const {
        if (null(column)) return std::nullopt;
        return integer(column);
    }

private:
    sqlite3* database_ = nullptr;
    sqlite3_stmt* statement_ = nullptr;
    Status failure_;
};

}  // namespace quelvar::report
