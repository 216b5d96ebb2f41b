#pragma once
// The rows an SQL query gives over an index, each as its columns joined by
// '|' (NULL as "NULL"): what the end-to-end tests compare the index with.
#include <sqlite3.h>

#include <string>
#include <vector>

#include "e2e/harness.h"

inline std::vector<std::string> indexRows(const std::string& database, const std::string& sql) {
    std::vector<std::string> rows;
    sqlite3* index = nullptr;
    if (sqlite3_open_v2(database.c_str(), &index, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(index);
        endTest("cannot open the index " + database);
    }
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(index, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
        const std::string why = sqlite3_errmsg(index);
        sqlite3_close(index);
        endTest(sql + ": " + why);
    }
    while (sqlite3_step(statement) == SQLITE_ROW) {
        std::string row;
        for (int column = 0; column < sqlite3_column_count(statement); ++column) {
            const auto* text = sqlite3_column_text(statement, column);
            row += (column ? "|" : "") + std::string(text ? reinterpret_cast<const char*>(text) : "NULL");
        }
        rows.push_back(row);
    }
    sqlite3_finalize(statement);
    sqlite3_close(index);
    return rows;
}
