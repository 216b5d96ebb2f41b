// alerts.csv: the lines it takes and those it refuses, naming the line.
#include <gtest/gtest.h>

#include "quelvar_report/alerting/rules.h"

namespace {

using quelvar::report::AlertRule;
using quelvar::report::RuleKind;

quelvar::Status parse(const std::string& line, std::vector<AlertRule>& rules) {
    std::vector<quelvar::report::CsvRow> rows;
    std::string failure;
    EXPECT_TRUE(quelvar::report::parseCsv("rule,match,band,limit,notify\n# a note\n" + line + "\n", rows, failure).ok());
    return quelvar::report::rulesFromRows("alerts.csv", rows, rules);
}

TEST(AlertRules, GoodLines) {
    struct Case {
        std::string line;
        RuleKind kind;
        long long count, window, seconds, amount;
        std::size_t channels;
    };
    const Case cases[] = {
        {"silent,*,,2h,", RuleKind::silent, 1, 0, 7200, 0, 1},
        {"silent,00:1a:2b:3c:4d:5e,,90min,log;mail:noc@example.cn", RuleKind::silent, 1, 0, 5400, 0, 2},
        {"call,国际长途;00870;00882,18:00-08:00,1,webhook:https://oapi.dingtalk.com/robot/send?access_token=x",
         RuleKind::call, 1, 0, 0, 0, 1},
        {"call,168,\"00:00-24:00@6,7\",5/10min,log", RuleKind::call, 5, 600, 0, 0, 1},
        {"unlisted,,,,", RuleKind::unlisted, 1, 0, 0, 0, 1},
        {"unlisted,*,,1/30min,log", RuleKind::unlisted, 1, 1800, 0, 0, 1},
        {"long,*,,3600s,log", RuleKind::longCall, 1, 0, 3600, 0, 1},
        {"long,特服电话,,7200,log", RuleKind::longCall, 1, 0, 7200, 0, 1},
        {"cost,*,,500/24h,log", RuleKind::cost, 1, 86400, 0, 500000, 1},
        {"budget,department:内科,,800/month,log", RuleKind::budget, 1, 0, 0, 800000, 1},
        {"budget,person:*,,99.5,log", RuleKind::budget, 1, 0, 0, 99500, 1},
    };
    for (const Case& c : cases) {
        std::vector<AlertRule> rules;
        const quelvar::Status parsed = parse(c.line, rules);
        ASSERT_TRUE(parsed.ok()) << c.line << ": " << parsed.text();
        ASSERT_EQ(rules.size(), 1u);
        const AlertRule& rule = rules.front();
        EXPECT_EQ(rule.line, 3) << c.line;
        EXPECT_EQ(rule.kind, c.kind) << c.line;
        EXPECT_EQ(rule.count, c.count) << c.line;
        EXPECT_EQ(rule.window, c.window) << c.line;
        EXPECT_EQ(rule.seconds, c.seconds) << c.line;
        EXPECT_EQ(rule.amount, c.amount) << c.line;
        EXPECT_EQ(rule.notify.size(), c.channels) << c.line;
    }
    std::vector<AlertRule> rules;
    ASSERT_TRUE(parse("silent,00:1a:2b:3c:4d:5e,,2h,", rules).ok());
    EXPECT_EQ(rules.front().switchFolder, "00-1A-2B-3C-4D-5E");
    EXPECT_EQ(rules.front().notify, std::vector<std::string>{"log"});
}

TEST(AlertRules, BadLinesNameTheLine) {
    const char* bad[] = {
        "quiet,*,,2h,log",                    // no such rule
        "silent,*,,2,log",                    // a time needs its unit
        "silent,*,18:00-08:00,2h,log",        // no band for switches
        "silent,*,,30d,log",                  // longer than a week
        "call,国外,,1,log",                   // no such category
        "call,00882,25:00-08:00,1,log",       // no such time
        "call,00882,,5,log",                  // a count needs a window
        "call,00882,,0/10min,log",            // at least one call
        "call,00882,,5/10 min,log",           // no blank in a time
        "long,*,,an hour,log",
        "cost,*,,500,log",                    // cost needs a window
        "cost,*,,500/day,log",
        "budget,内科,,800/month,log",          // department: or person:
        "budget,department:,,800/month,log",
        "budget,department:内科,,800/week,log",
        "budget,department:内科,,0/month,log",
        "long,*,,3600s,sms:13912345678",      // no such channel
        "long,*,,3600s,mail:",
    };
    for (const char* line : bad) {
        std::vector<AlertRule> rules;
        const quelvar::Status parsed = parse(line, rules);
        EXPECT_FALSE(parsed.ok()) << line;
        EXPECT_NE(parsed.text().find("line 3:"), std::string::npos) << line << ": " << parsed.text();
    }
    std::vector<quelvar::report::CsvRow> rows;
    std::string failure;
    ASSERT_TRUE(quelvar::report::parseCsv("rule,match,limit\nlong,*,3600s\n", rows, failure).ok());
    std::vector<AlertRule> rules;
    EXPECT_FALSE(quelvar::report::rulesFromRows("alerts.csv", rows, rules).ok());
}

TEST(AlertRules, BandsAndMatches) {
    std::vector<AlertRule> rules;
    ASSERT_TRUE(parse("call,国际长途;00882,\"22:00-06:00@6,7\",1,log", rules).ok());
    const AlertRule& rule = rules.front();
    // 2026-11-14 is a Saturday; a band that starts on it runs into Sunday.
    EXPECT_TRUE(rule.matches("国际长途", "0014155550100", "2026-11-14T23:00:00"));
    EXPECT_TRUE(rule.matches("特服电话", "008821234567", "2026-11-15T05:59:00"));
    EXPECT_FALSE(rule.matches("特服电话", "008821234567", "2026-11-15T06:00:00"));
    EXPECT_FALSE(rule.matches("国际长途", "0014155550100", "2026-11-13T23:00:00"));  // a Friday
    EXPECT_FALSE(rule.matches("国内长途", "01012345678", "2026-11-14T23:00:00"));
    EXPECT_FALSE(rule.matches("国际长途", "0014155550100", ""));
}

}  // namespace
