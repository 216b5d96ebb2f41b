// quelvar-report on what the real collector filed: calls of several legs, an
// err record, a workbook row and a damaged line, sent in both modes; its
// answers compared with totals worked out here from what was sent.
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <map>

#include "e2e/harness.h"
#include "e2e/report_runner.h"
#include "e2e/switch_client.h"
#include "support/json_reader.h"
#include "support/time_zone.h"
#include "support/today.h"

namespace {

namespace fs = std::filesystem;
using quelvar::test::Json;

const std::string macA = "00:1A:2B:3C:4D:5E";
const std::string folderA = "00-1A-2B-3C-4D-5E";
const std::string macB = "00:1A:2B:3C:4D:5F";
const std::string folderB = "00-1A-2B-3C-4D-5F";

// One leg as sent, and what the report must make of the calls.
struct Leg {
    std::string callKey;
    int leg;
    std::string mac;  // empty: a record without a switch address
    std::string caller, callee;
    int hour, minute, second, duration;
};

struct Expected {
    long long calls = 0;
    long long seconds = 0;
};

class Report : public testing::Test {
protected:
    void SetUp() override {
#ifndef QUELVAR_REPORT
        GTEST_SKIP() << "quelvar-report is not built (it needs SQLite)";
#else
        if (underWine()) GTEST_SKIP() << "quelvar-report is a Linux program";
        // Beside the collector, as installed: its default index and roots.
        fs::copy_file(QUELVAR_REPORT, folder / "quelvar-report");
#endif
    }

    // Today's start as 12 digits.
    static std::string timeS(int hour, int minute, int second) {
        return todayAs("%y%m%d") + two(hour) + two(minute) + two(second);
    }
    static std::string two(int value) { return (value < 10 ? "0" : "") + std::to_string(value); }

    std::string record(const Leg& leg, bool withRoute = true) {
        return "RECORD:ID=" + std::to_string(++id_) + "&RID=" + leg.callKey + "-" + std::to_string(leg.leg) +
               "&ACCOUNT=" + leg.caller + "&CPN=" + leg.caller + "&CDPN=" + leg.callee + "&TYPE=OU" +
               (withRoute ? "&ROUTE=IP" : "") + "&MAC=" + leg.mac + "&TIME-S=" +
               timeS(leg.hour, leg.minute, leg.second) + "&DURATION=" + std::to_string(leg.duration) + "&TRUNKN=3&";
    }

    // What the report must say, from the legs sent: one call per key and
    // switch, its seconds the sum of its legs'.
    void expect(const std::vector<Leg>& legs) {
        for (const Leg& leg : legs) {
            const std::string key = leg.mac + "/" + leg.callKey;
            const bool first = legsOf_[key]++ == 0;
            const std::string switchFolder = folderOf(leg.mac);
            for (auto* group : {&bySwitch[switchFolder], &byExt[leg.caller], &byCallee[leg.callee], &total}) {
                group->seconds += leg.duration;
                if (first) ++group->calls;
            }
        }
    }
    static std::string folderOf(std::string mac) {
        for (char& c : mac)
            if (c == ':') c = '-';
        return mac;
    }

    CommandOutcome report(const std::string& arguments) { return runReport(folder.path(), arguments); }
    Json json(const std::string& arguments) { return reportJson(folder.path(), arguments); }
    void index() {
        const CommandOutcome outcome = report("index");
        ASSERT_EQ(outcome.status, 0) << outcome.output;
    }

    // The summary of today by switch, by extension and the top destinations
    // against what was sent.
    void expectSummary() {
        const std::string today = todayAs("%Y-%m-%d");
        for (const auto& [by, groups] : std::vector<std::pair<std::string, const std::map<std::string, Expected>*>>{
                 {"switch", &bySwitch}, {"ext", &byExt}, {"destination", &byCallee}}) {
            const Json answer = json("summary --from " + today + " --to " + today + " --by " + by);
            std::map<std::string, std::pair<long long, long long>> found;
            for (const Json& group : answer["groups"].items)
                found[group["group"].string] = {group["calls"].integer(), group["seconds"].integer()};
            std::map<std::string, std::pair<long long, long long>> sent;
            for (const auto& [name, counts] : *groups) sent[name] = {counts.calls, counts.seconds};
            EXPECT_EQ(found, sent) << "--by " << by;
            EXPECT_EQ(answer["total"]["calls"].integer(), total.calls) << "--by " << by;
            EXPECT_EQ(answer["total"]["seconds"].integer(), total.seconds) << "--by " << by;
        }
        // The numbers called most: by calls, then seconds.
        std::vector<std::tuple<long long, long long, std::string>> ranked;
        for (const auto& [number, counts] : byCallee) ranked.emplace_back(-counts.calls, -counts.seconds, number);
        std::sort(ranked.begin(), ranked.end());
        const Json answer = json("summary --from " + today + " --to " + today);
        ASSERT_EQ(answer["top_destinations"].size(), ranked.size());
        for (std::size_t i = 0; i < ranked.size(); ++i) {
            EXPECT_EQ(answer["top_destinations"][i]["number"].string, std::get<2>(ranked[i])) << i;
            EXPECT_EQ(answer["top_destinations"][i]["calls"].integer(), -std::get<0>(ranked[i])) << i;
            EXPECT_EQ(answer["top_destinations"][i]["seconds"].integer(), -std::get<1>(ranked[i])) << i;
        }
    }

    // Today's counts of a switch in status.
    Json todayOf(const Json& status, const std::string& switchFolder) {
        for (const Json& entry : status["switches"].items)
            if (entry["switch"].string == switchFolder)
                for (const Json& day : entry["days"].items)
                    if (day["date"].string == todayAs("%Y-%m-%d")) return day;
        ADD_FAILURE() << "no day of today for " << switchFolder;
        return {};
    }

    ScopedTimeZone zone{"CST-8"};
    ProgramFolder folder;
    SwitchClient sw;
    std::map<std::string, Expected> bySwitch, byExt, byCallee;
    Expected total;

private:
    int id_ = 0;
    std::map<std::string, int> legsOf_;
};

TEST_F(Report, EncryptedModeCallsErrRecordsAndTheWorkbookAddUpAsSent) {
    folder.write("Quelvar.ini", "AREACODE=0755\r\n");
    folder.start();
    const std::vector<Leg> twoLegs = {{"101", 1, macA, "8001", "075512345678", 8, 0, 0, 75},
                                      {"101", 2, macA, "8001", "075512345678", 8, 1, 15, 20}};
    const std::vector<Leg> threeLegs = {{"103", 1, macA, "8002", "0085212345678", 9, 0, 0, 10},
                                        {"103", 2, macA, "8002", "0085212345678", 9, 0, 10, 20},
                                        {"103", 3, macA, "8002", "0085212345678", 9, 0, 30, 30}};
    const std::vector<Leg> single = {{"102", 1, macA, "8001", "13912345678", 8, 30, 0, 60},
                                     {"201", 1, macB, "8101", "13912345678", 10, 0, 0, 45}};
    const Leg err{"301", 1, macA, "8003", "13800000000", 11, 0, 0, 40};
    for (const auto* call : {&twoLegs, &threeLegs}) {
        std::string datagram;
        for (const Leg& leg : *call) datagram += (datagram.empty() ? "" : "\n") + record(leg);
        sw.send(datagram);
        EXPECT_TRUE(sw.receive().has_value());
        expect(*call);
    }
    for (const Leg& leg : single) {
        sw.send(record(leg));
        EXPECT_TRUE(sw.receive().has_value());
        expect({leg});
    }
    // No ROUTE: filed under err, still a call.
    sw.send(record(err, false));
    expect({err});
    // No MAC: a row of the month's workbook, in the sheet of today.
    sw.send(gbk("RECORD:ID=90&RID=401-1&ACCOUNT=6001&TYPE=OU&CPN=6001&CDPN=95588&ROUTE=IP&DURATION=125&TIME=" +
                todayAs("%m-%d") + " 10:20:30&"));
    expect({{"401", 1, "", "6001", "95588", 10, 20, 30, 125}});
    // A sender of junk: ten lines a minute in the log, the rest counted at the stop.
    const SwitchClient junk(0, "127.0.0.3");
    for (int i = 0; i < 12; ++i) junk.send("junk " + std::to_string(i));
    waitUntilHandled(folder, sw);
    folder.stop();
    ASSERT_TRUE(fs::exists(folder / ("rec/" + todayAs("%Y%m") + ".xls"))) << "no workbook";
    ASSERT_TRUE(fs::exists(folder / ("rec/err/" + folderA))) << "no err tree";

    index();
    expectSummary();

    // One extension's calls, each with its legs.
    const Json calls = json("calls --ext 8002");
    ASSERT_EQ(calls["calls"].size(), 1u);
    EXPECT_EQ(calls["calls"][0]["legs"].integer(), 3);
    EXPECT_EQ(calls["calls"][0]["seconds"].integer(), 60);
    EXPECT_EQ(calls["calls"][0]["callee"].string, "0085212345678");
    EXPECT_EQ(calls["calls"][0]["switch"].string, folderA);
    EXPECT_EQ(calls["calls"][0]["start"].string, todayAs("%Y-%m-%d") + "T09:00:00");
    const Json twoLegCall = json("calls --number 0755");
    ASSERT_EQ(twoLegCall["calls"].size(), 1u);
    EXPECT_EQ(twoLegCall["calls"][0]["legs"].integer(), 2);
    EXPECT_EQ(twoLegCall["calls"][0]["seconds"].integer(), 95) << "both legs, not the first alone";

    Json status = json("status --days 2");
    Json a = todayOf(status, folderA);
    EXPECT_EQ(a["records"].integer(), 4);
    EXPECT_EQ(a["err_records"].integer(), 1);
    EXPECT_EQ(a["unparsable"].integer(), 0);
    EXPECT_EQ(todayOf(status, folderB)["records"].integer(), 1);
    // Every unknown datagram of the junk sender, and the one of this switch's.
    std::map<std::string, long long> unknown;
    for (const Json& sender : status["log"]["senders"].items) unknown[sender["sender"].string] = sender["unknown"].integer();
    EXPECT_EQ(unknown, (std::map<std::string, long long>{{"127.0.0.1", 1}, {"127.0.0.3", 12}}));

    // A damaged line is told by status, and the totals stay as they were.
    const fs::path old = folder / ("rec/" + folderA + "/old/CDR_" + todayAs("%Y_%m_%d") + ".txt");
    ASSERT_TRUE(fs::exists(old));
    writeBytes(old, readBytes(old) + "#### not a record \xFF\xFE garbage\r\n");
    index();
    status = json("status --days 2");
    a = todayOf(status, folderA);
    EXPECT_EQ(a["unparsable"].integer(), 1);
    EXPECT_EQ(a["records"].integer(), 4);
    expectSummary();
}

TEST_F(Report, PlainModeCallsAddUpAsSentAndADamagedLineIsTold) {
    folder.write("Quelvar.ini", "ENCRYPT=0\r\nAREACODE=010\r\n");
    folder.start();
    const std::vector<Leg> calls = {{"8", 1, macA, "8002", "13912345678", 15, 0, 0, 61},
                                    {"9", 1, macB, "8101", "13912345678", 16, 0, 0, 30},
                                    {"10", 1, macB, "8102", "01012345678", 16, 30, 0, 7}};
    for (const Leg& leg : calls) {
        sw.sendRaw(record(leg));
        EXPECT_TRUE(sw.receiveRaw().has_value());
        expect({leg});
    }
    waitUntilHandled(folder, sw, true);
    folder.stop();

    index();
    expectSummary();
    const Json status = json("status --days 1");
    EXPECT_EQ(todayOf(status, folderB)["records"].integer(), 2);
    EXPECT_EQ(todayOf(status, folderB)["unparsable"].integer(), 0);

    const fs::path newText = folder / ("rec/" + folderB + "/new/CDR_" + todayAs("%Y_%m_%d") + ".txt");
    ASSERT_TRUE(fs::exists(newText));
    writeBytes(newText, readBytes(newText) + "garbage\r\n");
    index();
    const Json damaged = json("status --days 1");
    EXPECT_EQ(todayOf(damaged, folderB)["unparsable"].integer(), 1);
    EXPECT_EQ(todayOf(damaged, folderB)["records"].integer(), 2);
    expectSummary();
}

// The plain mode files each leg of a call as a line of its own in new/ as in
// old/: the call must count once, with both legs. Today the index also
// counts the second leg's line in new/ as a call of its own (125 s for 100).
TEST_F(Report, PlainModeCallOfTwoLegsCountsOnce) {
    folder.write("Quelvar.ini", "ENCRYPT=0\r\nAREACODE=010\r\n");
    folder.start();
    // Each leg is a datagram of its own; a leg sent from the same sender
    // within 10 s would be a repeat, so the second leg comes from another.
    const SwitchClient other(0, "127.0.0.2");
    const std::vector<Leg> twoLegs = {{"7", 1, macA, "8001", "01012345678", 14, 0, 0, 75},
                                      {"7", 2, macA, "8001", "01012345678", 14, 1, 15, 25}};
    sw.sendRaw(record(twoLegs[0]));
    EXPECT_TRUE(sw.receiveRaw().has_value());
    other.sendRaw(record(twoLegs[1]));
    EXPECT_TRUE(other.receiveRaw().has_value());
    expect(twoLegs);
    waitUntilHandled(folder, sw, true);
    folder.stop();

    index();
    expectSummary();
    const Json calls = json("calls --ext 8001");
    ASSERT_EQ(calls["calls"].size(), 1u);
    EXPECT_EQ(calls["calls"][0]["legs"].integer(), 2);
    EXPECT_EQ(calls["calls"][0]["seconds"].integer(), 100);
}

}  // namespace
