#pragma once
// An index filled row by row, as `index` would have filled it, and the
// queries run on it as the program runs them.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <ctime>
#include <string>
#include <vector>

#include "quelvar_report/cli/query.h"
#include "quelvar_report/index/index.h"
#include "quelvar_report/index/schema.h"
#include "support/json_reader.h"
#include "support/temp_folder.h"

struct Row {
    Row(std::string switchName_, std::string callId_, std::string account_, std::string caller_, std::string callee_,
        std::string category_, std::string start_, long long seconds_, int legs_ = 1, int flags_ = 0,
        std::string day_ = "", std::string route_ = "IP", std::string type_ = "OU", std::string trunk_ = "3")
        : switchName(std::move(switchName_)), callId(std::move(callId_)), account(std::move(account_)),
          caller(std::move(caller_)), callee(std::move(callee_)), category(std::move(category_)),
          start(std::move(start_)), seconds(seconds_), legs(legs_), flags(flags_), day(std::move(day_)),
          route(std::move(route_)), type(std::move(type_)), trunk(std::move(trunk_)) {}
    std::string switchName;
    std::string callId;
    std::string account;
    std::string caller;
    std::string callee;
    std::string category;
    std::string start;  // empty: NULL, a line that could not be read
    long long seconds;
    int legs;
    int flags;
    std::string day;  // the file's day; empty: the start's
    std::string route;
    std::string type;
    std::string trunk;
};

struct Answer {
    int status = -1;
    std::string out;
    std::string error;
    std::vector<std::string> notes;  // for standard error
};

class IndexFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(sqlite3_open(database.c_str(), &db_), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(db_, quelvar::report::schemaSql, nullptr, nullptr, nullptr), SQLITE_OK);
    }
    void TearDown() override { sqlite3_close(db_); }

    void insert(const std::vector<Row>& rows) {
        sqlite3_stmt* statement = nullptr;
        ASSERT_EQ(sqlite3_prepare_v2(db_,
                                     "INSERT INTO calls (switch, call_key, call_id, account, caller, callee, legs, start, "
                                     "seconds, category, type, route, trunk, day, file, line, flags, text) "
                                     "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, 'CDR', ?, ?, ?)",
                                     -1, &statement, nullptr),
                  SQLITE_OK);
        int line = 0;
        for (const Row& row : rows) {
            const std::string day = row.day.empty() ? row.start.substr(0, 10) : row.day;
            const std::string key = row.callId.substr(0, row.callId.find('-'));
            const auto text = [&](int at, const std::string& value) {
                sqlite3_bind_text(statement, at, value.c_str(), -1, SQLITE_TRANSIENT);
            };
            text(1, row.switchName);
            text(2, key);
            text(3, row.callId);
            text(4, row.account);
            text(5, row.caller);
            text(6, row.callee);
            sqlite3_bind_int(statement, 7, row.legs);
            if (row.start.empty()) sqlite3_bind_null(statement, 8);
            else text(8, row.start);
            sqlite3_bind_int64(statement, 9, row.seconds);
            text(10, row.category);
            text(11, row.type);
            text(12, row.route);
            text(13, row.trunk);
            text(14, day);
            sqlite3_bind_int(statement, 15, ++line);
            sqlite3_bind_int(statement, 16, row.flags);
            if (row.flags & quelvar::report::unparsable) text(17, "damaged line");
            else sqlite3_bind_null(statement, 17);
            ASSERT_EQ(sqlite3_step(statement), SQLITE_DONE) << sqlite3_errmsg(db_);
            sqlite3_reset(statement);
            sqlite3_clear_bindings(statement);
        }
        sqlite3_finalize(statement);
        // As `index` keeps them.
        const quelvar::Status figures = quelvar::report::rebuildFigures(db_);
        ASSERT_TRUE(figures.ok()) << figures.text();
    }

    // Local noon-ish time of a day, as the clock of the query.
    static std::time_t localTime(int year, int month, int day, int hour, int minute) {
        std::tm when{};
        when.tm_year = year - 1900;
        when.tm_mon = month - 1;
        when.tm_mday = day;
        when.tm_hour = hour;
        when.tm_min = minute;
        when.tm_isdst = -1;
        return std::mktime(&when);
    }

    Answer run(const std::string& command, std::vector<std::string> arguments) {
        arguments.insert(arguments.end(), {"--db", database});
        Answer answer;
        answer.status = quelvar::report::runQuery(command, arguments, folder.path().string(), now, answer.out, answer.error,
                                                  &answer.notes);
        return answer;
    }

    quelvar::test::Json json(const std::string& command, std::vector<std::string> arguments) {
        arguments.insert(arguments.end(), {"--format", "json"});
        const Answer answer = run(command, arguments);
        EXPECT_EQ(answer.status, 0) << answer.error;
        const auto value = quelvar::test::JsonReader::read(answer.out);
        EXPECT_TRUE(value.has_value()) << "not one JSON value:\n" << answer.out;
        return value.value_or(quelvar::test::Json{});
    }

    TempFolder folder;
    std::string database = folder / "quelvar.db";
    std::time_t now = localTime(2026, 12, 10, 15, 30);

private:
    sqlite3* db_ = nullptr;
};
