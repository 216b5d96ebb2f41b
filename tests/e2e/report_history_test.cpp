// quelvar-report over what the real collector filed: summaries and bills
// by trunk and by route, the daily figures the index keeps beside the
// calls, and bills from costs kept by `index --tariffs`, kept for other
// tariffs, and kept again.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "e2e/harness.h"
#include "e2e/switch_client.h"
#include "support/json_reader.h"
#include "support/temp_folder.h"
#include "support/time_zone.h"

#ifdef QUELVAR_REPORT
#include "e2e/index_rows.h"
#endif

namespace {

#ifdef QUELVAR_REPORT

using quelvar::test::Json;


std::string record(const std::string& id, const std::string& caller, const std::string& callee,
                   const std::string& type, const std::string& route, const std::string& start,
                   const std::string& seconds, const std::string& trunk) {
    return "RECORD:ID=" + id + "&RID=" + id + "-1&ACCOUNT=" + (type == "IN" ? std::string() : caller) +
           "&CPN=" + caller + "&CDPN=" + callee + "&TYPE=" + type + "&ROUTE=" + route +
           "&MAC=00:1A:2B:3C:4D:5E&TIME-S=" + start + "&DURATION=" + seconds + "&TRUNKN=" + trunk + "&";
}

// Every category at one price a started minute.
std::string flatTariffs(const std::string& price) {
    std::string text = "valid_from,match,band,first_seconds,first_price,unit_seconds,unit_price\n";
    for (const char* category : {"内线", "市话", "国内长途", "国际长途", "特服电话"})
        text += std::string("2024-01-01,") + category + ",,0,,60," + price + "\n";
    return text;
}

TEST(ReportHistory, TrunksRoutesAndKeptCostsThroughTheRealCollector) {
    if (underWine()) GTEST_SKIP() << "quelvar-report is a Linux tool";
    const ScopedTimeZone zone{"CST-8"};
    ProgramFolder folder;
    folder.start();
    {
        SwitchClient sw;
        // 75 s (2 minutes), 130 s (3) and 60 s (1) paid for; 300 s incoming.
        sw.send(gbk(record("77", "8001", "13912345678", "OU", "IP", "240315093000", "75", "3")));
        ASSERT_TRUE(sw.receive());
        sw.send(gbk(record("78", "8002", "13912345678", "OU", "XO", "240315100000", "130", "7")));
        ASSERT_TRUE(sw.receive());
        sw.send(gbk(record("79", "8001", "13912345678", "OU", "IP", "240316080000", "60", "7")));
        ASSERT_TRUE(sw.receive());
        sw.send(gbk(record("80", "02112345678", "8001", "IN", "XO", "240316090000", "300", "3")));
        ASSERT_TRUE(sw.receive());
        waitUntilHandled(folder, sw);
    }
    TempFolder outside;
    const std::string database = outside / "index.db";
    const std::string cheap = outside / "cheap.csv", dear = outside / "dear.csv";
    std::ofstream(cheap, std::ios::binary) << flatTariffs("0.1");
    std::ofstream(dear, std::ios::binary) << flatTariffs("0.2");
    const std::string nobody = outside / "directory.csv";
    std::ofstream(nobody, std::ios::binary) << "switch,number,name,department,valid_from\n";
    const std::string report = std::string(QUELVAR_REPORT);
    const auto run = [&](const std::string& arguments) {
        const CommandOutcome outcome =
            runCommand(report + " " + arguments + " --db '" + database + "'", std::chrono::seconds(30));
        EXPECT_EQ(outcome.status, 0) << arguments << "\n" << outcome.output;
        return outcome.output;
    };
    const auto json = [&](const std::string& arguments) {
        const auto value = quelvar::test::JsonReader::read(run(arguments + " --format json --directory '" + nobody + "'"));
        EXPECT_TRUE(value.has_value()) << arguments;
        return value.value_or(Json{});
    };
    const auto groups = [](const Json& answer, const std::string& field) {
        std::vector<std::string> found;
        for (const Json& group : answer["groups"].items)
            found.push_back(group["group"].string + " " +
                            (field == "cost" ? group["cost"].string : std::to_string(group[field].integer())));
        return found;
    };
    const std::string period = " --from 2024-03-01 --to 2024-03-31";
    run("index --root '" + folder.path().string() + "' --tariffs '" + cheap + "'");

    // The figures are what the calls give.
    EXPECT_EQ(indexRows(database, "SELECT day, trunk, route, sum(calls), sum(seconds) FROM day_lines GROUP BY 1, 2, 3"),
              indexRows(database, "SELECT substr(start, 1, 10), trunk, route, count(*), sum(seconds) FROM calls"
                              " GROUP BY 1, 2, 3"));
    EXPECT_EQ(groups(json("summary --by trunk" + period), "seconds"), (std::vector<std::string>{"3 375", "7 190"}));
    EXPECT_EQ(groups(json("summary --by route" + period), "seconds"), (std::vector<std::string>{"IP 135", "XO 430"}));
    EXPECT_EQ(groups(json("summary --by trunk --ext 8001" + period), "seconds"),
              (std::vector<std::string>{"3 75", "7 60"}));

    // Bills by trunk and route rate every call; by switch they sum the costs kept.
    const std::string cheapBill = " --tariffs '" + cheap + "'" + period;
    EXPECT_EQ(groups(json("bill --by trunk" + cheapBill), "cost"), (std::vector<std::string>{"7 0.400", "3 0.200"}));
    EXPECT_EQ(groups(json("bill --by route" + cheapBill), "cost"), (std::vector<std::string>{"IP 0.300", "XO 0.300"}));
    Json bill = json("bill --by switch" + cheapBill);
    EXPECT_EQ(groups(bill, "cost"), (std::vector<std::string>{"00-1A-2B-3C-4D-5E 0.600"}));
    EXPECT_EQ(bill["incoming_calls"].integer(), 1);
    EXPECT_EQ(indexRows(database, "SELECT count(*), sum(calls), sum(cost) FROM day_costs WHERE incoming = 0"),
              std::vector<std::string>{"3|3|600"});

    // Other tariffs: the costs kept are not theirs, the calls are rated again.
    const std::string dearBill = " --tariffs '" + dear + "'" + period;
    EXPECT_EQ(groups(json("bill --by switch" + dearBill), "cost"), (std::vector<std::string>{"00-1A-2B-3C-4D-5E 1.200"}));
    run("index --root '" + folder.path().string() + "' --tariffs '" + dear + "'");
    EXPECT_EQ(indexRows(database, "SELECT count(DISTINCT digest), sum(cost) FROM day_costs WHERE incoming = 0"),
              std::vector<std::string>{"1|1200"});
    bill = json("bill --by switch" + dearBill);
    EXPECT_EQ(groups(bill, "cost"), (std::vector<std::string>{"00-1A-2B-3C-4D-5E 1.200"}));
    EXPECT_EQ(bill["incoming_calls"].integer(), 1);
    EXPECT_EQ(groups(json("bill --by ext" + dearBill), "cost"),
              (std::vector<std::string>{"8001 0.600", "8002 0.600"}));

    // Tariffs named that cannot be read stop the index with the file's name.
    const CommandOutcome wrong = runCommand(report + " index --root '" + folder.path().string() + "' --db '" +
                                                database + "' --tariffs '" + (outside / "none.csv") + "'",
                                            std::chrono::seconds(30));
    EXPECT_EQ(wrong.status, 2);
    EXPECT_NE(wrong.output.find("none.csv"), std::string::npos) << wrong.output;
}

#else

TEST(ReportHistory, TrunksRoutesAndKeptCostsThroughTheRealCollector) {
    GTEST_SKIP() << "quelvar-report is not built (it needs SQLite)";
}

#endif

}  // namespace
