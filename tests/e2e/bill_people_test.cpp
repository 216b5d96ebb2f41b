// Bills of calls filed by the real collector, by the real quelvar-report:
// forwarded calls billed by their own number (the file carries the call
// before's teletype), namesakes kept apart, a person who moved with a row
// per department, unlisted extensions as one group 未登记, last, and an
// incoming call put down to the called extension.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "e2e/harness.h"
#include "e2e/report_runner.h"
#include "e2e/switch_client.h"
#include "support/json_reader.h"
#include "support/time_zone.h"

namespace {

namespace fs = std::filesystem;
using quelvar::test::Json;

const std::string mac = "00:1A:2B:3C:4D:5E";

// By category only, so that a call's category decides what it costs.
const std::string tariffText =
    "valid_from,match,band,first_seconds,first_price,unit_seconds,unit_price\n"
    "2026-11-01,内线,,0,,60,0\n"
    "2026-11-01,市话,,180,0.22,60,0.11\n"
    "2026-11-01,国内长途,,0,,6,0.07\n"
    "2026-11-01,国际长途,,6,0.8,6,0.8\n"
    "2026-11-01,特服电话,,0,,60,0\n";

// Two 张伟 (内科 8101, 外科 8201); 李娜 moves from 内科 to 外科 on the 16th;
// 8601, 8602 and 8603 are nobody's.
const std::string directoryText =
    "switch,number,name,department,valid_from,id\n"
    "*,8101,张伟,内科,,E101\n"
    "*,8201,张伟,外科,,E201\n"
    "*,8301,李娜,内科,,E301\n"
    "*,8301,李娜,外科,2026-11-16,E301\n"
    "*,8102,王芳,内科,,\n";

struct Sent {
    std::string rid, type, caller, callee, timeS;
    int seconds;
};

// In the order the switch sends them: the collector files a forwarded call
// with the teletype of the record before it.
const std::vector<Sent> sent = {
    {"11", "OU", "8101", "0014155550100", "261103090000", 60},  // 国际长途: 8.000
    {"12", "FW", "8101", "13912345678", "261103090500", 120},   // filed 国际长途, is 市话: 0.220
    {"13", "OU", "8201", "075512345678", "261104100000", 200},  // 市话: 0.330
    {"14", "FW", "8201", "0085212345678", "261104101000", 12},  // filed 市话, is 国际长途: 1.600
    {"15", "OU", "8301", "01088888888", "261110110000", 60},    // 李娜 in 内科: 0.700
    {"16", "OU", "8301", "13912345678", "261120110000", 100},   // 李娜 in 外科: 0.220
    {"17", "OU", "8102", "13912345678", "261105110000", 30},    // 0.220
    {"18", "OU", "8601", "13912345678", "261106110000", 240},   // unlisted: 0.330
    {"19", "OU", "8602", "0014155550100", "261107020000", 60},  // unlisted: 8.000
    {"20", "IN", "13800000000", "8603", "261108090000", 60},    // incoming to an unlisted extension
    {"21", "IN", "13700000000", "8101", "261108100000", 30},    // incoming to 8101
};

class BillPeople : public testing::Test {
protected:
    void SetUp() override {
#ifndef QUELVAR_REPORT
        GTEST_SKIP() << "quelvar-report is not built (it needs SQLite)";
#else
        if (underWine()) GTEST_SKIP() << "quelvar-report is a Linux program";
        fs::copy_file(QUELVAR_REPORT, folder / "quelvar-report");
        folder.write("Quelvar.ini", "AREACODE=0755\r\n");
        folder.start();
        int id = 0;
        for (const Sent& call : sent) {
            sw.send("RECORD:ID=" + std::to_string(++id) + "&RID=" + call.rid + "-1&CPN=" + call.caller +
                    "&CDPN=" + call.callee + "&TYPE=" + call.type + "&ROUTE=IP&MAC=" + mac +
                    "&TIME-S=" + call.timeS + "&DURATION=" + std::to_string(call.seconds) + "&TRUNKN=3&");
            // One at a time, so that the collector files them in this order.
            ASSERT_TRUE(sw.receive().has_value()) << "no answer to " << call.rid;
        }
        waitUntilHandled(folder, sw);
        folder.stop();
        folder.write("tariffs.csv", tariffText);
        folder.write("directory.csv", directoryText);
        const CommandOutcome indexed = report("index");
        ASSERT_EQ(indexed.status, 0) << indexed.output;
#endif
    }
    CommandOutcome report(const std::string& arguments) { return runReport(folder.path(), arguments); }
    Json json(const std::string& arguments) { return reportJson(folder.path(), arguments); }

    // group (and department, by person) -> cost
    std::map<std::string, std::string> costs(const Json& bill) {
        std::map<std::string, std::string> found;
        for (const Json& group : bill["groups"].items)
            found[group["group"].string + (bill["by"].string == "person" ? " " + group["department"].string : "")] =
                group["cost"].string;
        return found;
    }

    ScopedTimeZone zone{"CST-8"};
    ProgramFolder folder;
    SwitchClient sw;
};

TEST_F(BillPeople, AForwardedCallIsBilledByItsOwnNumberNotByTheCallBefore) {
    // The collector filed them with the call before's teletype, and still does.
    const Json calls = json("calls --from 2026-11-01 --to 2026-11-30");
    std::map<std::string, std::string> filed;
    for (const Json& call : calls["calls"].items) filed[call["id"].string] = call["category"].string;
    ASSERT_EQ(filed["12-1"], "国际长途");
    ASSERT_EQ(filed["14-1"], "市话");

    const Json bill = json("bill --month 2026-11 --by ext");
    const std::map<std::string, std::string> expected = {
        {"8101", "8.220"}, {"8201", "1.930"}, {"8301", "0.920"}, {"8102", "0.220"}, {"8601", "0.330"}, {"8602", "8.000"}};
    EXPECT_EQ(costs(bill), expected);
    EXPECT_EQ(bill["total"]["cost"].string, "19.620");
    for (const Json& group : bill["groups"].items) {
        if (group["group"].string == "8101") {
            EXPECT_EQ(group["by_category"]["市话"]["calls"].integer(), 1);
            EXPECT_EQ(group["by_category"]["国际长途"]["calls"].integer(), 1);
        }
        if (group["group"].string == "8201") {
            EXPECT_EQ(group["by_category"]["国际长途"]["cost"].string, "1.600");
            EXPECT_EQ(group["by_category"]["市话"]["cost"].string, "0.330");
        }
    }

    // The summary by category counts them by their numbers too.
    const Json summary = json("summary --from 2026-11-01 --to 2026-11-30 --by category");
    std::map<std::string, long long> byCategory;
    for (const Json& group : summary["groups"].items) byCategory[group["group"].string] = group["calls"].integer();
    EXPECT_EQ(byCategory["国际长途"], 3);
    EXPECT_EQ(byCategory["国内长途"], 1);
    // 市话: 12, 13, 16, 17, 18, and the two incoming calls from mobiles.
    EXPECT_EQ(byCategory["市话"], 7);
    // Filtered by category: the billed one.
    EXPECT_EQ(json("bill --month 2026-11 --category 国际长途")["total"]["cost"].string, "17.600");

    // explain says where the category came from and what was filed.
    const CommandOutcome explained = report("explain 12");
    ASSERT_EQ(explained.status, 0) << explained.output;
    EXPECT_NE(explained.output.find("13912345678, 市话 (filed as 国际长途)"), std::string::npos) << explained.output;
    EXPECT_NE(explained.output.find("TYPE FW: the file carries the previous call's 国际长途; from the called number "
                                    "13912345678: 市话"),
              std::string::npos)
        << explained.output;
    EXPECT_NE(explained.output.find("Cost 0.220 yuan"), std::string::npos) << explained.output;
    const Json why = json("explain 14");
    EXPECT_EQ(why["calls"][0]["category"].string, "国际长途");
    EXPECT_EQ(why["calls"][0]["filed_category"].string, "市话");
    EXPECT_TRUE(why["calls"][0]["category_from_number"].boolean);
    EXPECT_EQ(why["calls"][0]["cost"].string, "1.600");
    // A call the collector's rules classify: as filed, nothing to explain.
    const Json plain = json("explain 11");
    EXPECT_FALSE(plain["calls"][0]["category_from_number"].boolean);
}

TEST_F(BillPeople, NamesakesStayTwoAndAMoveGivesARowPerDepartment) {
    const Json people = json("bill --month 2026-11 --by person");
    const std::map<std::string, std::string> expected = {
        {"张伟 (8101) 内科", "8.220"}, {"张伟 (8201) 外科", "1.930"}, {"李娜 内科", "0.700"}, {"李娜 外科", "0.220"},
        {"王芳 内科", "0.220"},        {"8601 未登记", "0.330"},      {"8602 未登记", "8.000"}};
    EXPECT_EQ(costs(people), expected);
    for (const Json& group : people["groups"].items)
        if (group["group"].string.starts_with("李娜")) {
            EXPECT_EQ(group["id"].string, "E301");
            EXPECT_EQ(group["extensions"].size(), 1u);
        }
    // The terminal and the CSV tell the two 张伟 apart as well.
    for (const std::string format : {"table", "csv"}) {
        const CommandOutcome shown = report("bill --month 2026-11 --by person --format " + format);
        ASSERT_EQ(shown.status, 0) << shown.output;
        EXPECT_NE(shown.output.find("张伟 (8101)"), std::string::npos) << shown.output;
        EXPECT_NE(shown.output.find("张伟 (8201)"), std::string::npos) << shown.output;
    }

    // The person bill and the department bill agree, department by department.
    const Json departments = json("bill --month 2026-11 --by department");
    std::map<std::string, long long> fromPeople, fromDepartments;
    const auto li = [](const std::string& yuan) {
        return std::stoll(yuan.substr(0, yuan.find('.'))) * 1000 + std::stoll(yuan.substr(yuan.find('.') + 1));
    };
    for (const Json& group : people["groups"].items) fromPeople[group["department"].string] += li(group["cost"].string);
    for (const Json& group : departments["groups"].items)
        fromDepartments[group["group"].string] += li(group["cost"].string);
    EXPECT_EQ(fromPeople, fromDepartments);
    EXPECT_EQ(fromDepartments["内科"], 9140);
    EXPECT_EQ(fromDepartments["外科"], 2150);
    EXPECT_EQ(people["total"]["cost"].string, departments["total"]["cost"].string);
}

TEST_F(BillPeople, UnlistedExtensionsAreOneGroupLastAndIncomingCallsTheCalledExtensions) {
    // By cost, 未登记 (8.330) would come second: it comes last.
    const Json bill = json("bill --month 2026-11 --by department");
    ASSERT_EQ(bill["groups"].size(), 3u);
    EXPECT_EQ(bill["groups"][0]["group"].string, "内科");
    EXPECT_EQ(bill["groups"][1]["group"].string, "外科");
    EXPECT_EQ(bill["groups"][2]["group"].string, "未登记");
    EXPECT_EQ(bill["groups"][2]["cost"].string, "8.330");
    ASSERT_EQ(bill["groups"][2]["extensions"].size(), 2u);
    EXPECT_EQ(bill["groups"][2]["extensions"][0].string, "8601");
    EXPECT_EQ(bill["groups"][2]["extensions"][1].string, "8602");
    // --sort changes the order of the others, never the place of 未登记.
    const Json byCalls = json("bill --month 2026-11 --by department --sort calls");
    EXPECT_EQ(byCalls["groups"][2]["group"].string, "未登记");
    const CommandOutcome table = report("bill --month 2026-11 --by department");
    ASSERT_EQ(table.status, 0) << table.output;
    EXPECT_NE(table.output.find("未登记：名录中没有的分机 8601, 8602"), std::string::npos) << table.output;
    EXPECT_LT(table.output.find("外科"), table.output.find("未登记"));
    // By person: each unlisted extension a row of its own, last.
    const Json people = json("bill --month 2026-11 --by person");
    const auto& rows = people["groups"].items;
    ASSERT_GE(rows.size(), 2u);
    EXPECT_EQ(rows[rows.size() - 2]["department"].string, "未登记");
    EXPECT_EQ(rows.back()["department"].string, "未登记");
    EXPECT_EQ(rows[rows.size() - 2]["group"].string, "8602");  // the costlier first
    // The page names the extensions of 未登记 under the departments.
    const fs::path pagePath = folder.path() / "page.html";
    ASSERT_EQ(report("bill --month 2026-11 --by department --format html --output '" + pagePath.string() + "'").status, 0);
    std::ifstream page(pagePath, std::ios::binary);
    const std::string html((std::istreambuf_iterator<char>(page)), std::istreambuf_iterator<char>());
    EXPECT_NE(html.find("id=\"unlisted-extensions\">未登记（名录中没有的分机）：8601、8602</p>"), std::string::npos);

    // Incoming calls: under the called extension, never the outside caller.
    const Json summary = json("summary --from 2026-11-01 --to 2026-11-30 --by department");
    std::map<std::string, long long> calls;
    for (const Json& group : summary["groups"].items) calls[group["group"].string] = group["calls"].integer();
    EXPECT_EQ(calls, (std::map<std::string, long long>{{"内科", 5}, {"外科", 3}, {"未登记", 3}}));
    const Json& unlisted = summary["groups"].items.back();
    EXPECT_EQ(unlisted["group"].string, "未登记");
    std::set<std::string> extensions;
    for (const Json& number : unlisted["extensions"].items) extensions.insert(number.string);
    EXPECT_EQ(extensions, (std::set<std::string>{"8601", "8602", "8603"}));
    const Json byExt = json("summary --from 2026-11-01 --to 2026-11-30 --by ext");
    std::set<std::string> groups;
    for (const Json& group : byExt["groups"].items) groups.insert(group["group"].string);
    EXPECT_TRUE(groups.contains("8603"));
    EXPECT_FALSE(groups.contains("13800000000"));
    EXPECT_FALSE(groups.contains("13700000000"));
}

}  // namespace
