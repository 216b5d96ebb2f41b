// What a bill and a report cost over a month of indexed calls.
// Run as: build/bench/bill_bench [calls] [--keep FOLDER]   (default 1000000)
// The daily figures are made with the calls (their time is in the first
// line) and the costs kept by `index --tariffs` (timed on their own).
// --keep leaves the index, tariffs, directory and outputs there.
// The index is filled directly, as `index` would have filled it: 1,000
// extensions (a directory names 900 of them in 12 departments), 4 switches,
// every kind of call, 30 days, a tenth of the calls of two legs. Then each
// command runs three times and the best time counts, as the accounts office
// would run it: bill by department as a table, as JSON, and the HTML report
// and the workbook of the same month.
#include <fcntl.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "quelvar_report/index/index.h"
#include "report_run.h"
#include "quelvar_report/index/schema.h"


namespace {

namespace fs = std::filesystem;

void check(int result, sqlite3* database) {
    if (result != SQLITE_OK && result != SQLITE_DONE) {
        std::fprintf(stderr, "sqlite: %s\n", sqlite3_errmsg(database));
        std::exit(1);
    }
}

void fill(const std::string& path, long total) {
    sqlite3* database = nullptr;
    check(sqlite3_open(path.c_str(), &database), database);
    check(sqlite3_exec(database, quelvar::report::schemaSql, nullptr, nullptr, nullptr), database);
    check(sqlite3_exec(database, "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; BEGIN", nullptr, nullptr, nullptr),
          database);
    sqlite3_stmt* insert = nullptr;
    check(sqlite3_prepare_v2(database,
                             "INSERT INTO calls (switch, call_key, call_id, account, caller, callee, legs, start, end, "
                             "seconds, category, type, route, trunk, day, file, line) "
                             "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, 'IP', '3', ?, 'CDR', ?)",
                             -1, &insert, nullptr),
          database);
    std::mt19937 random(1809);
    const auto pick = [&](int below) { return std::uniform_int_distribution<int>(0, below - 1)(random); };
    const char* const categories[] = {"内线", "市话", "国内长途", "国际长途", "特服电话"};
    const char* const special[] = {"110", "120", "10086", "95588", "12345"};
    for (long call = 0; call < total; ++call) {
        const int day = 1 + static_cast<int>(call * 30 / total);
        const int hour = pick(10) < 8 ? 8 + pick(10) : pick(24);
        char start[32], end[32];
        const int seconds = pick(20) == 0 ? 1800 + pick(3600) : pick(600);
        std::snprintf(start, sizeof start, "2026-11-%02dT%02d:%02d:%02d", day, hour, pick(60), pick(60));
        std::snprintf(end, sizeof end, "2026-11-%02dT23:59:59", day);
        const int kind = pick(20);
        const int category = kind < 4 ? 0 : kind < 12 ? 1 : kind < 17 ? 2 : kind < 19 ? 3 : 4;
        const std::string extension = std::to_string(8000 + pick(1000));
        std::string callee;
        switch (category) {
            case 0: callee = std::to_string(8000 + pick(1000)); break;
            case 1: callee = pick(2) ? "2" + std::to_string(1000000 + pick(9000000)) : "139" + std::to_string(10000000 + pick(90000000)); break;
            case 2: callee = "0" + std::to_string(20 + pick(80)) + std::to_string(10000000 + pick(90000000)); break;
            case 3: callee = "00" + std::to_string(1 + pick(98)) + std::to_string(100000000 + pick(900000000)); break;
            default: callee = special[pick(5)]; break;
        }
        const std::string key = std::to_string(1000000 + call);
        const std::string switchName = "00-1A-2B-3C-4D-5" + std::to_string(call % 4);
        const std::string date = std::string(start).substr(0, 10);
        const auto text = [&](int at, const std::string& value) {
            sqlite3_bind_text(insert, at, value.c_str(), -1, SQLITE_TRANSIENT);
        };
        text(1, switchName);
        text(2, key);
        text(3, key + "-1");
        text(4, extension);
        text(5, extension);
        text(6, callee);
        sqlite3_bind_int(insert, 7, pick(10) == 0 ? 2 : 1);
        text(8, start);
        text(9, end);
        sqlite3_bind_int(insert, 10, seconds);
        text(11, categories[category]);
        text(12, pick(10) == 0 ? "IN" : "OU");
        text(13, date);
        sqlite3_bind_int64(insert, 14, call + 1);
        check(sqlite3_step(insert), database);
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    check(sqlite3_exec(database, "COMMIT", nullptr, nullptr, nullptr), database);
    // The daily figures `index` keeps beside the calls.
    const quelvar::Status figures = quelvar::report::rebuildFigures(database);
    if (!figures.ok()) {
        std::fprintf(stderr, "%s\n", figures.text().c_str());
        std::exit(1);
    }
    sqlite3_close(database);
}

}  // namespace

int main(int argc, char** argv) {
    long total = 1000000;
    fs::path folder = fs::temp_directory_path() / ("bill_bench." + std::to_string(getpid()));
    bool keep = false;
    for (int index = 1; index < argc; ++index) {
        const std::string argument = argv[index];
        if (argument == "--keep" && index + 1 < argc) {
            folder = argv[++index];
            keep = true;
        } else {
            total = std::atol(argv[index]);
        }
    }
    fs::create_directories(folder);
    const std::string database = (folder / "quelvar.db").string();
    fs::remove(database);
    auto begin = std::chrono::steady_clock::now();
    fill(database, total);
    std::printf("%ld calls indexed in %.1f s, database %.0f MB\n", total,
                std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count(),
                static_cast<double>(fs::file_size(database)) / 1e6);
    fs::copy_file(fs::path(QUELVAR_SOURCE) / "packaging/tariffs.csv.example", folder / "tariffs.csv");
    {
        std::ofstream directory(folder / "directory.csv");
        directory << "switch,number,name,department,valid_from\n";
        for (int number = 100; number < 1000; ++number)
            directory << "*,8" << number << ",员工" << number << ",部门" << number % 12 << ",\n";
    }
    // The costs `index --tariffs` keeps (no record files: nothing else to do).
    fs::create_directories(folder / "rec");
    std::printf("costs kept by index --tariffs in %.2f s\n",
                runReport({"index", "--root", (folder / "rec").string(), "--db", database, "--tariffs",
                     (folder / "tariffs.csv").string()}));
    const std::vector<std::string> common = {"--month", "2026-11", "--db", database, "--tariffs",
                                             (folder / "tariffs.csv").string(), "--directory",
                                             (folder / "directory.csv").string()};
    struct Case {
        const char* name;
        std::vector<std::string> arguments;
    };
    const std::vector<Case> cases = {
        {"bill by department, table", {"bill", "--by", "department"}},
        {"bill by ext, JSON", {"bill", "--by", "ext", "--format", "json"}},
        {"HTML report by department", {"bill", "--by", "department", "--format", "html", "--output", (folder / "r.html").string()}},
        {"workbook by person", {"bill", "--by", "person", "--format", "xlsx", "--output", (folder / "r.xlsx").string()}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> arguments = c.arguments;
        arguments.insert(arguments.end(), common.begin(), common.end());
        std::printf("%-28s %6.2f s\n", c.name, bestOfRuns(3, arguments));
        std::fflush(stdout);
    }
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    std::printf("peak resident of quelvar-report %ld KiB\n", usage.ru_maxrss);
    for (const char* name : {"r.html", "r.xlsx"})
        if (fs::exists(folder / name))
            std::printf("%s: %.1f MB\n", name, static_cast<double>(fs::file_size(folder / name)) / 1e6);
    if (!keep) fs::remove_all(folder);
    return 0;
}
