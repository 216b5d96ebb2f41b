#pragma once
// When a switch that should be sending is not: its habits (the hours and the
// days of the week it files in) learned from the index, and the silences
// that break them.
#include <sqlite3.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

namespace quelvar::report {

// What a switch usually does, learned from the 28 days before the moment
// asked about, or, for a switch silent since, before the day after its last
// record (so that a long silence does not teach that silence is usual).
// Only from the switch's first file on.
//
// A usual day: a day of the week on which it filed on at least three in four
// of those days, once its history spans two weeks (until then every day
// counts, and no whole day is missed).
// A usual hour of a usual day: an hour in which it filed on at least nine in
// ten of the usual days it filed on (all days, before days are learned), and
// once days are learned, on at least half of those days of the week, with on
// average at least a quarter of the records the hour has over all usual
// days. None before 3 days with records. So a switch that files in the night
// now and then has no usual night hour, and one that is quiet on Sundays no
// usual Sunday hours: neither is a silence.
struct Habits {
    std::string switchName;
    std::string firstDay;                   // YYYY-MM-DD of its first file
    std::optional<std::string> lastRecord;  // the start of its last record at or before the moment
    std::vector<int> usualHours;            // 0 .. 23: usual on some usual day
    std::vector<int> usualWeekdays;         // 1 Monday .. 7 Sunday; empty while days are not learned
    bool daysLearned = false;
    long long longestQuiet = 0;  // seconds: the longest time between two records in its history
    // The usual hours of a day (days since 1970-01-01, as daysFromCivil):
    // none before its first file or on a day that is not usual.
    std::vector<int> usualHoursOn(long day) const;

    std::array<std::uint32_t, 8> hoursOn{};  // by day of the week (1 .. 7), a bit per usual hour
    long firstDayNumber = 0;
};

// One stretch without records, from the last record before it until the
// next one, however many usual hours and days it spans.
struct Silence {
    std::string switchName;
    std::string start;                    // the last record before it (YYYY-MM-DDTHH:MM:SS), the silence's key
    std::optional<std::string> end;       // the first record after it; none while it lasts
    long long usualSeconds = 0;           // its length within usual hours of usual days, up to `end` or the moment
    std::vector<std::string> missedDays;  // the usual days within it without any record, over at the moment
    // Still open and longer than the switch was ever quiet in its history.
    bool dead = false;
    bool wholeDays() const { return !missedDays.empty(); }
};

// The silences of the switches named by `switches` (a folder name, or "*"
// for all) as of the moment `asOf` (YYYY-MM-DDTHH:MM:SS local): only records
// that start at or before it count. A silence is a stretch between two
// records (or from the last record until the moment) of more than `limit`
// within the switch's usual hours, or one holding a usual day that is over
// without any record. Those still open and those that ended after `since`
// (a moment; empty: 7 days before `asOf`) are given, by switch and start.
// `habits`, when given, receives every switch's habits, silent or not.
// Reads the index a few queries per switch, never a query per call.
Status findSilences(sqlite3* database, std::string_view switches, std::chrono::seconds limit, std::string_view asOf,
                    std::vector<Silence>& silences, std::string_view since = {}, std::vector<Habits>* habits = nullptr);

// A clock time as the index writes moments: YYYY-MM-DDTHH:MM:SS local.
std::string localMoment(std::time_t time);

}  // namespace quelvar::report
