// Bills and trends from the daily figures and kept costs: always what
// rating every call gives, whether the costs are kept, kept for other
// tariffs, or not kept at all.
#include "quelvar_report/rating/figures.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>
#include <vector>

#include "quelvar_report/index/index.h"
#include "quelvar_report/index/schema.h"
#include "quelvar_report/rating/bill.h"
#include "quelvar_report/rating/trend.h"
#include "quelvar_report/reading/csv_file.h"
#include "support/temp_folder.h"

namespace {

using namespace quelvar::report;

template <typename Made>
Made fromText(const std::string& text) {
    std::vector<CsvRow> rows;
    std::string failure;
    EXPECT_TRUE(parseCsv(text, rows, failure).ok()) << failure;
    Made made;
    const quelvar::Status read = Made::fromRows("file.csv", rows, made);
    EXPECT_TRUE(read.ok()) << read.text();
    return made;
}

const std::string tariffHeader = "valid_from,match,band,first_seconds,first_price,unit_seconds,unit_price\n";
const Tariffs tariffs = fromText<Tariffs>(tariffHeader + "2026-01-01,内线,,0,,60,0\n2026-01-01,市话,,180,0.22,60,0.11\n");
// Dearer from March on.
const Tariffs dearer = fromText<Tariffs>(tariffHeader +
                                         "2026-01-01,内线,,0,,60,0\n2026-01-01,市话,,180,0.22,60,0.11\n"
                                         "2026-03-01,内线,,0,,60,0\n2026-03-01,市话,,60,0.30,60,0.30\n");
// 8001 moves from 甲 to 乙 on February 15th; 8004 is another 张伟; 8003 is not listed.
const Directory directory = fromText<Directory>(
    "switch,number,name,department,valid_from\n*,8001,张伟,甲,\n*,8001,张伟,乙,2026-02-15\n*,8002,李娜,甲,\n"
    "*,8004,张伟,甲,\n");
// A forwarded call is billed by its own number: 139... is 市话 here.
const CallCategories categories(L"0755", "");

const std::string sw = "00-1A-2B-3C-4D-5E";

class Figures : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(sqlite3_open(":memory:", &database_), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(database_, schemaSql, nullptr, nullptr, nullptr), SQLITE_OK);
        // caller, callee, category, type, start, seconds
        const std::vector<std::vector<std::string>> calls = {
            {"8001", "62345678", "市话", "OU", "2026-01-05T09:00:00", "60"},
            {"8002", "62345678", "市话", "OU", "2026-01-31T23:59:00", "240"},
            {"8001", "62345678", "市话", "OU", "2026-02-10T10:00:00", "60"},
            {"8001", "62345678", "市话", "OU", "2026-02-20T10:00:00", "100"},
            {"8003", "62345678", "市话", "OU", "2026-02-21T10:00:00", "60"},
            {"8002", "110", "特服电话", "OU", "2026-03-02T10:00:00", "30"},
            {"62345678", "8001", "市话", "IN", "2026-03-05T10:00:00", "300"},
            {"8002", "8001", "内线", "OU", "2026-03-31T10:00:00", "30"},
            // Filed with the teletype of the call before it: 国际长途, which no tariff names.
            {"8001", "13912345678", "国际长途", "FW", "2026-02-11T10:00:00", "200"},
            {"8004", "62345678", "市话", "OU", "2026-02-12T10:00:00", "400"},
            {"62345678", "8003", "市话", "IN", "2026-03-06T10:00:00", "90"},
        };
        long line = 0;
        for (const auto& c : calls) {
            const std::string number = std::to_string(++line);
            const std::string sql =
                "INSERT INTO calls(switch, call_key, call_id, account, caller, callee, legs, start, seconds,"
                " category, type, route, trunk, day, file, line) VALUES('" + sw + "', '" + number + "', '" + number +
                "-1', '', '" + c[0] + "', '" + c[1] + "', 1, '" + c[4] + "', " + c[5] +
                ", '" + c[2] + "', '" + c[3] + "', 'IP', '3', substr('" + c[4] + "', 1, 10), 'CDR', " + number + ")";
            ASSERT_EQ(sqlite3_exec(database_, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK)
                << sqlite3_errmsg(database_);
        }
        ASSERT_TRUE(rebuildFigures(database_).ok());
    }
    void TearDown() override { sqlite3_close(database_); }

    Bill fromEveryCall(const std::string& from, const std::string& to, const std::string& by, const Tariffs& rules) {
        ReportBuilder builder(from, to, by);
        long long incoming = 0;
        const quelvar::Status rated = rateCalls(
            database_,
            RatingPass{"WHERE (flags & 6) = 0 AND substr(COALESCE(start, day), 1, 10) BETWEEN ? AND ?", {from, to},
                       false, by, &categories, ""},
            rules, directory, [&](const RatedCall& call) { builder.add(call); }, &incoming);
        EXPECT_TRUE(rated.ok()) << rated.text();
        Bill bill = builder.finish("").bill;
        bill.incoming = incoming;
        return bill;
    }
    Bill fromFigures(const std::string& from, const std::string& to, const std::string& by, const Tariffs& rules,
                     const std::string& digest) {
        ReportBuilder builder(from, to, by);
        long long incoming = 0;
        const quelvar::Status read = billedFigures(
            database_, FigureFilter{from, to, std::nullopt}, rules, digest, directory, by,
            [&](const RatedCall& call, const Totals& totals) { builder.addFigures(call, totals); },
            [&](const RatedCall& call) { builder.add(call); }, &incoming, &categories);
        EXPECT_TRUE(read.ok()) << read.text();
        Bill bill = builder.finish("").bill;
        bill.incoming = incoming;
        return bill;
    }
    std::vector<std::string> rows(const std::string& sql) {
        std::vector<std::string> result;
        sqlite3_stmt* statement = nullptr;
        EXPECT_EQ(sqlite3_prepare_v2(database_, sql.c_str(), -1, &statement, nullptr), SQLITE_OK) << sql;
        while (sqlite3_step(statement) == SQLITE_ROW) {
            std::string row;
            for (int column = 0; column < sqlite3_column_count(statement); ++column) {
                const auto* text = sqlite3_column_text(statement, column);
                row += (column ? "|" : "") + std::string(text ? reinterpret_cast<const char*>(text) : "NULL");
            }
            result.push_back(row);
        }
        sqlite3_finalize(statement);
        return result;
    }

    sqlite3* database_ = nullptr;
};

std::string text(const Totals& t) {
    return std::to_string(t.calls) + " calls " + std::to_string(t.seconds) + " s " + std::to_string(t.cost) + " li " +
           std::to_string(t.unrated) + " unrated";
}

std::string text(const Bill& bill) {
    std::string out = "total " + text(bill.total) + ", incoming " + std::to_string(bill.incoming) + ", versions";
    for (const std::string& version : bill.tariffVersions) out += " " + version;
    for (const BillGroup& group : bill.groups) {
        out += "\n" + group.name + " (" + group.department + (group.unlisted ? ", unlisted" : "") + "; ";
        for (const std::string& extension : group.extensions) out += extension + " ";
        out += "): " + text(group.total);
        for (const auto& [category, totals] : group.byCategory) out += "; " + category + " " + text(totals);
    }
    return out;
}

TEST_F(Figures, ABillFromFiguresIsTheBillOfEveryCall) {
    struct Period {
        const char* from;
        const char* to;
    };
    const std::vector<Period> periods = {{"2026-01-01", "2026-03-31"},  // whole months
                                         {"2026-01-15", "2026-03-02"},  // months in part
                                         {"2026-02-01", "2026-02-28"},  // the month of the move
                                         {"2026-01-31", "2026-01-31"}};
    const auto compare = [&](const Tariffs& rules, const std::string& digest, const std::string& when) {
        for (const Period& period : periods)
            for (const std::string by : {"ext", "person", "department", "switch"})
                EXPECT_EQ(text(fromFigures(period.from, period.to, by, rules, digest)),
                          text(fromEveryCall(period.from, period.to, by, rules)))
                    << when << ", " << period.from << " to " << period.to << " by " << by;
    };
    compare(tariffs, "one", "no costs kept");
    long long days = 0;
    ASSERT_TRUE(keepCosts(database_, tariffs, "one", &days, &categories).ok());
    EXPECT_EQ(days, 11);
    compare(tariffs, "one", "costs kept");
    compare(dearer, "two", "costs kept for other tariffs");
    ASSERT_TRUE(keepCosts(database_, dearer, "two", &days, &categories).ok());
    EXPECT_EQ(days, 11) << "every day rated again";
    compare(dearer, "two", "costs kept again");
    ASSERT_TRUE(keepCosts(database_, dearer, "two", &days, &categories).ok());
    EXPECT_EQ(days, 0) << "nothing changed";
    // The months hold what the days hold, and nothing of the tariffs before.
    EXPECT_EQ(rows("SELECT month, digest, switch, caller, account, category, version, incoming, calls, seconds, cost"
                   " FROM month_costs ORDER BY 1, 2, 3, 4, 5, 6, 7, 8"),
              rows("SELECT substr(day, 1, 7), digest, switch, caller, account, category, version, incoming,"
                   " sum(calls), sum(seconds), sum(cost) FROM day_costs GROUP BY 1, 2, 3, 4, 5, 6, 7, 8"
                   " ORDER BY 1, 2, 3, 4, 5, 6, 7, 8"));
    EXPECT_EQ(rows("SELECT DISTINCT digest FROM month_costs"), std::vector<std::string>{"two"});
    EXPECT_EQ(rows("SELECT count(*) FROM unrated_calls"), std::vector<std::string>{"1"});
}

TEST_F(Figures, MonthlyFiguresAreMonthsByDepartment) {
    for (const bool kept : {false, true}) {
        if (kept) {
            ASSERT_TRUE(keepCosts(database_, tariffs, "one", nullptr, &categories).ok());
        }
        MonthlyFigures trend;
        ASSERT_TRUE(monthlyFigures(database_, "2026-01-01", "2026-03-31", "department", tariffs, "one", directory, trend,
                                   &categories)
                        .ok());
        EXPECT_EQ(trend.months, (std::vector<std::string>{"2026-01", "2026-02", "2026-03"}));
        std::vector<std::string> shown;
        for (const auto& [group, months] : trend.groups) {
            std::string row = group + ":";
            for (const Totals& totals : months) row += " [" + text(totals) + "]";
            shown.push_back(row);
        }
        // 甲 the most costly first; 8001's calls in the department of their day; the incoming call left out;
        // the call to 110 counted, not rated.
        // The forwarded call as 市话; the namesake 8004 in 甲 too; 8003 in 未登记.
        EXPECT_EQ(shown, (std::vector<std::string>{
                             "甲: [2 calls 300 s 550 li 0 unrated] [3 calls 660 s 1210 li 0 unrated] "
                             "[2 calls 60 s 0 li 1 unrated]",
                             "乙: [0 calls 0 s 0 li 0 unrated] [1 calls 100 s 220 li 0 unrated] "
                             "[0 calls 0 s 0 li 0 unrated]",
                             "未登记: [0 calls 0 s 0 li 0 unrated] [1 calls 60 s 220 li 0 unrated] "
                             "[0 calls 0 s 0 li 0 unrated]"}))
            << (kept ? "costs kept" : "no costs kept");
        ASSERT_EQ(trend.total.size(), 3u);
        EXPECT_EQ(text(trend.total[1]), "5 calls 820 s 1650 li 0 unrated");
    }
    MonthlyFigures none;
    for (const auto& [from, to] : std::vector<std::pair<std::string, std::string>>{
             {"2026-13-01", "2026-12-31"}, {"2026-03-01", "2026-01-31"}, {"", ""}, {"x", "2026-01-31"}})
        EXPECT_FALSE(monthlyFigures(database_, from, to, "department", tariffs, "one", directory, none).ok())
            << from << " to " << to;
}

TEST_F(Figures, ThePagesTrendFromKeptCostsIsTheTrendOfEveryCall) {
    const auto shown = [](const Trend& trend) {
        std::string out;
        for (const std::string& month : trend.months) out += month + " ";
        for (const TrendRow& row : trend.groups) {
            out += "\n" + row.group + ":";
            for (const Totals& totals : row.months) out += " [" + text(totals) + "]";
        }
        for (const Totals& totals : trend.total) out += "\ntotal [" + text(totals) + "]";
        return out;
    };
    Trend everyCall;
    ASSERT_TRUE(monthlyTrend(database_, "2025-12", "2026-04", tariffs, directory, &categories, everyCall).ok());
    EXPECT_EQ(everyCall.groups.back().group, std::string(unlistedDepartment));
    for (const bool kept : {false, true}) {
        if (kept) {
            ASSERT_TRUE(keepCosts(database_, tariffs, "one", nullptr, &categories).ok());
        }
        Trend fromCosts;
        ASSERT_TRUE(
            monthlyTrend(database_, "2025-12", "2026-04", tariffs, "one", directory, &categories, fromCosts).ok());
        EXPECT_EQ(shown(fromCosts), shown(everyCall)) << (kept ? "costs kept" : "no costs kept");
    }
}

}  // namespace

namespace {

TEST(CostsDigest, CoversTheTariffsAndWhatDecidesACarriedCallsCategory) {
    TempFolder folder;
    const std::string path = folder.path().string();
    const auto digest = [&] {
        return quelvar::report::tariffsDigest("tariffs", quelvar::report::CallCategories::sourceOf(path));
    };
    const std::string none = digest();
    EXPECT_NE(quelvar::report::tariffsDigest("tariffs!", quelvar::report::CallCategories::sourceOf(path)), none);
    writeBytes(folder / "Quelvar.ini", "AREACODE=0755\r\n");
    const std::string areaCode = digest();
    EXPECT_NE(areaCode, none);
    writeBytes(folder / "tele.ini", "110\r\n");
    const std::string tele = digest();
    EXPECT_NE(tele, areaCode);
    writeBytes(folder / "Quelvar.ini", "AREACODE=010\r\n");
    EXPECT_NE(digest(), tele);
}

}  // namespace
