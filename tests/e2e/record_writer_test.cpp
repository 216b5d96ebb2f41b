// Records of the default mode end to end: enciphered datagrams in, the
// switches' daily files compared byte for byte.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <thread>

#include "e2e/harness.h"
#include "e2e/record_files.h"
#include "e2e/switch_client.h"
#include "support/time_zone.h"

namespace {

namespace fs = std::filesystem;

const std::string macText = "00:1A:2B:3C:4D:5E";
const std::string macFolder = "00-1A-2B-3C-4D-5E";

// Today's date with a time as 12 digits, as the collector writes an end
// whose start date it cannot use.
std::string todayAt(int hour, int minute, int second) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[96];
    std::snprintf(text, sizeof text, "%02d%02d%02d%02d%02d%02d", local.tm_year - 100, local.tm_mon + 1, local.tm_mday,
                  hour, minute, second);
    return text;
}

class RecordWriter : public testing::Test {
protected:
    void start(const std::string& configuration = {}) {
        if (!configuration.empty()) folder.write("Quelvar.ini", configuration);
        folder.start();
    }
    std::string file(const std::string& relative) const { return readExisting(folder / ("rec/" + relative)); }
    void expectFile(const std::string& relative, const std::string& expected) const {
        EXPECT_EQ(file(relative), expected) << relative;
    }
    // Sends a datagram, waits until the collector has handled it whole and
    // gives its answer, or empty text when none came.
    std::string exchange(const std::string& text, std::chrono::milliseconds limit = std::chrono::milliseconds(2000)) {
        sw.send(text);
        const std::string answer = sw.receive(limit).value_or("");
        settle();
        return answer;
    }
    void settle() { waitUntilHandled(folder, sw); }

    ScopedTimeZone zone{"CST-8"};
    ProgramFolder folder;
    SwitchClient sw;
};

TEST_F(RecordWriter, FilesLinesOldAndTheMergedRecordNewWithHeadersOncePerFile) {
    start("AREACODE=0755\r\n");
    const std::string first =
        "RECORD:ID=5&RID=10-1&ACCOUNT=8001&CPN=8001&CDPN=13912345678&TYPE=OU&ROUTE=IP&MAC=" + macText +
        "&TIME-S=240315093000&DURATION=75&TRUNKN=3&";
    const std::string second = "RECORD:ID=6&RID=11-1&ACCOUNT=" + gbk("张三") +
                               "&CPN=02112345678&CDPN=8002&TYPE=IN&ROUTE=XO&MAC=" + macText +
                               "&TIME-S=240315235930&DURATION=45&TRUNKN=12&";
    EXPECT_EQ(exchange(first), "RECORD:ID=5");
    EXPECT_EQ(exchange(second), "RECORD:ID=6");

    const RecordColumns one{"10-1",         "8001",         "8001", "1", "13912345678", "市话", "OU", "IP",
                            "240315093000", "240315093115", "75",   "3"};
    const RecordColumns two{"11-1", "张三",         "02112345678",  "1",  "8002", "国内长途", "IN",
                            "XO",   "240315235930", "240316000015", "45", "12"};
    RecordColumns oldOne = one, oldTwo = two;
    oldOne.count = oldTwo.count = "";
    expectFile(macFolder + "/old/CDR_2024_03_15.txt", oldHeader(macFolder) + oldLine(oldOne) + oldLine(oldTwo));
    // The merged record's TIME-E is worked out by the receive loop.
    expectFile(macFolder + "/new/CDR_2024_03_15.txt", newHeader(macFolder) + newLine(one) + newLine(two));
    expectFile(macFolder + "/new/CDR_2024_03_15.csv",
               csvHeader(macFolder) + csvLine(one, "呼出", "IP中继") + csvLine(two, "呼入", "模拟中继"));
}

TEST_F(RecordWriter, ControlCharactersInAValueNeverMakeUpALineInTheFilesOrTheLog) {
    start("AREACODE=0755\r\n");
    // A line feed ends a line of the datagram; any other control character
    // stays in its value, and is written escaped, padded like any value.
    const std::string line =
        "RECORD:ID=5&RID=10-1&ACCOUNT=8001&CPN=80\r01\t\x1b&CDPN=13912345678&TYPE=OU&ROUTE=IP&MAC=" + macText +
        "&TIME-S=240315093000&DURATION=75&TRUNKN=3\r&";
    EXPECT_EQ(exchange(line), "RECORD:ID=5");
    const RecordColumns merged{"10-1", "8001",         "80\\r01\\t\\x1B", "1",  "13912345678", "市话", "OU",
                               "IP",   "240315093000", "240315093115",    "75", "3\\r"};
    RecordColumns leg = merged;
    leg.count = "";
    expectFile(macFolder + "/old/CDR_2024_03_15.txt", oldHeader(macFolder) + oldLine(leg));
    expectFile(macFolder + "/new/CDR_2024_03_15.txt", newHeader(macFolder) + newLine(merged));
    expectFile(macFolder + "/new/CDR_2024_03_15.csv", csvHeader(macFolder) + csvLine(merged, "呼出", "IP中继"));
    const std::string log = folder.todaysLog();
    EXPECT_NE(log.find("   recvfrom 127.0.0.1:" + std::to_string(sw.port()) +
                       " [RECORD:ID=5&RID=10-1&ACCOUNT=8001&CPN=80\\r01\\t\\x1B&CDPN="),
              std::string::npos)
        << log;

    // An unknown datagram that would end its line and forge the next.
    sw.send("hello\r\n2026-12-10   09:00:00   Quelvar stop 2.0.0.10\r\n");
    settle();
    EXPECT_NE(folder.todaysLog().find("   unknown message 127.0.0.1:" + std::to_string(sw.port()) +
                                      " [hello\\r\\n2026-12-10   09:00:00   Quelvar stop 2.0.0.10\\r\\n]\r\n"),
              std::string::npos)
        << folder.todaysLog();
    EXPECT_EQ(folder.todaysLog().find("\n2026-12-10   09:00:00   Quelvar stop"), std::string::npos);
}

TEST_F(RecordWriter, FilesBothLegsOfACallAndOneMergedRecord) {
    start();
    const std::string legs =
        "RECORD:ID=41&RID=77-1&ACCOUNT=8001&CPN=8001&CDPN=0085212345678&TYPE=OU&ROUTE=IP&MAC=" + macText +
        "&TIME-S=240315093000&DURATION=75&TRUNKN=3&\n" +
        "RECORD:ID=42&RID=77-2&ACCOUNT=8001&CPN=8001&CDPN=0085212345678&TYPE=OU&ROUTE=IP&MAC=" + macText +
        "&TIME-S=240315093115&DURATION=20&TRUNKN=5&";
    EXPECT_EQ(exchange(legs), "RECORD:ID=42");
    expectFile(macFolder + "/old/CDR_2024_03_15.txt",
               oldHeader(macFolder) +
                   oldLine({"77-1", "8001", "8001", "", "0085212345678", "国际长途", "OU", "IP", "240315093000",
                            "240315093115", "75", "3"}) +
                   oldLine({"77-2", "8001", "8001", "", "0085212345678", "国际长途", "OU", "IP", "240315093115",
                            "240315093135", "20", "5"}));
    const RecordColumns merged{"77-1",         "8001",         "8001", "2", "0085212345678", "国际长途", "OU", "IP",
                               "240315093000", "240315093115", "75",   "3"};
    expectFile(macFolder + "/new/CDR_2024_03_15.txt", newHeader(macFolder) + newLine(merged));
}

TEST_F(RecordWriter, CutsLongMacsPadsShortRidsAndKeepsLongOnesWhole) {
    start();
    const std::string rid25 = "1234567890123456789012345";
    EXPECT_EQ(exchange("RECORD:ID=1&RID=123&CPN=8001&CDPN=8002&TYPE=LO&ROUTE=IC&MAC=00:1A:2B:3C:4D:5E:6F"
                       "&TIME-S=240307101500&DURATION=3600&TRUNKN=1&"),
              "RECORD:ID=1");
    EXPECT_EQ(exchange("RECORD:ID=2&RID=" + rid25 + "&CPN=8001&CDPN=8002&TYPE=LO&ROUTE=IC&MAC=" + macText +
                       "&TIME-S=240331233000&DURATION=3600&TRUNKN=1&"),
              "RECORD:ID=2");
    expectFile(macFolder + "/old/CDR_2024_03_07.txt",
               oldHeader(macFolder) + oldLine({"123", "", "8001", "", "8002", "内线", "LO", "IC", "240307101500",
                                               "240307111500", "3600", "1"}));
    expectFile(macFolder + "/old/CDR_2024_03_31.txt",
               oldHeader(macFolder) + oldLine({rid25, "", "8001", "", "8002", "内线", "LO", "IC", "240331233000",
                                               "240401003000", "3600", "1"}));
}

TEST_F(RecordWriter, IncompleteRecordsGoToTheErrTreeWithQuestionMarks) {
    start();
    EXPECT_EQ(exchange("RECORD:ID=1&RID=9-1&CPN=8001&CDPN=13912345678&TYPE=OU&MAC=" + macText +
                       "&TIME-S=240315093000&DURATION=75&TRUNKN=3&"),
              "RECORD:ID=1");
    const RecordColumns noRoute{"9-1",          "",   "8001", "1", "13912345678", "市话", "OU", "?", "240315093000",
                                "240315093115", "75", "3"};
    RecordColumns noRouteLine = noRoute;
    noRouteLine.count = "";
    expectFile("err/" + macFolder + "/old/CDR_2024_03_15.txt", oldHeader(macFolder) + oldLine(noRouteLine));
    expectFile("err/" + macFolder + "/new/CDR_2024_03_15.txt", newHeader(macFolder) + newLine(noRoute));
    expectFile("err/" + macFolder + "/new/CDR_2024_03_15.csv", csvHeader(macFolder) + csvLine(noRoute, "呼出", "总机"));

    EXPECT_EQ(exchange("RECORD:ID=2&RID=19-2&CPN=8001&CDPN=8002&TYPE=LO&ROUTE=IC&MAC=" + macText + "&DURATION=61&"),
              "RECORD:ID=2");
    expectFile("err/" + macFolder + "/old/CDR_2000_00_00.txt",
               oldHeader(macFolder) +
                   oldLine({"19-2", "", "8001", "", "8002", "内线", "LO", "IC", "?", todayAt(0, 1, 1), "61", ""}));
}

TEST_F(RecordWriter, UnusableStartDatesEndOnTodaysDate) {
    start();
    EXPECT_EQ(exchange("RECORD:ID=1&RID=8-1&CPN=8001&CDPN=8002&TYPE=LO&ROUTE=IC&MAC=" + macText +
                       "&TIME-S=991301083000&DURATION=30&"),
              "RECORD:ID=1");
    EXPECT_EQ(exchange("RECORD:ID=2&RID=18-2&CPN=8001&CDPN=8002&TYPE=LO&ROUTE=IC&MAC=" + macText +
                       "&TIME-S=2403&DURATION=30&"),
              "RECORD:ID=2");
    // A month 13 names no day of the calendar: the record goes under err.
    expectFile("err/" + macFolder + "/old/CDR_2099_13_01.txt",
               oldHeader(macFolder) + oldLine({"8-1", "", "8001", "", "8002", "内线", "LO", "IC", "991301083000",
                                               todayAt(8, 30, 30), "30", ""}));
    expectFile(macFolder + "/old/CDR_2024_03_.txt",
               oldHeader(macFolder) +
                   oldLine({"18-2", "", "8001", "", "8002", "内线", "LO", "IC", "2403", todayAt(0, 0, 30), "30", ""}));
}

TEST_F(RecordWriter, TeletypeColumnKeepsItsWidthInBytes) {
    start("AREACODE=021\r\n");
    // Lines that carry a COUNT are new-format themselves: each is filed as
    // it came and once more as its call's merged record.
    exchange("RECORD:ID=1&RID=7-1&CPN=8001&CDPN=02112345678&TYPE=OU&ROUTE=IP&MAC=" + macText +
             "&TIME-S=240315093000&DURATION=1&COUNT=1&TIME-E=240315093001&");
    exchange("RECORD:ID=2&RID=17-2&CPN=8001&CDPN=07551234567&TYPE=OU&ROUTE=IP&MAC=" + macText +
             "&TIME-S=240315093000&DURATION=1&COUNT=1&TIME-E=240315093001&");
    const RecordColumns local{"7-1",          "",  "8001", "1", "02112345678", "市话", "OU", "IP", "240315093000",
                              "240315093001", "1", ""};
    RecordColumns distant = local;
    distant.rid = "17-2";
    distant.cdpn = "07551234567";
    distant.teletype = "国内长途";
    const std::string localLine = newLine(local);
    const std::string distantLine = newLine(distant);
    expectFile(macFolder + "/new/CDR_2024_03_15.txt",
               newHeader(macFolder) + localLine + localLine + distantLine + distantLine);
    EXPECT_EQ(localLine.size(), distantLine.size()) << "the column is 18 bytes in GBK either way";
}

TEST_F(RecordWriter, TypeFilterHoldsRecordsBackButAcknowledgesThem) {
    start("TYPE=IN,OU\r\n");
    EXPECT_EQ(exchange("RECORD:ID=4&RID=6-1&CPN=8001&CDPN=8002&TYPE=LO&ROUTE=IC&MAC=" + macText +
                       "&TIME-S=240315093000&DURATION=1&"),
              "RECORD:ID=4");
    ASSERT_TRUE(fs::is_directory(folder / ("rec/" + macFolder + "/old")));
    ASSERT_TRUE(fs::is_directory(folder / ("rec/" + macFolder + "/new")));
    EXPECT_TRUE(fs::is_empty(folder / ("rec/" + macFolder + "/old")));
    EXPECT_TRUE(fs::is_empty(folder / ("rec/" + macFolder + "/new")));
}

TEST_F(RecordWriter, DataRootFromTheConfiguration) {
    TempFolder root;
    start("PATH=" + collectorPath(root.path() / "cdr") + "\r\n");
    EXPECT_EQ(exchange("RECORD:ID=1&RID=5-1&CPN=8001&CDPN=8002&TYPE=LO&ROUTE=IC&MAC=" + macText +
                       "&TIME-S=240315093000&DURATION=1&"),
              "RECORD:ID=1");
    EXPECT_EQ(readExisting(root.path() / "cdr" / macFolder / "old/CDR_2024_03_15.txt"),
              oldHeader(macFolder) + oldLine({"5-1", "", "8001", "", "8002", "内线", "LO", "IC", "240315093000",
                                              "240315093001", "1", ""}));
    EXPECT_FALSE(fs::exists(folder / ("rec/" + macFolder)));
}

TEST_F(RecordWriter, RecordThatCannotBeWrittenIsNotAcknowledgedUntilItIs) {
    start();
    fs::create_directories(folder / "rec");
    folder.write("rec/" + macFolder, "a file where the switch's folder belongs");
    const std::string record =
        "RECORD:ID=9&RID=4-1&CPN=8001&CDPN=8002&TYPE=LO&ROUTE=IC&MAC=" + macText + "&TIME-S=240315093000&DURATION=1&";
    EXPECT_EQ(exchange(record, std::chrono::milliseconds(300)), "")
        << "no acknowledgement for a record that was not written";
    const std::string log = folder.todaysLogTexts();
    const std::string path = collectorPath(folder / ("rec/" + macFolder + "/old/CDR_2024_03_15.txt"));
    // The reason is in the system's words; Windows has words of its own.
    const std::string reason = underWine() ? ": " : ": Not a directory\r\n";
    EXPECT_NE(log.find("ERROR   record not written to " + path + reason), std::string::npos) << log;

    fs::remove(folder / ("rec/" + macFolder));
    EXPECT_EQ(exchange(record), "RECORD:ID=9") << "the switch's retry is filed at once";
    expectFile(macFolder + "/old/CDR_2024_03_15.txt",
               oldHeader(macFolder) + oldLine({"4-1", "", "8001", "", "8002", "内线", "LO", "IC", "240315093000",
                                               "240315093001", "1", ""}));
}

TEST_F(RecordWriter, MacsNeverLeadOutOfTheRecordBase) {
    start();
    for (const std::string mac : {"../../../../tmp/quelvar-escape", "..", ".", "a\\..\\..\\b"}) {
        EXPECT_EQ(exchange("RECORD:ID=3&RID=" + std::to_string(mac.size()) +
                           "-1&CPN=8001&CDPN=8002&TYPE=LO&ROUTE=IC&MAC=" + mac + "&TIME-S=240315093000&DURATION=1&"),
                  "RECORD:ID=3")
            << mac;
    }
    EXPECT_FALSE(fs::exists("/tmp/quelvar-escape"));
    std::vector<std::string> switches;
    for (const auto& entry : fs::directory_iterator(folder / "rec")) switches.push_back(entry.path().filename());
    std::sort(switches.begin(), switches.end());
    EXPECT_EQ(switches, (std::vector<std::string>{"-", "--", "..-..-..-..-tmp-q", "a-..-..-b"}));
    EXPECT_EQ(file("--/old/CDR_2024_03_15.txt").substr(0, 14), "#2.0.0.10&--\r\n") << "the header names the folder";
}

TEST_F(RecordWriter, NamesTheSystemRefusesAreMadeSafe) {
    start();
    // Windows refuses these characters, drops trailing dots and keeps CON for
    // a device; Linux takes every one of them.
    const bool windows = underWine();
    const struct {
        std::string mac, timeStart, file;
    } cases[] = {
        {"A*B?C", "240315093000", windows ? "A-B-C/old/CDR_2024_03_15.txt" : "A*B?C/old/CDR_2024_03_15.txt"},
        {"CON", "240315093000", windows ? "CON-/old/CDR_2024_03_15.txt" : "CON/old/CDR_2024_03_15.txt"},
        {"AA.", "240315093000", windows ? "AA-/old/CDR_2024_03_15.txt" : "AA./old/CDR_2024_03_15.txt"},
        {"BB", "24|3*5093000", windows ? "BB/old/CDR_2024_-3_-5.txt" : "BB/old/CDR_2024_|3_*5.txt"},
    };
    int rid = 0;
    for (const auto& each : cases) {
        EXPECT_EQ(exchange("RECORD:ID=3&RID=" + std::to_string(++rid) + "-1&CPN=8001&CDPN=8002&TYPE=LO&ROUTE=IC&MAC=" +
                           each.mac + "&TIME-S=" + each.timeStart + "&DURATION=1&"),
                  "RECORD:ID=3")
            << each.mac;
        EXPECT_TRUE(fs::is_regular_file(folder / ("rec/" + each.file))) << each.file;
    }
}

}  // namespace
