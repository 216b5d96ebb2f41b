// Names and files that stand in the collector's way: a switch named like a
// file of the collector's own, configuration files that are pipes, devices
// or far too large, and record files that are links to elsewhere.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "e2e/harness.h"
#include "e2e/record_files.h"
#include "e2e/switch_client.h"
#include "e2e/workbook_reading.h"
#include "support/time_zone.h"
#include "support/today.h"

namespace {

namespace fs = std::filesystem;

const std::string macText = "00:1A:2B:3C:4D:5E";
const std::string macFolder = "00-1A-2B-3C-4D-5E";
const std::string workbookHeader = "帐号|类型|主叫|被叫|时间|时长|线路\n";

// A record of a switch, dialling `cdpn` out.
std::string recordOf(const std::string& mac, int id, const std::string& cdpn = "66001234") {
    return "RECORD:ID=" + std::to_string(id) + "&RID=" + std::to_string(id) + "-1&CPN=8001&CDPN=" + cdpn +
           "&TYPE=OU&ROUTE=IP&MAC=" + mac + "&TIME-S=240315093000&DURATION=1&";
}

// The line the record above leaves in its switch's old file.
std::string lineOf(int id, const std::string& cdpn, const std::string& teletype) {
    return oldLine({std::to_string(id) + "-1", "", "8001", "", cdpn, teletype, "OU", "IP", "240315093000",
                    "240315093001", "1", ""});
}

class HostileFiles : public testing::Test {
protected:
    // Sends a datagram, waits until the collector has handled it whole and
    // gives its answer, or empty text when none came.
    std::string exchange(const std::string& text, std::chrono::milliseconds limit = std::chrono::milliseconds(2000)) {
        sw.send(text);
        const std::string answer = sw.receive(limit).value_or("");
        waitUntilHandled(folder, sw);
        return answer;
    }
    // A record without a MAC for this month's workbook, on the first day.
    void sendForTheWorkbook(int id, const std::string& account) {
        sw.send(gbk("RECORD:ID=" + std::to_string(id) + "&RID=" + std::to_string(id) + "-1&ACCOUNT=" + account +
                    "&TYPE=OU&CPN=8001&CDPN=95588&ROUTE=IP&DURATION=75&TIME=" + todayAs("%m") + "-01 10:20:30&"));
        waitUntilHandled(folder, sw);
    }
    std::string file(const std::string& relative) const { return readExisting(folder / ("rec/" + relative)); }

    ScopedTimeZone zone{"CST-8"};
    ProgramFolder folder;
    SwitchClient sw;
};

TEST_F(HostileFiles, ASwitchNamedLikeTheWorkbookOrWhatLiesBesideItLeavesThemTheirPlace) {
    folder.start();
    const std::string workbook = todayAs("%Y%m") + ".xls";
    // Each switch keeps its records, under its name with a '-' after it.
    const std::string macs[] = {workbook, workbook + ".queue", "err", "." + workbook + ".1.new"};
    int id = 0;
    for (const std::string& mac : macs) {
        ++id;
        EXPECT_EQ(exchange(recordOf(mac, id)), "RECORD:ID=" + std::to_string(id)) << mac;
        EXPECT_EQ(file(mac + "-/old/CDR_2024_03_15.txt"), oldHeader(mac + "-") + lineOf(id, "66001234", "市话")) << mac;
    }
    // A real MAC keeps its spelling.
    EXPECT_EQ(exchange(recordOf(macText, 5)), "RECORD:ID=5");
    EXPECT_EQ(file(macFolder + "/old/CDR_2024_03_15.txt"), oldHeader(macFolder) + lineOf(5, "66001234", "市话"));
    // The err tree is still the incomplete records' own.
    EXPECT_EQ(exchange("RECORD:ID=6&RID=6-1&CPN=8001&CDPN=8002&TYPE=OU&MAC=" + macText +
                       "&TIME-S=240315093000&DURATION=1&"),
              "RECORD:ID=6");
    EXPECT_TRUE(fs::is_regular_file(folder / ("rec/err/" + macFolder + "/old/CDR_2024_03_15.txt")));

    sendForTheWorkbook(7, "8001");
    EXPECT_EQ(folder.todaysLogTexts().find("ERROR"), std::string::npos) << folder.todaysLogTexts();
    EXPECT_EQ(readWithXlrd(folder / ("rec/" + workbook)),
              "sheet 01\n" + workbookHeader + "8001|OU|8001|95588|10:20:30|00:01:15|IP\n");
}

TEST_F(HostileFiles, AHeldWorkbooksRowsWaitInItsQueueWhereASwitchNamedLikeItWouldStand) {
    if (underWine()) GTEST_SKIP() << "Windows tells a held workbook by its sharing, not by an office suite's lock file";
    folder.start();
    const std::string workbook = todayAs("%Y%m") + ".xls";
    EXPECT_EQ(exchange(recordOf(workbook + ".queue", 1)), "RECORD:ID=1");
    sendForTheWorkbook(7, "8001");
    const fs::path lock = folder / ("rec/.~lock." + workbook + "#");
    writeBytes(lock, "");
    sendForTheWorkbook(8, "8002");
    EXPECT_TRUE(fs::is_regular_file(folder / ("rec/" + workbook + ".queue")));
    fs::remove(lock);
    sendForTheWorkbook(9, "8003");
    EXPECT_EQ(readWithXlrd(folder / ("rec/" + workbook)), "sheet 01\n" + workbookHeader +
                                                              "8001|OU|8001|95588|10:20:30|00:01:15|IP\n"
                                                              "8002|OU|8001|95588|10:20:30|00:01:15|IP\n"
                                                              "8003|OU|8001|95588|10:20:30|00:01:15|IP\n");
    EXPECT_FALSE(fs::exists(folder / ("rec/" + workbook + ".queue")));
    EXPECT_EQ(folder.todaysLogTexts().find("ERROR"), std::string::npos) << folder.todaysLogTexts();
}

TEST_F(HostileFiles, ThePlainModeKeepsTheSameNamesFree) {
    folder.write("Quelvar.ini", "ENCRYPT=0\r\n");
    folder.start();
    const std::string workbook = todayAs("%Y%m") + ".xls";
    // The plain mode's MAC runs on across fields for 17 characters: it comes last.
    const std::string record = "RECORD:RID=7-2&CPN=8001&CDPN=8002&TYPE=OU&ROUTE=IP&TIME-S=231208093015&DURATION=75&MAC=" +
                               workbook;
    sw.sendRaw(record);
    EXPECT_EQ(sw.receiveRaw().value_or(""), std::string("RECORD:RID=7-2\0", 15));
    waitUntilHandled(folder, sw, true);
    EXPECT_TRUE(fs::is_regular_file(folder / ("rec/" + workbook + "-/old/CDR_2023_12_08.txt")));
    EXPECT_FALSE(fs::exists(folder / ("rec/" + workbook)));
}

// What a configuration file that is no regular file gives, at start and
// for every record after.
TEST_F(HostileFiles, ConfigurationFilesThatAreNoRegularFilesAreWarnedOfAndNeverWaitedFor) {
    const struct {
        std::string file;
        bool pipe;
        std::string warning;
    } cases[] = {
        {"Quelvar.ini", true,
         "WARNING   Quelvar.ini: the file cannot be read (Not a regular file): the defaults are taken\r\n"},
        {"tele.ini", true, gbk("WARNING   Quelvar: 文件夹访问错误!\r\n")},
        {"tele.ini", false, gbk("WARNING   Quelvar: 文件夹访问错误!\r\n")},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(each.file + (each.pipe ? " as a pipe" : " as a link to /dev/zero"));
        ProgramFolder hostile;
        if (each.pipe) ASSERT_EQ(mkfifo((hostile / each.file).c_str(), 0600), 0);
        else fs::create_symlink("/dev/zero", hostile / each.file);
        if (each.file == "Quelvar.ini") {
            const ProgramFolder::Output check = hostile.run("--check");
            EXPECT_EQ(check.status, 1);
            EXPECT_NE(check.output.find("warning: Quelvar.ini: the file cannot be read (Not a regular file)"),
                      std::string::npos)
                << check.output;
        }
        hostile.start();
        // 95588 would be a special number by the built-in list.
        sw.send(recordOf(macText, 1, "95588"));
        EXPECT_EQ(sw.receive().value_or(""), "RECORD:ID=1");
        waitUntilHandled(hostile, sw);
        EXPECT_EQ(readExisting(hostile / ("rec/" + macFolder + "/old/CDR_2024_03_15.txt")),
                  oldHeader(macFolder) + lineOf(1, "95588", each.file == "tele.ini" ? "市话" : "特服电话"));
        const std::string log = hostile.todaysLogTexts();
        EXPECT_NE(log.find(each.warning), std::string::npos) << log;
        EXPECT_EQ(log.find("WARNING"), log.rfind("WARNING")) << "one warning\n" << log;
        hostile.stop();
    }
}

TEST_F(HostileFiles, ATeleIniOfTensOfMegabytesCountsUpToItsFirstMegabyteWithOneWarning) {
    // 44 MB of entries; 95588 early, 96677 far beyond the first MiB.
    {
        std::ofstream list(folder / "tele.ini", std::ios::binary);
        list << "95588\r\n";
        const std::string block = [] {
            std::string lines;
            for (int line = 0; line < 4096; ++line) lines += std::to_string(10000000 + line) + "\r\n";
            return lines;
        }();
        while (list.tellp() < 44 * 1000 * 1000) list << block;
        list << "96677\r\n";
    }
    const std::uintmax_t size = fs::file_size(folder / "tele.ini");
    folder.start();
    int id = 0;
    std::string expected;
    for (int round = 0; round < 20; ++round) {
        for (const auto& [cdpn, teletype] : {std::pair{"95588", "特服电话"}, std::pair{"96677", "市话"}}) {
            ++id;
            // Answered once its line is filed.
            sw.send(recordOf(macText, id, cdpn));
            ASSERT_EQ(sw.receive().value_or(""), "RECORD:ID=" + std::to_string(id));
            expected += lineOf(id, cdpn, teletype);
        }
    }
    waitUntilHandled(folder, sw);
    EXPECT_EQ(file(macFolder + "/old/CDR_2024_03_15.txt"), oldHeader(macFolder) + expected);
    const std::string warning = "WARNING   tele.ini: the file is larger than 1 MiB (" + std::to_string(size) +
                                " bytes): only the entries in its first MiB count\r\n";
    const std::string log = folder.todaysLogTexts();
    EXPECT_NE(log.find(warning), std::string::npos) << log.substr(0, 2000);
    EXPECT_EQ(log.find("WARNING"), log.rfind("WARNING")) << "one warning for 40 lookups";
}

// A record file, or its folder, that is a link to elsewhere is refused as an
// unwritable file: the switch gets no answer and sends the record again.
TEST_F(HostileFiles, ARecordFileOrFolderThatIsALinkIsRefusedAndNotAcknowledged) {
    if (underWine()) GTEST_SKIP() << "Wine shows a Linux symbolic link as the file it leads to, not as a link";
    TempFolder elsewhere;
    writeBytes(elsewhere.path() / "target.txt", "kept\n");
    const fs::path old = folder / ("rec/" + macFolder + "/old");
    const struct {
        std::string link;
        fs::path target;
        std::string reason;
    } cases[] = {
        {"old/CDR_2024_03_15.txt", elsewhere.path() / "target.txt", "A symbolic link, which is not followed"},
        {"old", elsewhere.path(), "Its folder is a symbolic link, which is not followed"},
    };
    folder.start();
    int id = 0;
    for (const auto& each : cases) {
        SCOPED_TRACE(each.link);
        fs::create_directories(folder / ("rec/" + macFolder));
        if (each.link != "old") fs::create_directories(old);
        fs::create_symlink(each.target, folder / ("rec/" + macFolder + "/" + each.link));
        ++id;
        EXPECT_EQ(exchange(recordOf(macText, id), std::chrono::milliseconds(300)), "");
        const std::string log = folder.todaysLogTexts();
        EXPECT_NE(log.find("ERROR   record not written to " +
                           collectorPath(old / "CDR_2024_03_15.txt") + ": " + each.reason + "\r\n"),
                  std::string::npos)
            << log;
        EXPECT_EQ(readBytes(elsewhere.path() / "target.txt"), "kept\n");
        EXPECT_EQ(std::distance(fs::directory_iterator(elsewhere.path()), fs::directory_iterator()), 1);

        fs::remove(folder / ("rec/" + macFolder + "/" + each.link));
        EXPECT_EQ(exchange(recordOf(macText, id)), "RECORD:ID=" + std::to_string(id)) << "the retry is filed";
        EXPECT_EQ(file(macFolder + "/old/CDR_2024_03_15.txt"), oldHeader(macFolder) + lineOf(id, "66001234", "市话"));
        fs::remove_all(folder / ("rec/" + macFolder));
    }
}

}  // namespace
