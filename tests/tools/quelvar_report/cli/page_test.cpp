// The page's months: the cost per month and department over the index, as
// the bill rates it, and `bill --format html` with and without --appendix.
#include <gtest/gtest.h>

#include "quelvar_report/rating/trend.h"
#include "support/temp_folder.h"
#include "tools/quelvar_report/index_fixture.h"

namespace {

using quelvar::report::Directory;
using quelvar::report::Tariffs;
using quelvar::report::Trend;

class PageMonths : public IndexFixture {
protected:
    void SetUp() override {
        IndexFixture::SetUp();
        writeBytes(folder / "tariffs.csv",
                   "valid_from,match,band,first_seconds,first_price,unit_seconds,unit_price\n"
                   "2026-01-01,市话,,0,,60,0.1\n"
                   "2026-01-01,国际长途,,0,,6,0.8\n");
        writeBytes(folder / "directory.csv",
                   "switch,number,name,department,valid_from\n"
                   "*,8001,张伟,内科,\n"
                   "*,8002,李娜,外科,\n"
                   "*,8002,李娜,内科,2026-11-01\n");
        const std::string sw = "00-1A-2B-3C-4D-5E";
        insert({
            {sw, "1-1", "8001", "8001", "26881234", "市话", "2026-09-10T10:00:00", 120},          // 0.20
            {sw, "2-1", "8002", "8002", "26881234", "市话", "2026-10-10T10:00:00", 60},           // 0.10 外科
            {sw, "3-1", "8999", "8999", "26881234", "市话", "2026-10-11T10:00:00", 300},          // 0.50 未登记
            {sw, "4-1", "8002", "8002", "0044207123456", "国际长途", "2026-11-02T02:00:00", 60},  // 8.00 内科 now
            {sw, "5-1", "8001", "8001", "26881234", "市话", "2026-11-30T23:59:00", 60},           // 0.10
            {sw, "6-1", "8001", "8001", "26881234", "市话", "2026-12-01T00:00:10", 60},           // after the months
            {sw, "7-1", "26881234", "26881234", "8001", "市话", "2026-11-03T10:00:00", 600, 1, 0, "", "IP", "IN"},
        });
    }
};

TEST_F(PageMonths, CostPerMonthAndDepartmentAsTheBillRatesIt) {
    Tariffs tariffs;
    Directory directory;
    ASSERT_TRUE(Tariffs::read(folder / "tariffs.csv", tariffs).ok());
    ASSERT_TRUE(Directory::read(folder / "directory.csv", directory).ok());
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(database.c_str(), &db), SQLITE_OK);
    Trend trend;
    const quelvar::Status status = quelvar::report::monthlyTrend(db, "2026-08", "2026-11", tariffs, directory, nullptr, trend);
    Trend wrong;
    const quelvar::Status refused = quelvar::report::monthlyTrend(db, "2026-11", "2026-08", tariffs, directory, nullptr, wrong);
    sqlite3_close(db);
    ASSERT_TRUE(status.ok()) << status.reason();
    EXPECT_FALSE(refused.ok());
    ASSERT_EQ(trend.months, (std::vector<std::string>{"2026-08", "2026-09", "2026-10", "2026-11"}));
    // 内科 the most costly in the last month, 未登记 last; the person who
    // moved counts where the directory had them on the day.
    ASSERT_EQ(trend.groups.size(), 3u);
    const auto costs = [&](std::size_t group) {
        std::vector<long long> li;
        for (const auto& month : trend.groups[group].months) li.push_back(month.cost);
        return li;
    };
    EXPECT_EQ(trend.groups[0].group, "内科");
    EXPECT_EQ(costs(0), (std::vector<long long>{0, 200, 0, 8100}));
    EXPECT_EQ(trend.groups[1].group, "外科");
    EXPECT_EQ(costs(1), (std::vector<long long>{0, 0, 100, 0}));
    EXPECT_EQ(trend.groups[2].group, "未登记");
    EXPECT_EQ(costs(2), (std::vector<long long>{0, 0, 500, 0}));
    // Incoming calls are not billed, so not counted.
    EXPECT_EQ(trend.total[3].calls, 2);
    EXPECT_EQ(trend.total[3].cost, 8100);
}

TEST_F(PageMonths, ThePageHasTheMonthsAndTheAppendixOnlyWhenAsked) {
    const Answer page = run("bill", {"--month", "2026-11", "--format", "html"});
    ASSERT_EQ(page.status, 0) << page.error;
    EXPECT_NE(page.out.find("<section id=\"trend\""), std::string::npos);
    EXPECT_NE(page.out.find("2025-12 至 2026-11"), std::string::npos);
    EXPECT_NE(page.out.find("<section id=\"unusual\""), std::string::npos);
    EXPECT_EQ(page.out.find("id=\"appendix\""), std::string::npos);
    EXPECT_EQ(page.out.find("<section id=\"bill\""), std::string::npos);
    // The 2 a.m. international call is unusual.
    EXPECT_NE(page.out.find("0044207123456"), std::string::npos);

    const Answer full = run("bill", {"--month", "2026-11", "--format", "html", "--appendix"});
    ASSERT_EQ(full.status, 0) << full.error;
    EXPECT_NE(full.out.find("id=\"appendix\""), std::string::npos);
    EXPECT_NE(full.out.find("<section id=\"bill\""), std::string::npos);

    // A filtered bill has no months before to compare with.
    const Answer filtered = run("bill", {"--month", "2026-11", "--format", "html", "--ext", "8001"});
    ASSERT_EQ(filtered.status, 0) << filtered.error;
    EXPECT_EQ(filtered.out.find("<section id=\"trend\""), std::string::npos);

    const Answer table = run("bill", {"--month", "2026-11", "--appendix"});
    EXPECT_EQ(table.status, 2);
    EXPECT_EQ(table.error, "--appendix is for --format html");
}

TEST_F(PageMonths, ThePageListsTheMonthsAlerts) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(database.c_str(), &db), SQLITE_OK);
    const auto page = [&] {
        const Answer answer = run("bill", {"--month", "2026-11", "--format", "html"});
        EXPECT_EQ(answer.status, 0) << answer.error;
        return answer.out;
    };
    // An index made before alerts were kept.
    ASSERT_EQ(sqlite3_exec(db, "DROP TABLE IF EXISTS alerts", nullptr, nullptr, nullptr), SQLITE_OK);
    EXPECT_NE(page().find("未评估告警"), std::string::npos) << "an index without alerts says so";
    ASSERT_EQ(sqlite3_exec(db,
                           "CREATE TABLE IF NOT EXISTS alerts (id INTEGER PRIMARY KEY, rule TEXT NOT NULL, rule_key "
                           "TEXT NOT NULL, subject TEXT NOT NULL, period TEXT NOT NULL, raised TEXT NOT NULL, closed "
                           "TEXT, switch TEXT, ext TEXT, number TEXT, first TEXT, last TEXT, calls INTEGER, seconds "
                           "INTEGER, cost INTEGER, text TEXT NOT NULL, UNIQUE (rule_key, subject, period))",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    EXPECT_NE(page().find("本期没有发出告警"), std::string::npos);

    std::string sql =
        // Before the month: a silence over before it (left out), one still open in it.
        "INSERT INTO alerts (rule, rule_key, subject, period, raised, closed, text) VALUES "
        "('silent', 's', 'A', '1', '2026-10-02T09:00:00', '2026-10-03T09:00:00', '交换机 A 静默'),"
        "('silent', 's', 'B', '2', '2026-10-20T09:00:00', NULL, '交换机 B 自 10-20 起静默'),"
        "('call', 'c', '8999', '3', '2026-11-21T02:05:00', NULL, '分机 8999 <拨打> 00882'),"
        "('call', 'c', '8999', '4', '2026-12-01T02:05:00', NULL, '下个月的')";
    for (int i = 0; i < 9; ++i)
        sql += ",('unlisted', 'u', '89" + std::to_string(10 + i) + "', '5', '2026-11-0" + std::to_string(i + 1) +
               "T10:00:00', NULL, '未登记分机 89" + std::to_string(10 + i) + " 外拨')";
    ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);

    const std::string out = page();
    const std::size_t section = out.find("<section id=\"alerts\"");
    ASSERT_NE(section, std::string::npos);
    EXPECT_NE(out.find("共 11 条：交换机静默 1、可疑呼叫 1、未登记分机 9；列出前 8 条，其余见附录", section),
              std::string::npos)
        << out.substr(section);
    EXPECT_LT(out.find("交换机 B 自 10-20 起静默", section), out.find("未登记分机 8910", section))
        << "the silence still open first";
    EXPECT_EQ(out.find("交换机 A 静默"), std::string::npos);
    EXPECT_EQ(out.find("下个月的"), std::string::npos);
    EXPECT_EQ(out.find("未登记分机 8917 外拨"), std::string::npos) << "eight on the page's own pages";

    const Answer full = run("bill", {"--month", "2026-11", "--format", "html", "--appendix"});
    ASSERT_EQ(full.status, 0) << full.error;
    const std::size_t all = full.out.find("<section id=\"alerts-all\"");
    ASSERT_NE(all, std::string::npos);
    EXPECT_NE(full.out.find("未登记分机 8918 外拨", all), std::string::npos);
    EXPECT_NE(full.out.find("分机 8999 &lt;拨打&gt; 00882", all), std::string::npos);
}

}  // namespace
