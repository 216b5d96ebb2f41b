// What a local user or a mistyped setting can leave for a start of the
// collector: links below the data root, an ALLOW list that names nobody, an
// undo file that names files elsewhere or is huge, and records dated a day
// no calendar has.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "e2e/harness.h"
#include "e2e/record_files.h"
#include "e2e/switch_client.h"
#include "support/time_zone.h"
#include "support/today.h"

namespace {

namespace fs = std::filesystem;

const std::string macText = "00:1A:2B:3C:4D:5E";
const std::string macFolder = "00-1A-2B-3C-4D-5E";

std::string recordOf(int id, const std::string& timeStart = "240315093000", const std::string& count = "") {
    return "RECORD:ID=" + std::to_string(id) + "&RID=" + std::to_string(id) +
           "-1&CPN=8001&CDPN=66001234&TYPE=OU&ROUTE=IP&MAC=" + macText + "&TIME-S=" + timeStart + "&DURATION=1&" +
           (count.empty() ? "" : "COUNT=" + count + "&");
}

std::string hexOf(const std::string& bytes) {
    constexpr char digits[] = "0123456789abcdef";
    std::string hex;
    for (const char c : bytes) {
        hex += digits[static_cast<unsigned char>(c) >> 4];
        hex += digits[static_cast<unsigned char>(c) & 15];
    }
    return hex;
}

// A rollback journal of one file that was 0 bytes long before a change
// made it `sizeAfter` long, in the collector's journal format.
std::string journalCuttingToZero(std::uint64_t sizeAfter) {
    std::string body = "QVJRNL01";
    const auto put = [&](std::uint64_t value, int bytes) {
        for (int i = 0; i < bytes; ++i, value >>= 8) body += static_cast<char>(value & 0xFF);
    };
    put(1, 4);
    put(1, 1);
    put(0, 8);
    put(sizeAfter, 8);
    put(0, 4);
    std::uint32_t crc = 0xFFFFFFFFu;
    for (const char c : body) {
        crc ^= static_cast<unsigned char>(c);
        for (int bit = 0; bit < 8; ++bit) crc = crc & 1 ? 0xEDB88320u ^ (crc >> 1) : crc >> 1;
    }
    put(crc ^ 0xFFFFFFFFu, 4);
    return body;
}

class HostileStart : public testing::Test {
protected:
    std::string exchange(const std::string& text, std::chrono::milliseconds limit = std::chrono::milliseconds(2000)) {
        sw.send(gbk(text));
        const std::string answer = sw.receive(limit).value_or("");
        waitUntilHandled(folder, sw);
        return answer;
    }

    ScopedTimeZone zone{"CST-8"};
    ProgramFolder folder;
    SwitchClient sw;
};

// Before: the start made today's file in the folder a link pointed to, a
// switch's folder that was a link took its records, rows went on at the end
// of the file a queue's link named, and a journal beside a link named
// anything.xls cut its target to 0 bytes.
TEST_F(HostileStart, NothingBelowTheDataRootIsReachedThroughALink) {
    if (underWine()) GTEST_SKIP() << "Wine shows a Linux symbolic link as the file it leads to, not as a link";
    TempFolder elsewhere;
    const fs::path victim = elsewhere.path() / "victim";
    writeBytes(victim, std::string(5000, 'v'));
    const std::string queueTarget = "kept";
    writeBytes(elsewhere.path() / "queue", queueTarget);
    fs::create_directories(folder / "rec");
    fs::create_directory(elsewhere.path() / "switch");
    fs::create_symlink(elsewhere.path() / "switch", folder / ("rec/" + macFolder));
    fs::create_symlink(elsewhere.path() / "switch", folder / "rec/linked");
    fs::create_symlink(elsewhere.path() / "queue", folder / ("rec/" + todayAs("%Y%m") + ".xls.queue"));
    fs::create_symlink(victim, folder / "rec/anything.xls");
    writeBytes(folder / "rec/anything.xls-journal", journalCuttingToZero(5000));
    fs::create_directory(folder / "rec/real");
    // The data root named, so that the start lays today's files into its folders.
    folder.write("Quelvar.ini", "PATH=" + (folder / "rec").string() + "\r\n");

    folder.start();
    // Today's file goes into the real folder alone.
    const std::string today = "CDR_" + todayAs("%Y_%m_%d") + ".txt";
    EXPECT_TRUE(fs::is_regular_file(folder / ("rec/real/" + today)));
    EXPECT_TRUE(fs::is_empty(elsewhere.path() / "switch"));
    EXPECT_EQ(readBytes(victim), std::string(5000, 'v'));

    EXPECT_EQ(exchange(recordOf(1), std::chrono::milliseconds(300)), "") << "refused, so not acknowledged";
    sw.send(gbk("RECORD:ID=2&RID=2-1&ACCOUNT=8001&TYPE=OU&CPN=8001&CDPN=95588&ROUTE=IP&DURATION=75&TIME=" +
                todayAs("%m") + "-01 10:20:30&"));
    waitUntilHandled(folder, sw);
    EXPECT_TRUE(fs::is_empty(elsewhere.path() / "switch"));
    EXPECT_EQ(readBytes(elsewhere.path() / "queue"), queueTarget);
    EXPECT_EQ(readBytes(victim), std::string(5000, 'v'));
    EXPECT_TRUE(fs::exists(folder / "rec/anything.xls-journal")) << "a journal of no month's workbook is not acted on";
    const std::string log = folder.todaysLogTexts();
    EXPECT_NE(log.find("ERROR   record not written to " +
                       collectorPath(folder / ("rec/" + macFolder + "/old/CDR_2024_03_15.txt")) +
                       ": A folder on its way is a symbolic link, which is not followed\r\n"),
              std::string::npos)
        << log;

    // With the link gone the switch's retry is filed where it belongs.
    fs::remove(folder / ("rec/" + macFolder));
    EXPECT_EQ(exchange(recordOf(1)), "RECORD:ID=1");
    EXPECT_TRUE(fs::is_regular_file(folder / ("rec/" + macFolder + "/old/CDR_2024_03_15.txt")));
}

// The data root itself may be a link an administrator made.
TEST_F(HostileStart, ADataRootThatIsALinkIsFollowed) {
    if (underWine()) GTEST_SKIP() << "Wine shows a Linux symbolic link as the file it leads to, not as a link";
    TempFolder disk;
    fs::create_directory(disk.path() / "cdr");
    fs::create_directory(disk.path() / "cdr/switch");
    fs::create_symlink(disk.path() / "cdr", folder / "cdr");
    folder.write("Quelvar.ini", "PATH=" + (folder / "cdr").string() + "\r\n");
    folder.start();
    EXPECT_TRUE(fs::is_regular_file(disk.path() / ("cdr/switch/CDR_" + todayAs("%Y_%m_%d") + ".txt")));
    EXPECT_EQ(exchange(recordOf(1)), "RECORD:ID=1");
    EXPECT_TRUE(fs::is_regular_file(disk.path() / ("cdr/" + macFolder + "/old/CDR_2024_03_15.txt")));
}

// Before: each of these left the list empty with a warning, and every
// sender was let in.
TEST(HostileAllow, AListThatNamesNoValidSenderStopsTheStart) {
    const std::string refusal =
        "Quelvar.ini: ALLOW names no valid IPv4 address or network: the collector does not start rather than let "
        "every sender in";
    for (const std::string allow : {"10.1.2.0/24;office", "127.0.0.1/33", "127.0.0.1 /32"}) {
        SCOPED_TRACE(allow);
        ProgramFolder folder;
        folder.write("Quelvar.ini", "ALLOW=" + allow + "\r\n");
        const ProgramFolder::Output check = folder.run("--check");
        EXPECT_EQ(check.status, 1);
        EXPECT_NE(check.output.find("\nsenders: none\n"), std::string::npos) << check.output;
        EXPECT_TRUE(check.output.ends_with("warning: Quelvar.ini line 1: ALLOW: \"" + allow +
                                           "\" is no IPv4 address or network: it is left out\nerror: " + refusal +
                                           "\n"))
            << check.output;

        EXPECT_EQ(folder.runToExit(), 1);
        const std::string log = folder.todaysLogTexts();
        EXPECT_NE(log.find("ERROR   " + refusal + "\r\n"), std::string::npos) << log;
        EXPECT_TRUE(log.ends_with("ERROR   " + refusal + "\r\nQuelvar stop 2.0.0.10\r\n")) << log;
        EXPECT_FALSE(fs::exists(folder / "rec")) << "nothing is filed";
    }
}

// Before: a path in the undo file was cut back wherever it pointed (a file
// outside was cut to 0 bytes), and a 400 MB undo file took 686 MB of memory
// and seconds at start.
TEST_F(HostileStart, TheUndoFileCutsBackOnlyRecordFilesAndIsReadWithinItsLimit) {
    const fs::path outside = folder / "outside.txt";
    const fs::path record = folder / ("rec/" + macFolder + "/old/CDR_2024_03_15.txt");
    fs::create_directories(record.parent_path());
    writeBytes(outside, "0123456789");
    writeBytes(record, "0123456789");
    const std::string undo = "U 7 4 " + hexOf(collectorPath(outside)) + "\nU 7 4 " + hexOf(collectorPath(record)) +
                             "\nU 7 4 " + hexOf(collectorPath(folder / "Quelvar.ini")) + "\n";
    writeBytes(folder / "quelvar.undo", undo);
    folder.write("Quelvar.ini", "AREACODE=0755\r\n");
    folder.start();
    EXPECT_EQ(readBytes(outside), "0123456789");
    EXPECT_EQ(readBytes(folder / "Quelvar.ini"), "AREACODE=0755\r\n");
    EXPECT_EQ(readBytes(record), "0123");
    const std::string log = folder.todaysLogTexts();
    EXPECT_NE(log.find("WARNING   lines of an unfinished datagram taken back from " + collectorPath(record) + "\r\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("WARNING   the undo file names 2 files that are no record files below the data root, left "
                       "as they are: " +
                       collectorPath(outside) + ", ...\r\n"),
              std::string::npos)
        << log;
    folder.stop();

    // 17 MiB of entries of one datagram: the first 16 MiB are read, and the
    // file is emptied.
    {
        std::ofstream file(folder / "quelvar.undo", std::ios::binary);
        const std::string line = "U 7 0 " + hexOf(collectorPath(outside)) + "\n";
        std::string block;
        while (block.size() < (1 << 20)) block += line;
        for (int mib = 0; mib < 17; ++mib) file << block;
    }
    folder.start();
    EXPECT_EQ(exchange(recordOf(1)), "RECORD:ID=1");
    EXPECT_NE(folder.todaysLogTexts().find("WARNING   the undo file is larger than 16 MiB, which the collector never "
                                           "writes: only its first 16 MiB were read\r\n"),
              std::string::npos);
    EXPECT_LT(fs::file_size(folder / "quelvar.undo"), 1000u);
    EXPECT_EQ(readBytes(outside), "0123456789");
}

// Before: such records were filed under that month, where no bill prices them.
TEST_F(HostileStart, RecordsDatedADayNoCalendarHasGoUnderErr) {
    folder.start();
    EXPECT_EQ(exchange(recordOf(1, "261131093000")), "RECORD:ID=1");
    EXPECT_EQ(exchange(recordOf(2, "270229093000", "1")), "RECORD:ID=2");
    EXPECT_EQ(exchange(recordOf(3, "241329093000")), "RECORD:ID=3");
    // A leap day is a day.
    EXPECT_EQ(exchange(recordOf(4, "240229093000")), "RECORD:ID=4");
    EXPECT_EQ(readExisting(folder / ("rec/err/" + macFolder + "/old/CDR_2026_11_31.txt")),
              oldHeader(macFolder) + oldLine({"1-1", "", "8001", "", "66001234", "市话", "OU", "IP", "261131093000",
                                              "261201093001", "1", ""}));
    for (const char* file : {"new/CDR_2027_02_29.txt", "new/CDR_2027_02_29.csv", "old/CDR_2024_13_29.txt"})
        EXPECT_TRUE(fs::is_regular_file(folder / ("rec/err/" + macFolder + "/" + file))) << file;
    EXPECT_TRUE(fs::is_regular_file(folder / ("rec/" + macFolder + "/old/CDR_2024_02_29.txt")));
    EXPECT_FALSE(fs::exists(folder / ("rec/" + macFolder + "/old/CDR_2026_11_31.txt")));
    const std::string log = folder.todaysLogTexts();
    for (const char* warning : {"WARNING   record 1-1 dated 2026-11-31, a day no calendar has, filed under err\r\n",
                                "WARNING   record 2-1 dated 2027-02-29, a day no calendar has, filed under err\r\n",
                                "WARNING   record 3-1 dated 2024-13-29, a day no calendar has, filed under err\r\n"}) {
        const std::size_t found = log.find(warning);
        EXPECT_NE(found, std::string::npos) << warning << log;
        EXPECT_EQ(log.find(warning, found + 1), std::string::npos) << "once a record: " << warning;
    }
    EXPECT_EQ(log.find("2024-02-29"), std::string::npos);
    folder.stop();

    ProgramFolder plain;
    plain.write("Quelvar.ini", "ENCRYPT=0\r\n");
    plain.start();
    sw.sendRaw("RECORD:RID=7-2&CPN=8001&CDPN=8002&TYPE=OU&ROUTE=IP&TIME-S=261131093015&DURATION=75&MAC=" + macText);
    EXPECT_EQ(sw.receiveRaw().value_or(""), std::string("RECORD:RID=7-2\0", 15));
    waitUntilHandled(plain, sw, true);
    EXPECT_TRUE(fs::is_regular_file(plain / ("rec/err/" + macFolder + "/old/CDR_2026_11_31.txt")));
    EXPECT_NE(plain.todaysLogTexts().find("WARNING   record 7-2 dated 2026-11-31, a day no calendar has, filed under "
                                          "err\r\n"),
              std::string::npos)
        << plain.todaysLogTexts();
}

}  // namespace
