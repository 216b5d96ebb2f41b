// Rating: every kind of rule, with a call and its exact cost in li; the
// tariff file's mistakes, each named with its line.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "quelvar_report/reading/csv_file.h"
#include "quelvar_report/reading/dates.h"
#include "quelvar_report/rating/tariffs.h"

namespace {

using quelvar::report::CallToRate;
using quelvar::report::Li;
using quelvar::report::Rating;
using quelvar::report::Tariffs;

Tariffs tariffsOf(const std::string& text) {
    std::vector<quelvar::report::CsvRow> rows;
    std::string failure;
    EXPECT_TRUE(quelvar::report::parseCsv(text, rows, failure).ok()) << failure;
    Tariffs tariffs;
    const quelvar::Status read = Tariffs::fromRows("tariffs.csv", rows, tariffs);
    EXPECT_TRUE(read.ok()) << read.text();
    return tariffs;
}

const std::string header = "valid_from,match,band,first_seconds,first_price,unit_seconds,unit_price\n";

// 2026-03-02 is a Monday, 2026-03-07 a Saturday.
const Tariffs tariffs = tariffsOf(header +
                                  "2026-01-01,内线,,0,,60,0\n"
                                  "2026-01-01,市话,,180,0.22,60,0.11\n"
                                  "2026-01-01,国内长途,,0,,6,0.07\n"
                                  "2026-01-01,国内长途,23:00-07:00,0,,6,0.035\n"
                                  "2026-01-01,国内长途,07:00-23:00@6-7,0,,6,0.05\n"
                                  "2026-01-01,国际长途,,6,0.8,6,0.8\n"
                                  "2026-01-01,008,,6,0.5,6,0.5\n"
                                  "2026-01-01,00852,,6,0.2,6,0.2\n"
                                  "2026-01-01,\"12345\",,60,1,60,1\n"
                                  // The next version restates every rule it keeps.
                                  "2026-07-01,市话,,180,0.2,60,0.1\n"
                                  "2026-07-01,国内长途,,60,0.3,60,0.3\n"
                                  "2026-07-01,国内长途,22:00-07:00@5,60,0.1,60,0.1\n");

TEST(Rating, EachKindOfRuleCostsExactlyWhatItSays) {
    struct Case {
        const char* what;
        const char* start;
        long long seconds;
        const char* category;
        const char* callee;
        Li cost;
    };
    const std::vector<Case> cases = {
        {"0 seconds cost nothing", "2026-03-02T10:00:00", 0, "国际长途", "0044123", 0},
        {"first period, 1 s", "2026-03-02T10:00:00", 1, "市话", "66001234", 220},
        {"first period, its last second", "2026-03-02T10:00:00", 180, "市话", "66001234", 220},
        {"one second into a unit: the unit counts whole", "2026-03-02T10:00:00", 181, "市话", "66001234", 330},
        {"a unit's last second", "2026-03-02T10:00:00", 240, "市话", "66001234", 330},
        {"the next unit's first", "2026-03-02T10:00:00", 241, "市话", "66001234", 440},
        {"no first period: 1 s is a unit", "2026-03-02T10:00:00", 1, "国内长途", "01012345678", 70},
        {"no first period: 6 s", "2026-03-02T10:00:00", 6, "国内长途", "01012345678", 70},
        {"no first period: 7 s", "2026-03-02T10:00:00", 7, "国内长途", "01012345678", 140},
        {"a free category", "2026-03-02T10:00:00", 3600, "内线", "8002", 0},
        // Band boundaries at 23:00 and 07:00: each unit at the price of the band it starts in.
        {"a unit starting 22:59:54 is day, the next 23:00:00 night", "2026-03-02T22:59:54", 12, "国内长途", "010", 70 + 35},
        {"units at 22:59:53 and 22:59:59 are both day", "2026-03-02T22:59:53", 12, "国内长途", "010", 140},
        {"a unit at 06:59:57 is night, 07:00:03 day", "2026-03-03T06:59:57", 12, "国内长途", "010", 35 + 70},
        {"midnight inside the night band", "2026-03-02T23:59:58", 12, "国内长途", "010", 70},
        {"a weekday band: Saturday", "2026-03-07T10:00:00", 12, "国内长途", "010", 100},
        {"the weekend band ends, the night band begins", "2026-03-08T22:59:54", 12, "国内长途", "010", 50 + 35},
        {"Sunday night runs into Monday", "2026-03-09T06:59:54", 12, "国内长途", "010", 35 + 70},
        // Prefixes override the category, the longest first.
        {"the category's rule", "2026-03-02T10:00:00", 7, "国际长途", "0044201234567", 1600},
        {"a prefix", "2026-03-02T10:00:00", 7, "国际长途", "0081312345678", 1000},
        {"the longest prefix", "2026-03-02T10:00:00", 7, "国际长途", "0085223456789", 400},
        {"a prefix counts digits only", "2026-03-02T10:00:00", 7, "国际长途", "00-852-23456789", 400},
        {"a prefix over another category", "2026-03-02T10:00:00", 61, "市话", "12345", 2000},
        // A new version from 2026-07-01: a call is rated by the version of its start.
        {"the old version's last second", "2026-06-30T23:59:59", 181, "市话", "66001234", 330},
        {"the new version's first second", "2026-07-01T00:00:00", 181, "市话", "66001234", 300},
        {"the new version's own band, starting Friday night", "2026-07-03T23:30:00", 61, "国内长途", "010", 200},
        {"the band started Friday runs into Saturday", "2026-07-04T06:59:30", 61, "国内长途", "010", 100 + 300},
        // A multi-leg call: the sum of its legs (75 + 20 s) rated as one call.
        {"two legs as one call", "2026-03-02T10:00:00", 95, "市话", "66001234", 220},
    };
    for (const Case& c : cases) {
        const Rating rating = tariffs.rate(CallToRate{c.start, c.seconds, c.category, c.callee});
        EXPECT_TRUE(rating.rated) << c.what << ": " << rating.why;
        EXPECT_EQ(rating.cost, c.cost) << c.what;
        // The steps of the explanation add up to the cost.
        Li sum = 0;
        for (const auto& step : rating.steps) sum += step.amount;
        EXPECT_EQ(sum, c.cost) << c.what;
        // Without the steps, the same cost.
        EXPECT_EQ(tariffs.rate(CallToRate{c.start, c.seconds, c.category, c.callee}, false).cost, c.cost) << c.what;
    }
    // Legs rated one by one would have cost more: the test above is not a coincidence.
    EXPECT_EQ(tariffs.rate(CallToRate{"2026-03-02T10:00:00", 75, "市话", "66001234"}).cost +
                  tariffs.rate(CallToRate{"2026-03-02T10:01:15", 20, "市话", "66001234"}).cost,
              440);
}

TEST(Rating, CallsNoRuleCoversAreNotRatedAndSayWhy) {
    struct Case {
        const char* start;
        long long seconds;
        const char* category;
        const char* why;
    };
    const std::vector<Case> cases = {
        {"2025-12-31T23:59:59", 10, "市话", "no tariff valid on 2025-12-31"},
        {"", 10, "市话", "no start time"},
        {"2026-03-02T10:00:00", 10, "特服电话", "no rule for 特服电话 in the tariff valid from 2026-01-01"},
        // The July version has no rule for internal calls any more.
        {"2026-07-02T10:00:00", 10, "内线", "no rule for 内线 in the tariff valid from 2026-07-01"},
    };
    for (const Case& c : cases) {
        const Rating rating = tariffs.rate(CallToRate{c.start, c.seconds, c.category, "8002"});
        EXPECT_FALSE(rating.rated) << c.start;
        EXPECT_EQ(rating.cost, 0);
        EXPECT_EQ(rating.why, c.why);
    }
    // A band-only rule set leaves the rest of the day uncovered.
    const Tariffs night = tariffsOf(header + "2026-01-01,市话,23:00-07:00,0,,60,0.05\n");
    const Rating late = night.rate(CallToRate{"2026-03-02T06:59:30", 120, "市话", "66001234"});
    EXPECT_FALSE(late.rated);
    EXPECT_EQ(late.why, "no rule for 市话 at 07:00 in the tariff valid from 2026-01-01");
}

// A forged duration is left unrated rather than charged for centuries, and a
// long call is charged a run of units at a time: a day crosses three bands.
TEST(Rating, CallsLongerThanADayAreNotRatedAndADayTakesAStepPerBand) {
    const Rating day = tariffs.rate(CallToRate{"2026-03-02T00:00:00", 86400, "国内长途", "010"});
    ASSERT_TRUE(day.rated) << day.why;
    // 00:00-07:00 and 23:00-24:00 at night, 0.035 a 6 s unit; the day at 0.07.
    EXPECT_EQ(day.cost, 4200 * 35 + 9600 * 70 + 600 * 35);
    EXPECT_EQ(day.steps.size(), 3u);
    for (const long long seconds : {86401LL, 9999999999999LL}) {
        for (const bool steps : {true, false}) {
            const Rating forged = tariffs.rate(CallToRate{"2026-03-02T10:00:00", seconds, "国内长途", "010"}, steps);
            EXPECT_FALSE(forged.rated) << seconds;
            EXPECT_EQ(forged.cost, 0);
            EXPECT_EQ(forged.why, quelvar::report::longerThanADay);
            EXPECT_TRUE(forged.steps.empty());
        }
    }
}

TEST(Rating, AnExplanationNamesTheRulesUnitsAndBands) {
    // 40 s from 22:59:40 at 6 s units: 4 day units (:40 :46 :52 :58), then 3 at night.
    const Rating rating = tariffs.rate(CallToRate{"2026-03-02T22:59:40", 40, "国内长途", "01012345678"});
    ASSERT_EQ(rating.steps.size(), 2u);
    EXPECT_EQ(rating.version, "2026-01-01");
    EXPECT_EQ(rating.match, "国内长途");
    EXPECT_EQ(rating.steps[0].rule->line, 4);
    EXPECT_EQ(rating.steps[0].units, 4);
    EXPECT_EQ(rating.steps[0].amount, 280);
    EXPECT_EQ(rating.steps[1].rule->band, "23:00-07:00");
    EXPECT_EQ(rating.steps[1].units, 3);
    EXPECT_EQ(rating.steps[1].amount, 105);
    EXPECT_EQ(rating.cost, 385);
    // Long calls across every band, against a reference that charges unit by
    // unit: a few steps each, and the same cost to the li.
    const auto reference = [](long long start, long long seconds) {
        Li cost = 0;
        for (long long at = start; at < start + seconds; at += 6) {
            const long long day = at / 86400, minute = at % 86400 / 60;
            const long long weekday = (day + 3) % 7 + 1;  // 1970-01-01 was a Thursday
            const bool night = minute >= 23 * 60 || minute < 7 * 60;
            cost += night ? 35 : weekday >= 6 ? 50 : 70;
        }
        return cost;
    };
    const long long march2 = 20514LL * 86400;  // 2026-03-02T00:00:00
    for (const long long offset : {0LL, 1LL, 3599LL, 22 * 3600LL + 59 * 60 + 57, 5 * 86400LL + 7 * 3600 - 4})
        for (const long long seconds : {1LL, 3601LL, 86400LL - 13, 86400LL}) {
            const std::string start = quelvar::report::momentText(march2 + offset);
            const Rating longCall = tariffs.rate(CallToRate{start, seconds, "国内长途", "010"});
            EXPECT_TRUE(longCall.rated);
            EXPECT_EQ(longCall.cost, reference(march2 + offset, seconds)) << start << " " << seconds;
            EXPECT_LT(longCall.steps.size(), 8u);
        }
}

TEST(Rating, PricesAreReadToTheLi) {
    struct Case {
        const char* text;
        bool good;
        Li li;
    };
    for (const Case& c : std::vector<Case>{{"0", true, 0},
                                            {"0.22", true, 220},
                                            {"0.035", true, 35},
                                            {"1", true, 1000},
                                            {"12.5", true, 12500},
                                            {"1.", false, 0},
                                            {"0.0001", false, 0},
                                            {"-1", false, 0},
                                            {"1,5", false, 0},
                                            {"", false, 0},
                                            {".5", false, 0},
                                            {"1e3", false, 0},
                                            {"100001", false, 0}}) {
        Li li = -1;
        EXPECT_EQ(quelvar::report::parseYuan(c.text, li), c.good) << c.text;
        if (c.good) {
            EXPECT_EQ(li, c.li) << c.text;
        }
    }
}

TEST(Rating, MistakesInTheTariffFileNameTheirLine) {
    struct Case {
        std::string lines;
        std::string error;
    };
    const std::vector<Case> cases = {
        {"valid_from,match,band\n", "line 1: the first line must be the header valid_from,match,band,first_seconds,"
                                    "first_price,unit_seconds,unit_price"},
        {header + "2026-02-30,市话,,180,0.22,60,0.11\n", "line 2: bad valid_from 2026-02-30 (YYYY-MM-DD)"},
        {header + "2026-01-01,市内,,180,0.22,60,0.11\n",
         "line 2: match 市内 is neither a category (内线, 市话, 国内长途, 国际长途, 特服电话) nor digits"},
        {header + "2026-01-01,市话,,180,0.2222,60,0.11\n", "line 2: bad first_price 0.2222 (yuan with up to three decimals)"},
        {header + "2026-01-01,市话,,0,0.22,60,0.11\n", "line 2: a first_price with first_seconds 0 would never be charged"},
        {header + "2026-01-01,市话,,180,0.22,0,0.11\n", "line 2: bad unit_seconds 0 (whole seconds, at least 1)"},
        {header + "2026-01-01,市话,25:00-07:00,180,0.22,60,0.11\n",
         "line 2: bad band 25:00-07:00 (HH:MM-HH:MM, for example 23:00-07:00; empty for the whole day)"},
        {header + "2026-01-01,市话,07:00-07:00,180,0.22,60,0.11\n",
         "line 2: band 07:00-07:00 is empty (leave the band empty for the whole day)"},
        {header + "2026-01-01,市话,07:00-08:00@0-5,180,0.22,60,0.11\n",
         "line 2: bad weekdays in band 07:00-08:00@0-5 (for example @1-5 or @6,7; 1 is Monday)"},
        {header + "\n# a note\n2026-01-01,市话,,180,0.22,60,0.11\n2026-01-01,市话,,180,0.2,60,0.1\n",
         "line 5: a second whole-day rule for 市话 valid from 2026-01-01 (the first is on line 4)"},
        {header + "2026-01-01,市话,22:00-07:00,180,0.22,60,0.11\n2026-01-01,市话,06:00-08:00@1,180,0.2,60,0.1\n",
         "line 3: band 06:00-08:00@1 overlaps band 22:00-07:00 of line 2"},
        {header + "2026-01-01,\"市话,,180\n", "line 2: a quote is opened and never closed"},
    };
    for (const Case& c : cases) {
        std::vector<quelvar::report::CsvRow> rows;
        std::string failure;
        quelvar::Status read = quelvar::report::parseCsv(c.lines, rows, failure);
        if (read.ok()) {
            Tariffs made;
            read = Tariffs::fromRows("tariffs.csv", rows, made);
        } else {
            read = quelvar::Status::error(read.code(), "read", "tariffs.csv", failure);
        }
        EXPECT_EQ(read.text(), "read tariffs.csv: " + c.error);
    }
}

TEST(Rating, ExcelsFilesAreReadAsExcelWritesThem) {
    // CSV UTF-8 with a byte-order mark and CR LF; plain CSV on a Chinese
    // Windows is GBK: 市话 is C8 D0 BB B0.
    for (const std::string& text :
         {"\xEF\xBB\xBF" + header.substr(0, header.size() - 1) + "\r\n2026-01-01,市话,,180,0.22,60,0.11\r\n",
          header + "2026-01-01,\xCA\xD0\xBB\xB0,,180,0.22,60,0.11\n"}) {
        const Tariffs read = tariffsOf(text);
        EXPECT_EQ(read.rate(CallToRate{"2026-03-02T10:00:00", 181, "市话", "6600"}).cost, 330);
    }
}

}  // namespace

TEST(ShownFigures, PartsAddUpToTheTotalShown) {
    using quelvar::report::fenAddingUp;
    using quelvar::report::fenRounded;
    using quelvar::report::Li;
    using quelvar::report::yuanFromFen;
    struct Case {
        std::vector<Li> parts;
        std::vector<long long> fen;
    };
    const std::vector<Case> cases = {
        {{}, {}},
        {{1234}, {123}},
        {{5, 5, 5}, {1, 1, 0}},             // 0.015 -> 0.02: two of the three half fen go up
        {{4, 4, 4}, {1, 0, 0}},             // 0.012 -> 0.01
        {{1004, 2008, 3003}, {101, 201, 300}},  // 6.015 -> 6.02
        {{9, 1, 9, 1}, {1, 0, 1, 0}},
        {{-15, 30}, {-1, 3}},               // a hand-made negative price
    };
    for (const Case& c : cases) {
        const std::vector<long long> fen = fenAddingUp(c.parts);
        EXPECT_EQ(fen, c.fen);
        Li sum = 0;
        for (const Li part : c.parts) sum += part;
        long long shown = 0;
        for (const long long part : fen) shown += part;
        EXPECT_EQ(shown, fenRounded(sum));
    }
    EXPECT_EQ(yuanFromFen(123456), "1234.56");
    EXPECT_EQ(yuanFromFen(-5), "-0.05");
}

TEST(ShownFigures, ABillsGroupsAndCategoriesAddUpBothWays) {
    using quelvar::report::Bill;
    using quelvar::report::BillGroup;
    using quelvar::report::fenAddingUp;
    using quelvar::report::fenRounded;
    using quelvar::report::Li;
    // Against a total shown already: the fen go by the remainders, and a
    // total further off still comes out even.
    EXPECT_EQ(fenAddingUp({101, 12345}, 1245), (std::vector<long long>{10, 1235}));
    EXPECT_EQ(fenAddingUp({101, 12345}, 1244), (std::vector<long long>{10, 1234}));
    EXPECT_EQ(fenAddingUp({5, 5}, 5), (std::vector<long long>{3, 2}));
    EXPECT_EQ(fenAddingUp({5, 5}, -1), (std::vector<long long>{0, -1}));

    // Bills of many groups with amounts of odd 厘, as a month at night rates makes them.
    std::uint64_t seed = 1809;
    const auto next = [&] { return (seed = seed * 6364136223846793005ULL + 1442695040888963407ULL) >> 33; };
    const std::vector<std::string> categories = {"市话", "国内长途", "国际长途"};
    for (int round = 0; round < 50; ++round) {
        Bill bill;
        bill.categories = categories;
        const std::size_t groups = 1 + next() % 40;
        for (std::size_t g = 0; g < groups; ++g) {
            BillGroup& group = bill.groups.emplace_back();
            group.name = "g" + std::to_string(g);
            for (const std::string& category : categories) {
                if (next() % 4 == 0) continue;
                const Li cost = static_cast<Li>(next() % 100000);
                group.byCategory[category].add(60, cost, true);
                group.total.add(60, cost, true);
                bill.byCategory[category].add(60, cost, true);
                bill.total.add(60, cost, true);
            }
        }
        const quelvar::report::BillFen shown = quelvar::report::billFen(bill);
        EXPECT_EQ(shown.total, fenRounded(bill.total.cost));
        long long groupSum = 0, categorySum = 0;
        for (std::size_t g = 0; g < groups; ++g) {
            groupSum += shown.groups[g];
            EXPECT_LT(std::llabs(shown.groups[g] * 10 - bill.groups[g].total.cost), 10);
            long long inGroup = 0;
            for (std::size_t i = 0; i < categories.size(); ++i) {
                inGroup += shown.groupCategories[g][i];
                const auto found = bill.groups[g].byCategory.find(categories[i]);
                const Li exact = found == bill.groups[g].byCategory.end() ? 0 : found->second.cost;
                EXPECT_LT(std::llabs(shown.groupCategories[g][i] * 10 - exact), 10);
            }
            EXPECT_EQ(inGroup, shown.groups[g]);
        }
        for (std::size_t i = 0; i < categories.size(); ++i) {
            categorySum += shown.categories[i];
            EXPECT_LT(std::llabs(shown.categories[i] * 10 - bill.byCategory[categories[i]].cost),
                      10 * static_cast<long long>(groups));
        }
        EXPECT_EQ(groupSum, shown.total);
        EXPECT_EQ(categorySum, shown.total);
    }
}
