// alerts on a small index: each rule raises once per burst, subject and
// period, a second run raises nothing, budgets tell 80 % and 100 % once each.
#include <fstream>

#include "quelvar_report/cli/alerts.h"
#include "tools/quelvar_report/index_fixture.h"

namespace {

using quelvar::test::Json;

const std::string switchA = "00-1A-2B-3C-4D-5E";

void writeFile(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

std::string two(int value) { return (value < 10 ? "0" : "") + std::to_string(value); }

class Alerts : public IndexFixture {
protected:
    void SetUp() override {
        IndexFixture::SetUp();
        // International at 0.8 a started 6 s: a 470 s call is 79 units, 63.20.
        writeFile(folder / "tariffs.csv",
                  "valid_from,match,band,first_seconds,first_price,unit_seconds,unit_price\n"
                  "2026-01-01,内线,,0,,60,0\n"
                  "2026-01-01,市话,,0,,60,0.1\n"
                  "2026-01-01,国内长途,,0,,60,0.5\n"
                  "2026-01-01,国际长途,,0,,6,0.8\n");
        writeFile(folder / "directory.csv",
                  "switch,number,name,department,valid_from\n*,8001,张伟,内科,\n*,8002,王芳,内科,\n*,8003,李娜,外科,\n");
        std::vector<Row> rows;
        // Saturday 2026-11-14 from 02:00: twelve calls a minute apart to
        // 00882 from 8123, which no directory lists.
        for (int i = 0; i < 12; ++i)
            rows.push_back({switchA, std::to_string(100 + i), "", "8123", "008821234567" + std::to_string(i % 3),
                            "国际长途", "2026-11-14T02:" + two(i) + ":00", 470});
        // A listed extension's international call by day, and a long local one.
        rows.push_back({switchA, "200", "", "8001", "0014155550100", "国际长途", "2026-11-14T10:00:00", 60});
        rows.push_back({switchA, "201", "", "8001", "075512345678", "市话", "2026-11-14T11:00:00", 4000});
        // An incoming call is never the site's.
        rows.push_back({switchA, "202", "", "008821234567", "8123", "国际长途", "2026-11-14T03:00:00", 4000, 1, 0, "",
                        "IP", "IN"});
        insert(rows);
    }

    Answer alerts(std::vector<std::string> arguments) {
        arguments.insert(arguments.end(), {"--db", database});
        Answer answer;
        answer.status = quelvar::report::runAlerts("alerts", arguments, folder.path().string(), now, answer.out,
                                                   answer.error, log_);
        return answer;
    }
    Json alertsJson(const std::string& at, std::vector<std::string> more = {}) {
        more.insert(more.end(), {"--at", at, "--format", "json"});
        const Answer answer = alerts(more);
        EXPECT_EQ(answer.status, 0) << answer.error;
        const auto value = quelvar::test::JsonReader::read(answer.out);
        EXPECT_TRUE(value.has_value()) << answer.out;
        return value.value_or(Json{});
    }
    // Each alert as "rule subject calls cost".
    static std::vector<std::string> listed(const Json& answer) {
        std::vector<std::string> found;
        for (const Json& alert : answer["alerts"].items)
            found.push_back(alert["rule"].string + " " + alert["subject"].string + " " +
                            (alert["calls"].type == Json::Type::null ? "-" : std::to_string(alert["calls"].integer())) +
                            " " + (alert["cost"].type == Json::Type::null ? "-" : alert["cost"].string));
        return found;
    }
    void TearDown() override {
        if (log_) std::fclose(log_);
        IndexFixture::TearDown();
    }
    std::FILE* log_ = std::tmpfile();
};

TEST_F(Alerts, ABurstIsOneAlertPerRuleAndASecondRunRaisesNothing) {
    writeFile(folder / "alerts.csv",
              "rule,match,band,limit,notify\n"
              "# premium satellite numbers at night\n"
              "call,00882;00870,00:00-06:00,5/10min,log\n"
              "unlisted,*,,3/10min,\n"
              "call,国际长途,\"00:00-08:00@6,7\",1,log\n"
              "long,*,,3600s,log\n"
              "cost,*,,500/24h,log\n");
    const Json first = alertsJson("2026-11-14 12:00");
    // Twelve calls, 5640 s, 758.40 yuan: one alert for the burst of each
    // rule, and one a call for the rule of every call.
    std::vector<std::string> expected = {"call 8123 12 758.400", "unlisted 8123 12 758.400"};
    for (int i = 0; i < 12; ++i) expected.push_back("call 8123 1 63.200");
    expected.push_back("long 8001 1 6.700");
    // Past 500 at the eighth call, the window stays past it to the last.
    expected.push_back("cost 8123 12 758.400");
    std::vector<std::string> got = listed(first);
    std::sort(got.begin(), got.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(got, expected);
    const Json& burst = first["alerts"][0];
    EXPECT_EQ(burst.keys(), (std::vector<std::string>{"rule", "subject", "switch", "ext", "number", "first", "last",
                                                      "calls", "seconds", "cost", "text"}));
    EXPECT_EQ(burst["switch"].string, switchA);
    EXPECT_EQ(burst["first"].string, "2026-11-14T02:00:00");
    EXPECT_EQ(burst["last"].string, "2026-11-14T02:18:50");
    EXPECT_EQ(burst["seconds"].integer(), 5640);
    EXPECT_TRUE(burst["text"].string.starts_with("【Quelvar 告警】")) << burst["text"].string;
    for (const char* part : {"8123", "00882", "12 次", "5640 秒", "758.40 元", "2026-11-14 02:00", "未登记"})
        EXPECT_NE(burst["text"].string.find(part), std::string::npos) << part << " in " << burst["text"].string;
    EXPECT_EQ(listed(alertsJson("2026-11-14 12:00")), std::vector<std::string>{});
    // A call of the burst that started first but ended last, filed last: the
    // burst was told, only the rule of every call has news.
    insert({{switchA, "199", "", "8123", "008821234567", "国际长途", "2026-11-14T01:58:00", 1800}});
    EXPECT_EQ(listed(alertsJson("2026-11-14 12:05")), std::vector<std::string>{"call 8123 1 240.000"});
    // Later, the same calls still within the look-back: nothing new either.
    EXPECT_EQ(listed(alertsJson("2026-11-15 12:00")), std::vector<std::string>{});
    // --again tells the open ones once more.
    EXPECT_EQ(listed(alertsJson("2026-11-15 12:00", {"--again"})).size(), expected.size() + 1);
}

TEST_F(Alerts, ADryRunRecordsNothingAndAnotherRuleLineIsAnotherRule) {
    writeFile(folder / "alerts.csv", "rule,match,band,limit,notify\nlong,*,,3600s,log\n");
    EXPECT_EQ(listed(alertsJson("2026-11-14 12:00", {"--dry-run"})), std::vector<std::string>{"long 8001 1 6.700"});
    EXPECT_EQ(listed(alertsJson("2026-11-14 12:00")), std::vector<std::string>{"long 8001 1 6.700"});
    // Where it is told is not what it is about: the same rule.
    writeFile(folder / "alerts.csv", "rule,match,band,limit,notify\nlong,*,,3600s,log;log\n");
    EXPECT_EQ(listed(alertsJson("2026-11-14 12:00")), std::vector<std::string>{});
    writeFile(folder / "alerts.csv", "rule,match,band,limit,notify\nlong,*,,1h,log\n");
    EXPECT_EQ(listed(alertsJson("2026-11-14 12:00")), std::vector<std::string>{"long 8001 1 6.700"});
    // Before the call started it was not there.
    writeFile(folder / "alerts.csv", "rule,match,band,limit,notify\nlong,*,,30min,log\n");
    EXPECT_EQ(listed(alertsJson("2026-11-14 10:59")), std::vector<std::string>{});
}

TEST_F(Alerts, ABudgetIsToldAt80AndAt100PercentOnceEach) {
    // 内科 spends 8001's 8.00 + 6.70 = 14.70 by 11:00 (81 % of 18), and 8002's 12.00 at 14:00.
    insert({{switchA, "300", "", "8002", "13912345678", "国内长途", "2026-11-14T14:00:00", 1440}});
    writeFile(folder / "alerts.csv",
              "rule,match,band,limit,notify\nbudget,department:*,,18/month,log\nbudget,person:王芳,,12/month,\n");
    EXPECT_EQ(listed(alertsJson("2026-11-14 09:00")), std::vector<std::string>{});
    const Json eighty = alertsJson("2026-11-14 12:00");
    EXPECT_EQ(listed(eighty), std::vector<std::string>{"budget department:内科 2 14.700"});
    EXPECT_NE(eighty["alerts"][0]["text"].string.find("81%"), std::string::npos) << eighty["alerts"][0]["text"].string;
    EXPECT_EQ(listed(alertsJson("2026-11-14 13:00")), std::vector<std::string>{});
    EXPECT_EQ(listed(alertsJson("2026-11-14 15:00")),
              (std::vector<std::string>{"budget department:内科 3 26.700", "budget person:王芳 1 12.000"}));
    EXPECT_EQ(listed(alertsJson("2026-11-30 23:00")), std::vector<std::string>{});
    // A new month starts again.
    insert({{switchA, "301", "", "8001", "13912345678", "国内长途", "2026-12-01T09:00:00", 6000}});
    EXPECT_EQ(listed(alertsJson("2026-12-01 10:00")),
              std::vector<std::string>{"budget department:内科 1 50.000"});
}

TEST_F(Alerts, BadArgumentsAndRulesExitWith2) {
    writeFile(folder / "alerts.csv", "rule,match,band,limit,notify\nlong,*,,3600s,log\n");
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"--at", "2026-11-31 10:00"}, {"--at", "yesterday"}, {"--format", "csv"},
          {"--rules", folder / "missing.csv"}, {"--bogus"}}) {
        const Answer answer = alerts(arguments);
        EXPECT_EQ(answer.status, 2) << arguments.front();
        EXPECT_FALSE(answer.error.empty());
        EXPECT_EQ(answer.out, "");
    }
    writeFile(folder / "bad.csv", "rule,match,band,limit,notify\nlong,*,,3600s,log\nlong,*,,soon,log\n");
    const Answer answer = alerts({"--rules", folder / "bad.csv", "--at", "2026-11-14 12:00"});
    EXPECT_EQ(answer.status, 2);
    EXPECT_NE(answer.error.find("line 3"), std::string::npos) << answer.error;
}

}  // namespace
