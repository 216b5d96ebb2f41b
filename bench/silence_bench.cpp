// What finding silences costs on a year of calls: an index of a year of
// calls of many switches (calls and day_files as `index` keeps them), then
// findSilences over every switch, timed as `alerts` runs it (the last week)
// and as `status --days 365` does (the whole year).
// Run as: build/bench/silence_bench [calls] [switches]
//   (default 2000000 calls of 32 switches, in a database under /tmp,
//   removed at the end).
// The calls: office hours busy on weekdays, a few at night, Sundays quiet;
// one switch stops for good a week before the end, one misses a Tuesday.
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "quelvar_report/alerting/silence.h"
#include "quelvar_report/index/schema.h"
#include "quelvar_report/reading/dates.h"

namespace {

using Clock = std::chrono::steady_clock;
double since(Clock::time_point begin) { return std::chrono::duration<double>(Clock::now() - begin).count(); }

bool exec(sqlite3* db, const std::string& sql) {
    char* error = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) == SQLITE_OK) return true;
    std::fprintf(stderr, "%s\n", error ? error : "?");
    sqlite3_free(error);
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace quelvar::report;
    const long long calls = argc > 1 ? std::atoll(argv[1]) : 2000000;
    const int switches = argc > 2 ? std::atoi(argv[2]) : 32;
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("silence_bench_" + std::to_string(::getpid()) + ".db");
    sqlite3* db = nullptr;
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK || !exec(db, schemaSql) ||
        !exec(db, "PRAGMA synchronous = OFF; PRAGMA journal_mode = OFF; BEGIN"))
        return 1;

    const long first = daysFromCivil(2026, 1, 1), days = 365;
    const long stopDay = first + days - 7, missedDay = first + days - 24;
    std::mt19937 random(2026);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db,
                       "INSERT INTO calls (switch, call_key, call_id, account, caller, callee, legs, start, seconds, "
                       "category, type, route, trunk, day, file, line) VALUES (?1, ?2, ?2, '8001', '8001', "
                       "'13912345678', 1, ?3, 60, '市话', 'OU', 'IP', '3', ?4, 'CDR', 1)",
                       -1, &insert, nullptr);
    const Clock::time_point filling = Clock::now();
    const long long perSwitchDay = calls / switches / days;
    std::uniform_int_distribution<int> minute(0, 59), second(0, 59), night(0, 99);
    std::discrete_distribution<int> hour(
        {1, 1, 1, 1, 1, 1, 2, 4, 30, 40, 40, 40, 20, 30, 40, 40, 40, 30, 8, 4, 3, 2, 1, 1});
    long long made = 0;
    char start[32];
    for (int s = 0; s < switches; ++s) {
        char name[32];
        std::snprintf(name, sizeof name, "00-1A-2B-3C-%02X-%02X", s / 256, s % 256);
        for (long day = first; day < first + days; ++day) {
            if ((s == 0 && day >= stopDay) || (s == 1 && day == missedDay)) continue;
            const std::string date = dateText(day);
            const long long today = weekdayOf(day) == 7 ? perSwitchDay / 20 : perSwitchDay;
            for (long long i = 0; i < today; ++i) {
                std::snprintf(start, sizeof start, "%sT%02d:%02d:%02d", date.c_str(), hour(random), minute(random),
                              second(random));
                const std::string key = std::to_string(++made);
                sqlite3_bind_text(insert, 1, name, -1, SQLITE_TRANSIENT);
                sqlite3_bind_text(insert, 2, key.c_str(), -1, SQLITE_TRANSIENT);
                sqlite3_bind_text(insert, 3, start, -1, SQLITE_TRANSIENT);
                sqlite3_bind_text(insert, 4, date.c_str(), -1, SQLITE_TRANSIENT);
                sqlite3_step(insert);
                sqlite3_reset(insert);
            }
        }
    }
    sqlite3_finalize(insert);
    if (!exec(db,
              "INSERT INTO day_files (switch, filed, first_day, last_day, calls) SELECT switch, day, "
              "min(substr(start, 1, 10)), max(substr(start, 1, 10)), count(*) FROM calls GROUP BY switch, day; "
              "COMMIT"))
        return 1;
    std::printf("index: %lld calls of %d switches over %ld days, made in %.1f s\n", made, switches, days,
                since(filling));

    const std::string asOf = dateText(first + days - 1) + "T15:30:00";
    for (const auto& [what, from] : {std::pair<const char*, std::string>{"the last week (alerts)", ""},
                                     {"the whole year (status --days 365)", dateText(first) + "T00:00:00"}}) {
        for (int run = 0; run < 3; ++run) {
            std::vector<Silence> silences;
            std::vector<Habits> habits;
            const Clock::time_point begin = Clock::now();
            const quelvar::Status found = findSilences(db, "*", std::chrono::hours(2), asOf, silences, from, &habits);
            const double seconds = since(begin);
            if (!found.ok()) {
                std::fprintf(stderr, "%s\n", found.text().c_str());
                return 1;
            }
            long long open = 0, dead = 0, wholeDays = 0;
            for (const Silence& silence : silences) {
                open += silence.end ? 0 : 1;
                dead += silence.dead ? 1 : 0;
                wholeDays += silence.wholeDays() ? 1 : 0;
            }
            std::printf("%s, run %d: %.3f s; %zu silences (%lld open, %lld dead, %lld with whole days)\n", what,
                        run + 1, seconds, silences.size(), open, dead, wholeDays);
        }
    }
    sqlite3_close(db);
    std::filesystem::remove(path);
    return 0;
}
