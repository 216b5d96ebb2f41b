// Silences found from an index of six weeks: a switch that stops and comes
// back, a usual day missed between two live days, and scattered night calls
// that are no habit to miss.
#include "quelvar_report/alerting/silence.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <optional>
#include <string>
#include <vector>

#include "quelvar_report/index/index.h"
#include "quelvar_report/index/schema.h"
#include "quelvar_report/reading/dates.h"
#include "support/temp_folder.h"

namespace {

using namespace quelvar::report;
using namespace std::chrono_literals;

const std::string stops = "00-1A-2B-3C-4D-01";   // 09, 14 and 16 every day; quiet 8 Dec 09:10 to 10 Dec 09:10
const std::string skips = "00-1A-2B-3C-4D-02";   // 10 and 11 every day but Monday 7 December
const std::string nights = "00-1A-2B-3C-4D-03";  // 08 to 17, and at 01-03 on three nights in five

class Silences : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(sqlite3_open((folder / "quelvar.db").c_str(), &db), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(db, schemaSql, nullptr, nullptr, nullptr), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(db, "PRAGMA synchronous = OFF; BEGIN", nullptr, nullptr, nullptr), SQLITE_OK);
        const long first = daysFromCivil(2026, 11, 1), last = daysFromCivil(2026, 12, 10);
        for (long day = first; day <= last; ++day) {
            const std::string date = dateText(day);
            for (const char* time : {"09:10:00", "14:20:00", "16:30:00"}) {
                const std::string start = date + "T" + time;
                if (start > "2026-12-08T09:10:00" && start < "2026-12-10T09:10:00") continue;
                call(stops, start);
            }
            if (date != "2026-12-07")
                for (const char* time : {"10:05:00", "11:05:00"}) call(skips, date + "T" + time);
            for (int hour = 8; hour <= 17; ++hour) call(nights, date + "T" + two(hour) + ":15:00");
            if ((day - first) % 5 < 3 && date < "2026-12-08")
                for (int hour = 1; hour <= 3; ++hour) call(nights, date + "T" + two(hour) + ":40:00");
        }
        ASSERT_EQ(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
        const quelvar::Status figures = rebuildFigures(db);
        ASSERT_TRUE(figures.ok()) << figures.text();
    }
    void TearDown() override { sqlite3_close(db); }

    static std::string two(int number) { return (number < 10 ? "0" : "") + std::to_string(number); }

    void call(const std::string& switchName, const std::string& start) {
        const std::string key = std::to_string(++id);
        const std::string sql =
            "INSERT INTO calls (switch, call_key, call_id, account, caller, callee, legs, start, "
            "seconds, category, type, route, trunk, day, file, line) VALUES ('" +
            switchName + "', '" + key + "', '" + key + "', '8001', '8001', '13912345678', 1, '" + start +
            "', 30, '市话', 'OU', 'IP', '3', '" + start.substr(0, 10) + "', 'CDR', 1)";
        ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    }

    std::vector<Silence> find(const std::string& switches, const std::string& asOf,
                              std::vector<Habits>* habits = nullptr) {
        std::vector<Silence> found;
        const quelvar::Status status = findSilences(db, switches, 2h, asOf, found, {}, habits);
        EXPECT_TRUE(status.ok()) << status.text();
        return found;
    }

    TempFolder folder;
    sqlite3* db = nullptr;
    int id = 0;
};

TEST_F(Silences, ASwitchThatStopsIsSilentFromItsLastRecordUntilTheNext) {
    struct Case {
        std::string asOf;
        bool silent;
        std::optional<std::string> end;
        std::vector<std::string> missedDays;
        bool dead;
    };
    const std::vector<Case> cases = {
        // The rest of 09, 14 and five minutes of 16: not more than the limit.
        {"2026-12-08T16:05:00", false, {}, {}, false},
        // The rest of 09, 14, 16 and five minutes of 09; a day without a record is longer than it was ever quiet.
        {"2026-12-09T09:05:00", true, {}, {}, true},
        {"2026-12-10T09:05:00", true, {}, {"2026-12-09"}, true},  // the record that closes it is not there yet
        {"2026-12-10T15:30:00", true, "2026-12-10T09:10:00", {"2026-12-09"}, false},
    };
    for (const Case& expected : cases) {
        std::vector<Habits> habits;
        const std::vector<Silence> found = find(stops, expected.asOf, &habits);
        ASSERT_EQ(found.size(), expected.silent ? 1u : 0u) << expected.asOf;
        ASSERT_EQ(habits.size(), 1u);
        EXPECT_EQ(habits[0].usualHours, (std::vector<int>{9, 14, 16})) << expected.asOf;
        if (!expected.silent) continue;
        EXPECT_EQ(found[0].switchName, stops);
        EXPECT_EQ(found[0].start, "2026-12-08T09:10:00") << "one silence from its start, however long";
        EXPECT_EQ(found[0].end, expected.end) << expected.asOf;
        EXPECT_EQ(found[0].missedDays, expected.missedDays) << expected.asOf;
        EXPECT_EQ(found[0].dead, expected.dead) << expected.asOf;
    }
}

TEST_F(Silences, AUsualDayMissedBetweenTwoLiveDaysIsOneSilence) {
    std::vector<Habits> habits;
    const std::vector<Silence> found = find("*", "2026-12-10T15:30:00", &habits);
    ASSERT_EQ(habits.size(), 3u);
    EXPECT_EQ(habits[1].usualWeekdays, (std::vector<int>{1, 2, 3, 4, 5, 6, 7}));
    EXPECT_EQ(habits[1].usualHours, (std::vector<int>{10, 11}));
    std::vector<Silence> skipped;
    for (const Silence& silence : found)
        if (silence.switchName == skips) skipped.push_back(silence);
    ASSERT_EQ(skipped.size(), 1u);
    EXPECT_EQ(skipped[0].start, "2026-12-06T11:05:00");
    EXPECT_EQ(skipped[0].end, "2026-12-08T10:05:00");
    EXPECT_EQ(skipped[0].missedDays, std::vector<std::string>{"2026-12-07"});
    EXPECT_TRUE(skipped[0].wholeDays());
    EXPECT_FALSE(skipped[0].dead);

    // Looked at from before the day was over, it was no silence yet.
    EXPECT_TRUE(find(skips, "2026-12-07T10:30:00").empty());
    // Long after, only the silence still open is told, unless asked since before the day missed.
    const std::vector<Silence> later = find(skips, "2026-12-30T12:00:00");
    ASSERT_EQ(later.size(), 1u);
    EXPECT_EQ(later[0].start, "2026-12-10T11:05:00");
    std::vector<Silence> since;
    ASSERT_TRUE(findSilences(db, skips, 2h, "2026-12-10T15:30:00", since, "2026-12-08T10:05:00").ok());
    EXPECT_TRUE(since.empty()) << "ended at the moment asked since";
}

TEST_F(Silences, ScatteredNightCallsAreNoUsualHours) {
    std::vector<Habits> habits;
    // The last three nights had no call at 01-03.
    EXPECT_TRUE(find(nights, "2026-12-10T15:30:00", &habits).empty());
    ASSERT_EQ(habits.size(), 1u);
    EXPECT_EQ(habits[0].usualHours, (std::vector<int>{8, 9, 10, 11, 12, 13, 14, 15, 16, 17}));
}

TEST_F(Silences, ASwitchNamedIsFoundWhateverItsCase) {
    std::vector<Habits> habits;
    find("00-1a-2b-3c-4d-02", "2026-12-10T15:30:00", &habits);
    ASSERT_EQ(habits.size(), 1u);
    EXPECT_EQ(habits[0].switchName, skips);
    EXPECT_EQ(habits[0].lastRecord, "2026-12-10T11:05:00");
    std::vector<Silence> found;
    EXPECT_FALSE(findSilences(db, "*", 2h, "10 December", found).ok());
}

}  // namespace
