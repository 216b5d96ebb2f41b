// quelvar-report index over what the real collector filed: calls of both
// modes, a call of two legs, a record of the err tree and a workbook row,
// each found once in the index with the seconds the switch sent.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "e2e/harness.h"
#include "e2e/switch_client.h"
#include "support/temp_folder.h"
#include "support/time_zone.h"
#include "support/today.h"

#ifdef QUELVAR_REPORT
#include "e2e/index_rows.h"
#endif

namespace {

#ifdef QUELVAR_REPORT

std::string record(const std::string& id, const std::string& rid, const std::string& mac, const std::string& start,
                   const std::string& seconds, const std::string& cdpn = "13912345678") {
    return "RECORD:ID=" + id + "&RID=" + rid + "&ACCOUNT=8001&CPN=8001&CDPN=" + cdpn +
           "&TYPE=OU&ROUTE=IP&MAC=" + mac + "&TIME-S=" + start + "&DURATION=" + seconds + "&TRUNKN=3&";
}

TEST(ReportIndex, EveryCallBothModesFiledIsOneRowAndASecondRunReadsOnlyWhatChanged) {
    if (underWine()) GTEST_SKIP() << "quelvar-report is a Linux tool";
    const ScopedTimeZone zone{"CST-8"};
    ProgramFolder folder;
    folder.start();
    {
        SwitchClient sw;
        // A call of two legs in one datagram: 75 and 20 seconds.
        sw.send(gbk(record("41", "77-1", "00:1A:2B:3C:4D:5E", "240315093000", "75") + "\n" +
                    record("42", "77-2", "00:1A:2B:3C:4D:5E", "240315093115", "20")));
        ASSERT_TRUE(sw.receive());
        sw.send(gbk(record("43", "78-1", "00:1A:2B:3C:4D:5F", "240315100000", "30")));
        ASSERT_TRUE(sw.receive());
        // No CDPN: the err tree.
        sw.send(gbk("RECORD:ID=44&RID=79-1&ACCOUNT=8002&CPN=8002&TYPE=OU&ROUTE=IP&MAC=00:1A:2B:3C:4D:5E"
                    "&TIME-S=240315110000&DURATION=5&TRUNKN=3&"));
        ASSERT_TRUE(sw.receive());
        // No MAC: a row of the month's workbook.
        sw.send(gbk("RECORD:ID=45&RID=80-1&ACCOUNT=8003&TYPE=OU&CPN=8003&CDPN=95588&ROUTE=IP&TIME=" + todayAs("%m") +
                    "-01 10:20:30&DURATION=65&"));
        waitUntilHandled(folder, sw);
    }
    folder.stop();
    // The plain mode files into the same program folder.
    folder.write("Quelvar.ini", "ENCRYPT=0\r\n");
    folder.start();
    SwitchClient plain;
    plain.sendRaw(record("46", "90-1", "00:1A:2B:3C:4D:60", "240316120000", "40"));
    ASSERT_TRUE(plain.receiveRaw());

    TempFolder outside;
    const std::string database = outside / "index.db";
    const std::string command = std::string(QUELVAR_REPORT) + " index --root '" + folder.path().string() +
                                "' --db '" + database + "'";
    CommandOutcome run = runCommand(command, std::chrono::seconds(30));
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("5 calls added, 0 lines that could not be read"), std::string::npos) << run.output;

    const std::string year = todayAs("%Y"), month = todayAs("%m");
    EXPECT_EQ(indexRows(database, "SELECT switch, call_key, legs, seconds, start, flags FROM calls ORDER BY switch, start"),
              (std::vector<std::string>{
                  "||1|65|" + year + "-" + month + "-01T10:20:30|0",
                  "00-1A-2B-3C-4D-5E|77|2|95|2024-03-15T09:30:00|0",
                  "00-1A-2B-3C-4D-5E|79|1|5|2024-03-15T11:00:00|1",
                  "00-1A-2B-3C-4D-5F|78|1|30|2024-03-15T10:00:00|0",
                  "00-1A-2B-3C-4D-60|90|1|40|2024-03-16T12:00:00|0",
              }));
    EXPECT_EQ(indexRows(database, "SELECT count(*), sum(seconds) FROM calls"),
              std::vector<std::string>{"5|" + std::to_string(75 + 20 + 30 + 5 + 65 + 40)});
    EXPECT_EQ(indexRows(database, "SELECT legs.seconds FROM legs JOIN calls ON calls.id = legs.call"
                              " WHERE calls.call_key = '77' ORDER BY legs.leg"),
              (std::vector<std::string>{"75", "20"}));

    // One more plain call: only its switch's three files are read again.
    plain.sendRaw(record("47", "91-1", "00:1A:2B:3C:4D:60", "240316130000", "12"));
    ASSERT_TRUE(plain.receiveRaw());
    run = runCommand(command, std::chrono::seconds(30));
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find(", 3 read, 1 calls added, 0 lines"), std::string::npos) << run.output;
    EXPECT_EQ(indexRows(database, "SELECT count(*), sum(seconds) FROM calls"),
              std::vector<std::string>{"6|" + std::to_string(75 + 20 + 30 + 5 + 65 + 40 + 12)});

    // A root that is not there is named, with exit status 2.
    run = runCommand(std::string(QUELVAR_REPORT) + " index --root '" + (outside / "nowhere") + "' --db '" + database +
                         "'",
                     std::chrono::seconds(30));
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.output.find(outside / "nowhere"), std::string::npos) << run.output;
}

#else

TEST(ReportIndex, EveryCallBothModesFiledIsOneRowAndASecondRunReadsOnlyWhatChanged) {
    GTEST_SKIP() << "quelvar-report is not built (it needs SQLite)";
}

#endif

}  // namespace
