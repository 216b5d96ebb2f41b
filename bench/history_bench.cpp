// What a year of a large site costs the report tool: record files of a
// year written as the collector files them, then timed:
//   the first index (the calls, their daily figures), the costs kept by
//   `index --tariffs`, an index after one more day, a 12-month trend per
//   department (monthlyFigures), a year's bill by department, and a year's
//   summary by category (whose top destinations still read every call).
// Run as: build/bench/history_bench [calls] [--folder DIR] [--keep]
//   (default 12000000 calls in a folder under /tmp, removed at the end
//   unless --keep).
// The calls: 8 switches, 3,000 extensions (the directory names 2,800 in 19
// departments, 100 of whom move on July 1st), weekdays and office hours
// busier, most calls under three minutes with a long tail, one in seven
// incoming. Each call is one line of the merged text file (new/CDR_*.txt),
// the copy `index` takes a call from; the CSV and leg copies, which the
// collector writes beside it, are left out to keep the disk within bounds.
#include <fcntl.h>
#include <sqlite3.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "quelvar_report/index/index.h"
#include "report_run.h"
#include "quelvar_report/reading/record_lines.h"
#include "quelvar_report/index/index_reader.h"
#include "quelvar_report/rating/categories.h"
#include "quelvar_report/rating/figures.h"
#include "tools/quelvar_report/fixture_lines.h"


namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int switches = 8;
constexpr int extensions = 3000;

double since(Clock::time_point begin) { return std::chrono::duration<double>(Clock::now() - begin).count(); }

std::wstring wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

// YYMMDDhhmmss of a local time.
std::string stamp(std::time_t time) {
    std::tm local{};
    gmtime_r(&time, &local);
    char text[16];
    std::strftime(text, sizeof text, "%y%m%d%H%M%S", &local);
    return text;
}

struct Generator {
    std::mt19937_64 random{1809};
    long long serial = 1000000;
    sqlite3* database = nullptr;  // when set, rows go into the index instead of files
    sqlite3_stmt* insert = nullptr;

    void openIndex(const std::string& path) {
        if (sqlite3_open(path.c_str(), &database) != SQLITE_OK ||
            sqlite3_exec(database, "PRAGMA synchronous=OFF; PRAGMA cache_size=-262144; BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK ||
            sqlite3_prepare_v2(database,
                               "INSERT INTO calls (switch, call_key, call_id, account, caller, callee, legs, start, end,"
                               " seconds, category, type, route, trunk, day, file, line, copies, filed_count,"
                               " filed_start, filed_end, filed_seconds, filed_trunk)"
                               " VALUES (?1, ?2, ?3, ?4, ?5, ?6, 1, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, ?16, 1,"
                               " 1, ?7, ?8, ?9, ?13)",
                               -1, &insert, nullptr) != SQLITE_OK) {
            std::fprintf(stderr, "sqlite: %s\n", sqlite3_errmsg(database));
            std::exit(1);
        }
    }
    void closeIndex() {
        sqlite3_finalize(insert);
        sqlite3_exec(database, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_close(database);
        database = nullptr;
    }
    void insertRow(const std::string& mac, const Leg& leg, std::time_t start, int seconds, const std::string& day,
                   const std::string& file, long line) {
        const auto text = [&](int at, const std::wstring& value) {
            const std::string utf8 = quelvar::report::utf8FromWide(value);
            sqlite3_bind_text(insert, at, utf8.c_str(), static_cast<int>(utf8.size()), SQLITE_TRANSIENT);
        };
        const auto iso = [](std::time_t time) {
            std::tm local{};
            gmtime_r(&time, &local);
            char out[24];
            std::strftime(out, sizeof out, "%Y-%m-%dT%H:%M:%S", &local);
            return std::wstring(out, out + std::strlen(out));
        };
        text(1, wide(mac));
        text(2, leg.rid.substr(0, leg.rid.find(L'-')));
        text(3, leg.rid);
        text(4, leg.account);
        text(5, leg.cpn);
        text(6, leg.cdpn);
        text(7, iso(start));
        text(8, iso(start + seconds));
        sqlite3_bind_int(insert, 9, seconds);
        text(10, leg.teletype);
        text(11, leg.type);
        text(12, leg.route);
        text(13, leg.trunk);
        text(14, wide(day));
        text(15, wide(file));
        sqlite3_bind_int64(insert, 16, line);
        if (sqlite3_step(insert) != SQLITE_DONE) {
            std::fprintf(stderr, "sqlite: %s\n", sqlite3_errmsg(database));
            std::exit(1);
        }
        sqlite3_reset(insert);
    }

    int pick(int below) { return static_cast<int>(random() % static_cast<unsigned>(below)); }

    // The lines of one day (`day` since 1970-01-01) of every switch, `calls` in all.
    void writeDay(const fs::path& root, long day, long calls) {
        std::vector<std::string> files(switches);
        std::vector<long> lines(switches, 2);
        struct Row {
            Leg leg;
            std::time_t start;
            int seconds;
        };
        std::vector<std::vector<Row>> rows(switches);
        const std::time_t midnight = static_cast<std::time_t>(day) * 86400;
        std::tm local{};
        const std::time_t noon = midnight + 43200;
        gmtime_r(&noon, &local);
        char name[32], date[16];
        std::strftime(name, sizeof name, "CDR_%Y_%m_%d.txt", &local);
        std::strftime(date, sizeof date, "%Y-%m-%d", &local);
        for (long call = 0; call < calls; ++call) {
            const int extension = pick(extensions);
            const int switchNumber = extension % switches;
            // Office hours busier.
            const int hour = pick(10) < 7 ? 8 + pick(10) : pick(24);
            const std::time_t start = midnight + hour * 3600 + pick(3600);
            // Most calls short, a long tail.
            std::exponential_distribution<double> shortCall(1.0 / 90);
            int seconds = std::min(static_cast<int>(shortCall(random)), 7200);
            if (pick(50) == 0) seconds = 1800 + pick(5400);
            const int kind = pick(100);
            const bool incoming = pick(7) == 0;
            std::wstring category, callee;
            if (kind < 20) {
                category = L"内线";
                callee = std::to_wstring(8000 + pick(extensions));
            } else if (kind < 65) {
                category = L"市话";
                callee = pick(2) ? L"2" + std::to_wstring(1000000 + pick(9000000))
                                 : L"139" + std::to_wstring(10000000 + pick(90000000));
            } else if (kind < 90) {
                category = L"国内长途";
                callee = L"0" + std::to_wstring(20 + pick(80)) + std::to_wstring(10000000 + pick(90000000));
            } else if (kind < 92) {
                category = L"国际长途";
                callee = L"00" + std::to_wstring(1 + pick(98)) + std::to_wstring(100000000 + pick(900000000));
            } else {
                category = L"特服电话";
                static const wchar_t* const special[] = {L"110", L"120", L"10086", L"95588", L"12345"};
                callee = special[pick(5)];
            }
            const std::wstring ext = std::to_wstring(8000 + extension);
            Leg leg;
            leg.rid = std::to_wstring(++serial) + L"-1";
            leg.account = incoming ? L"" : ext;
            leg.cpn = incoming ? L"0" + std::to_wstring(20 + pick(80)) + std::to_wstring(10000000 + pick(90000000)) : ext;
            leg.cdpn = incoming ? ext : callee;
            leg.teletype = incoming ? L"市话" : category;
            leg.type = incoming ? L"IN" : L"OU";
            leg.route = pick(4) ? L"IP" : L"PS";
            leg.start = wide(stamp(start));
            leg.end = wide(stamp(start + seconds));
            leg.duration = std::to_wstring(seconds);
            leg.trunk = std::to_wstring(1 + pick(30));
            const std::string mac = "00-1A-2B-3C-4D-5" + std::to_string(switchNumber);
            if (database)
                rows[static_cast<std::size_t>(switchNumber)].push_back(Row{leg, start, seconds});
            else
                files[static_cast<std::size_t>(switchNumber)] += encryptedMergedLine(leg, L"1") + "\r\n";
        }
        if (database) {
            // As `index` writes them: a switch's day after another.
            for (int number = 0; number < switches; ++number) {
                const std::string mac = "00-1A-2B-3C-4D-5" + std::to_string(number);
                for (const Row& row : rows[static_cast<std::size_t>(number)])
                    insertRow(mac, row.leg, row.start, row.seconds, date, (root / mac / "new" / name).string(),
                              ++lines[static_cast<std::size_t>(number)]);
            }
            return;
        }
        for (int number = 0; number < switches; ++number) {
            const std::string mac = "00-1A-2B-3C-4D-5" + std::to_string(number);
            const fs::path folder = root / mac / "new";
            fs::create_directories(folder);
            std::ofstream file(folder / name, std::ios::binary);
            file << textHeader(mac) << files[static_cast<std::size_t>(number)];
        }
    }
};

}  // namespace

int main(int argc, char** argv) {
    long total = 12000000;
    fs::path folder = fs::temp_directory_path() / ("history_bench." + std::to_string(getpid()));
    bool keep = false;
    for (int index = 1; index < argc; ++index) {
        const std::string argument = argv[index];
        if (argument == "--folder" && index + 1 < argc) folder = argv[++index];
        else if (argument == "--keep") keep = true;
        else total = std::atol(argv[index]);
    }
    const fs::path root = folder / "rec";
    const std::string database = (folder / "quelvar.db").string();
    fs::create_directories(root);
    fs::remove(database);
    fs::copy_file(fs::path(QUELVAR_SOURCE) / "packaging/tariffs.csv.example", folder / "tariffs.csv",
                  fs::copy_options::overwrite_existing);
    {
        std::ofstream directory(folder / "directory.csv");
        directory << "switch,number,name,department,valid_from\n";
        for (int number = 0; number < 2800; ++number)
            directory << "*," << 8000 + number << ",员工" << number << ",部门" << number % 19 << ",\n";
        for (int number = 0; number < 100; ++number)
            directory << "*," << 8000 + number << ",员工" << number << ",部门" << (number + 1) % 19 << ",2026-07-01\n";
    }

    // A year: 2026, weekends at half a weekday's calls.
    const long first = 20454;  // 2026-01-01, a Thursday
    std::vector<double> weight(365);
    double weights = 0;
    for (long day = 0; day < 365; ++day) {
        const long weekday = (day + 3) % 7;  // 0 Monday
        weight[static_cast<std::size_t>(day)] = weekday >= 5 ? 0.5 : 1.0;
        weights += weight[static_cast<std::size_t>(day)];
    }
    Generator generator;
    const std::string tariffs = (folder / "tariffs.csv").string();
    const std::string directory = (folder / "directory.csv").string();
    const std::vector<std::string> index = {"index", "--root", root.string(), "--db", database};
    std::vector<std::string> indexRated = index;
    indexRated.insert(indexRated.end(), {"--tariffs", tariffs});
    const auto callsOf = [&](long day) {
        return static_cast<long>(static_cast<double>(total) * weight[static_cast<std::size_t>(day)] / weights);
    };
    // January as record files, indexed as the site's first index would be.
    auto begin = Clock::now();
    long written = 0;
    for (long day = 0; day < 31; ++day) {
        generator.writeDay(root, first + day, callsOf(day));
        written += callsOf(day);
    }
    std::printf("%ld calls of January 2026 written as record files in %.1f s (%d switches)\n", written, since(begin),
                switches);
    std::fflush(stdout);
    const double firstIndex = runReport(index);
    std::printf("first index of January (%ld calls):  %7.2f s, database %.0f MB\n", written, firstIndex,
                static_cast<double>(fs::file_size(database)) / 1e6);
    std::fflush(stdout);

    // February to December straight into the index, as `index` writes calls.
    begin = Clock::now();
    generator.openIndex(database);
    for (long day = 31; day < 365; ++day) {
        const long calls = day == 364 ? total - written : callsOf(day);
        generator.writeDay(root, first + day, calls);
        written += calls;
    }
    generator.closeIndex();
    std::printf("%ld calls in all: February to December written into the index in %.1f s\n", written, since(begin));
    std::fflush(stdout);
    {
        sqlite3* handle = nullptr;
        sqlite3_open(database.c_str(), &handle);
        begin = Clock::now();
        const quelvar::Status made = quelvar::report::rebuildFigures(handle);
        sqlite3_close(handle);
        if (!made.ok()) {
            std::fprintf(stderr, "%s\n", made.text().c_str());
            return 1;
        }
        std::printf("daily figures of the year made anew: %7.2f s\n", since(begin));
    }
    const double rated = runReport(indexRated);
    std::printf("costs of the year kept (index --tariffs): %7.2f s, database %.0f MB\n", rated,
                static_cast<double>(fs::file_size(database)) / 1e6);
    std::fflush(stdout);

    generator.writeDay(root, first + 365, static_cast<long>(static_cast<double>(total) / weights));
    std::printf("index --tariffs after one more day of %ld calls: %7.2f s\n",
                static_cast<long>(static_cast<double>(total) / weights), runReport(indexRated));
    std::printf("index --tariffs with nothing new:   %7.2f s\n", runReport(indexRated));
    std::fflush(stdout);

    // The trend as the page asks for it, in one process.
    {
        quelvar::report::Tariffs rules;
        quelvar::report::Directory people;
        std::string digest;
        sqlite3* handle = nullptr;
        // Classified and kept as quelvar-report beside its collector does.
        const std::string programFolder = fs::path(QUELVAR_REPORT).parent_path().string();
        const quelvar::report::CallCategories categories =
            quelvar::report::CallCategories::ofProgramFolder(programFolder);
        if (!quelvar::report::Tariffs::read(tariffs, rules).ok() ||
            !quelvar::report::Directory::read(directory, people).ok() ||
            !quelvar::report::readTariffsDigest(tariffs, digest,
                                                quelvar::report::CallCategories::sourceOf(programFolder))
                 .ok() ||
            !quelvar::report::openIndex(database, handle).ok()) {
            std::fprintf(stderr, "cannot read the tariffs, the directory or the index\n");
            return 1;
        }
        double fastest = 1e9;
        quelvar::report::MonthlyFigures trend;
        for (int round = 0; round < 3; ++round) {
            begin = Clock::now();
            const quelvar::Status made = quelvar::report::monthlyFigures(handle, "2026-01-01", "2026-12-31",
                                                                        "department", rules, digest, people, trend,
                                                                        &categories);
            fastest = std::min(fastest, since(begin));
            if (!made.ok()) {
                std::fprintf(stderr, "%s\n", made.text().c_str());
                return 1;
            }
        }
        long long calls = 0;
        for (const auto& month : trend.total) calls += month.calls;
        std::printf("12-month trend by department:       %7.3f s (%zu months x %zu departments, %lld billed calls)\n",
                    fastest, trend.months.size(), trend.groups.size(), calls);
        sqlite3_close(handle);
    }
    const std::vector<std::string> year = {"--from", "2026-01-01", "--to", "2026-12-31", "--db", database,
                                           "--tariffs", tariffs, "--directory", directory};
    const auto with = [&](std::vector<std::string> arguments) {
        arguments.insert(arguments.end(), year.begin(), year.end());
        return arguments;
    };
    std::printf("year's bill by department:          %7.3f s\n", bestOfRuns(3, with({"bill", "--by", "department"})));
    std::printf("year's bill by department, JSON:    %7.3f s\n",
                bestOfRuns(3, with({"bill", "--by", "department", "--format", "json"})));
    std::printf("year's bill by ext:                 %7.3f s\n", bestOfRuns(3, with({"bill", "--by", "ext"})));
    std::printf("year's bill by trunk (every call):  %7.3f s\n", bestOfRuns(1, with({"bill", "--by", "trunk"})));
    std::printf("year's summary by category:         %7.3f s (its top destinations read every call)\n",
                bestOfRuns(1, {"summary", "--by", "category", "--from", "2026-01-01", "--to", "2026-12-31", "--db", database}));
    std::fflush(stdout);
    if (!keep) fs::remove_all(folder);
    return 0;
}
