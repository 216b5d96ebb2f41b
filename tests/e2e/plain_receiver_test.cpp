// The plain mode end to end: 8-bit datagrams in, answers and the three
// daily files of each switch compared byte for byte.
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "e2e/harness.h"
#include "e2e/switch_client.h"
#include "support/time_zone.h"

namespace {

namespace fs = std::filesystem;

// Widths of the plain files count bytes.
std::string pad(const std::string& bytes, std::size_t width) {
    return bytes.size() >= width ? bytes : bytes + std::string(width - bytes.size(), ' ');
}

std::string callId(const std::string& rid) { return rid.size() >= 19 ? rid : std::string(19 - rid.size(), '0') + rid; }

struct Plain {
    std::string callId, account, cpn, cdpn, teletype, type, route, timeStart, end, duration, trunk;
};

std::string newText(const Plain& p) {
    return pad(p.callId, 17) + " " + pad(p.account, 15) + " " + pad(p.cpn, 24) + " 1  " + pad(p.cdpn, 24) + " " +
           pad(gbk(p.teletype), 16) + "   " + pad(p.type, 4) + " " + pad(p.route, 4) + " " + pad(p.timeStart, 12) +
           " " + pad(p.end, 12) + " " + pad(p.duration, 5) + " " + pad(p.trunk, 32) + " \r\n";
}

std::string newCsv(const Plain& p, const std::string& typeLabel, const std::string& routeLabel) {
    return pad(p.callId, 17) + "," + pad(p.account, 15) + "," + pad(p.cpn, 24) + "," + pad(p.cdpn, 24) + "," +
           pad(gbk(p.teletype), 16) + "," + pad(gbk(typeLabel), 4) + "," + pad(gbk(routeLabel), 4) + "," +
           pad(p.timeStart, 12) + "," + pad(p.end, 12) + "," + pad(p.duration, 5) + "," + pad(p.trunk, 32) + " \r\n";
}

std::string oldText(const Plain& p) {
    return pad(p.callId, 19) + " " + pad(p.cpn, 24) + " " + pad(p.cdpn, 24) + " " + pad(gbk(p.teletype), 16) + "   " +
           pad(p.type, 2) + " " + pad(p.timeStart, 12) + " " + pad(p.end, 12) + " " + pad(p.duration, 5) + " " +
           pad(p.route, 2) + " " + pad(p.trunk, 32) + " " + pad(p.account, 15) + "\r\n";
}

std::string textHeader(const std::string& mac) {
    return "#2.0.0.10&" + mac + "\r\n " + pad("Call-ID", 17) + " " + pad("Account", 17) + " " + pad("CPN", 20) + " " +
           pad("Count", 2) + " " + pad("CDPN", 22) + " " + pad("Teletype", 19) + " " + pad("Type", 4) + " " +
           pad("Route", 4) + " " + pad("Time-S", 12) + " " + pad("Time-E", 10) + " " + pad("Duration", 5) + " " +
           pad("Trunk-N", 32) + " \r\n";
}

std::string csvHeader(const std::string& mac) {
    return "#2.0.0.10&" + mac + "\r\n " + pad(gbk("编号"), 17) + "," + pad(gbk("账号"), 17) + "," +
           pad(gbk("主叫"), 20) + "," + pad(gbk("被叫"), 22) + "," + pad(gbk("话务类型"), 19) + "," +
           pad(gbk("通话类型"), 4) + "," + pad(gbk("路由规则"), 4) + "," + pad(gbk("开始时间"), 12) + "," +
           pad(gbk("结束时间"), 10) + "," + pad(gbk("通话时长"), 5) + "," + pad(gbk("中继号"), 32) + " \r\n";
}

std::string oldHeader(const std::string& mac) { return "#2.0.0.10&" + mac + "\r\n"; }

const std::string example =
    "RECORD:RID=7-2&ACCOUNT=8001&CPN=13812345678&CDPN=075512345678&TYPE=OU&ROUTE=IP&MAC=00:1A:2B:3C:4D:5E&"
    "TIME-S=231208093015&DURATION=75&TRUNKN=3&";
const std::string mac = "00-1A-2B-3C-4D-5E";

class PlainReceiver : public testing::Test {
protected:
    void SetUp() override {
        folder.write("Quelvar.ini", "ENCRYPT=0\r\nAREACODE=010\r\n");
        folder.start();
    }
    std::string file(const std::string& relative) const { return readExisting(folder / ("rec/" + relative)); }
    // Sends a datagram and gives the answer as it came, or none.
    std::optional<std::string> exchange(const std::string& bytes, const SwitchClient& from,
                                        std::chrono::milliseconds limit = std::chrono::milliseconds(2000)) const {
        from.sendRaw(bytes);
        return from.receiveRaw(limit);
    }
    std::optional<std::string> exchange(const std::string& bytes,
                                        std::chrono::milliseconds limit = std::chrono::milliseconds(2000)) const {
        return exchange(bytes, sw, limit);
    }
    std::string newLog() const {
        const std::string texts = folder.todaysLogTexts();
        const std::string start = collectorPath(folder.path()) + "\r\n";
        return texts.substr(texts.find(start) + start.size());
    }
    std::string from(const SwitchClient& client) const { return "127.0.0.1:" + std::to_string(client.port()); }

    ScopedTimeZone zone{"CST-8"};
    ProgramFolder folder;
    SwitchClient sw;
};

TEST_F(PlainReceiver, FilesTheRecordIntoItsThreeFilesWithHeadersOnce) {
    EXPECT_EQ(exchange(example), std::string("RECORD:RID=7-2\0", 15));
    const std::string second = "RECORD:RID=8-1&ACCOUNT=8002&CPN=02112345678&CDPN=8001&TYPE=IN&ROUTE=XO&MAC=" +
                               std::string("00:1A:2B:3C:4D:5E&TIME-S=231208235930&DURATION=45&TRUNKN=12&");
    EXPECT_EQ(exchange(second), std::string("RECORD:RID=8-1\0", 15));

    const Plain one{callId("7-2"), "8001",         "13812345678",  "075512345678", "国内长途", "OU",
                    "IP",          "231208093015", "231208093130", "75",           "3"};
    const Plain two{callId("8-1"), "8002",         "02112345678",  "8001", "国内长途", "IN",
                    "XO",          "231208235930", "231209000015", "45",   "12"};
    EXPECT_EQ(file(mac + "/new/CDR_2023_12_08.txt"), textHeader(mac) + newText(one) + newText(two));
    EXPECT_EQ(file(mac + "/new/CDR_2023_12_08.csv"),
              csvHeader(mac) + newCsv(one, "呼出", "IP中继") + newCsv(two, "呼入", "模拟中继"));
    EXPECT_EQ(file(mac + "/old/CDR_2023_12_08.txt"), oldHeader(mac) + oldText(one) + oldText(two));
    EXPECT_EQ(newLog(),
              "recvfrom " + from(sw) + " [" + example + "]\r\nrecvfrom " + from(sw) + " [" + second + "]\r\n");
}

TEST_F(PlainReceiver, RollsTheStartOverAsTheCalendarDoes) {
    // Without TIME-S the start is day 0 of month 0 of 2000: 30 November 1999.
    exchange("RECORD:RID=12345&CPN=8001&CDPN=95588&TYPE=OU&ROUTE=IC&DURATION=0&MAC=AA:BB:CC:DD:EE:FF&");
    const Plain noStart{callId("12345"), "", "8001", "95588", "内线", "OU", "IC", "", "-11130000000", "0", ""};
    const std::string other = "AA-BB-CC-DD-EE-FF";
    EXPECT_EQ(file(other + "/old/CDR_2000_00_00.txt"), oldHeader(other) + oldText(noStart));
    EXPECT_EQ(file(other + "/new/CDR_2000_00_00.txt"), textHeader(other) + newText(noStart));
}

TEST_F(PlainReceiver, PadsShortRidsKeepsLongOnesAndCarriesTheTeletypeOver) {
    exchange(
        "RECORD:RID=1-2-3-4-5-6-7-8-9-0&CPN=&CDPN=8001&TYPE=IN&ROUTE=XO&TIME-S=240101000000&MAC=11:22:33:44:55:66&");
    exchange(
        "RECORD:RID=2-1&CPN=8001&CDPN=8002&TYPE=ZZ&ROUTE=QQ&TIME-S=240101000000&MAC=11:22:33:44:55:66&DURATION=5&");
    // An IN record without CPN classifies the empty number: special.
    const Plain first{"1-2-3-4-5-6-7-8-9-0", "", "", "8001", "特服电话", "IN", "XO", "240101000000",
                      "240101000000",        "", ""};
    const Plain second{callId("2-1"),  "",  "8001", "8002", "特服电话", "ZZ", "QQ", "240101000000",
                       "240101000005", "5", ""};
    EXPECT_EQ(file("11-22-33-44-55-66/new/CDR_2024_01_01.csv"),
              csvHeader("11-22-33-44-55-66") + newCsv(first, "呼入", "模拟中继") + newCsv(second, "内部通话", "总机"));
}

TEST_F(PlainReceiver, MixedCaseHeadIsLoggedTwiceAndAnsweredButNotFiled) {
    const std::string text = "Record:RID=3-1&MAC=DD&TIME-S=240101000000&";
    EXPECT_EQ(exchange(text), std::string("Record:RID=3-1\0", 15));
    EXPECT_EQ(exchange("RECORD:"), std::string("\0", 1)) << "no & at all: a single NUL";
    EXPECT_EQ(exchange("RECORD:ID=41&RID=77-1&ACCOUNT=8001&"), std::string("RECORD:ID=41\0", 13));
    EXPECT_EQ(exchange("RECORD:RID=4-1&ACCOUNT=8001&"), std::string("RECORD:RID=4-1\0", 15)) << "no MAC: answered";
    EXPECT_FALSE(fs::exists(folder / "rec/DD"));
    const std::string sender = from(sw);
    EXPECT_EQ(newLog(), "recvfrom " + sender + " [" + text + "]\r\nnot a record " + sender + " [" + text +
                            "]\r\nrecvfrom " + sender + " [RECORD:]\r\nrecvfrom " + sender +
                            " [RECORD:ID=41&RID=77-1&ACCOUNT=8001&]\r\nrecvfrom " + sender +
                            " [RECORD:RID=4-1&ACCOUNT=8001&]\r\n");
}

TEST_F(PlainReceiver, UnknownDatagramsAreLoggedWithTheSendersPortAndNotAnswered) {
    SwitchClient switchOn5060(5060);
    EXPECT_EQ(exchange(std::string("\0hidden", 7), switchOn5060, std::chrono::milliseconds(200)), std::nullopt);
    EXPECT_EQ(exchange("hello", switchOn5060, std::chrono::milliseconds(200)), std::nullopt);
    EXPECT_EQ(exchange("RECORD:RID=1&MAC=EE&", switchOn5060), std::string("RECORD:RID=1\0", 13));
    EXPECT_EQ(newLog(),
              "unknown message 127.0.0.1:5060 []\r\nunknown message 127.0.0.1:5060 [hello]\r\n"
              "recvfrom 127.0.0.1:5060 [RECORD:RID=1&MAC=EE&]\r\n");
}

TEST_F(PlainReceiver, ControlCharactersNeverMakeUpALineInTheFilesOrTheLog) {
    // A value that would end its line and forge a call behind it, and a MAC
    // that would end the header.
    const std::string forged = "8001\r\n0000000000000000099 8001\t\x1b";
    const std::string record = "RECORD:RID=7-2&ACCOUNT=8001&CPN=" + forged +
                               "&CDPN=075512345678&TYPE=OU&ROUTE=IP&MAC=00:1A:2B:3C:4D:5\r&TIME-S=231208093015&"
                               "DURATION=75&TRUNKN=3&";
    EXPECT_EQ(exchange(record), std::string("RECORD:RID=7-2\0", 15));
    const std::string unknown = "hello\r\n2026-12-10   09:00:00   Quelvar stop 2.0.0.10";
    EXPECT_EQ(exchange(unknown, std::chrono::milliseconds(200)), std::nullopt);

    // Windows refuses the CR in a name: there it is a '-'.
    const std::string switchFolder = underWine() ? "00-1A-2B-3C-4D-5-" : "00-1A-2B-3C-4D-5\r";
    const std::string shownMac = "00-1A-2B-3C-4D-5\\r";
    const Plain one{callId("7-2"),
                    "8001",
                    "8001\\r\\n0000000000000000099 8001\\t\\x1B",
                    "075512345678",
                    "国内长途",
                    "OU",
                    "IP",
                    "231208093015",
                    "231208093130",
                    "75",
                    "3"};
    EXPECT_EQ(file(switchFolder + "/new/CDR_2023_12_08.txt"), textHeader(shownMac) + newText(one));
    EXPECT_EQ(file(switchFolder + "/new/CDR_2023_12_08.csv"), csvHeader(shownMac) + newCsv(one, "呼出", "IP中继"));
    EXPECT_EQ(file(switchFolder + "/old/CDR_2023_12_08.txt"), oldHeader(shownMac) + oldText(one));
    // Read as it is: what looks like a stamp inside a line is no stamp.
    const std::string log = folder.todaysLog();
    EXPECT_NE(log.find("   recvfrom " + from(sw) +
                       " [RECORD:RID=7-2&ACCOUNT=8001&CPN=8001\\r\\n0000000000000000099 8001\\t\\x1B&CDPN="
                       "075512345678&TYPE=OU&ROUTE=IP&MAC=00:1A:2B:3C:4D:5\\r&TIME-S=231208093015&DURATION=75&"
                       "TRUNKN=3&]\r\n"),
              std::string::npos)
        << log;
    EXPECT_NE(
        log.find("   unknown message " + from(sw) + " [hello\\r\\n2026-12-10   09:00:00   Quelvar stop 2.0.0.10]\r\n"),
        std::string::npos)
        << log;
    EXPECT_EQ(log.find("\n2026-12-10   09:00:00   Quelvar stop"), std::string::npos);
}

TEST_F(PlainReceiver, RepeatIsAnsweredAgainButFiledOnce) {
    EXPECT_EQ(exchange(example), std::string("RECORD:RID=7-2\0", 15));
    EXPECT_EQ(exchange(example), std::string("RECORD:RID=7-2\0", 15));
    // The key runs from RID= to the first '-' after it, across fields.
    const std::string spanning = "RECORD:RID=9&TIME-S=240101000000&MAC=FF&";
    EXPECT_EQ(exchange(spanning), std::string("RECORD:RID=9\0", 13));
    EXPECT_EQ(exchange("RECORD:RID=9&TIME-S=other&MAC=FF&"), std::string("RECORD:RID=9\0", 13));
    EXPECT_EQ(newLog(),
              "recvfrom " + from(sw) + " [" + example + "]\r\nrecvfrom " + from(sw) + " [" + spanning + "]\r\n");
    EXPECT_EQ(file(mac + "/old/CDR_2023_12_08.txt"),
              oldHeader(mac) + oldText({callId("7-2"), "8001", "13812345678", "075512345678", "国内长途", "OU", "IP",
                                        "231208093015", "231208093130", "75", "3"}));
}

TEST_F(PlainReceiver, RecordThatCannotBeWrittenIsNotAnsweredUntilItIs) {
    fs::create_directories(folder / "rec");
    folder.write("rec/" + mac, "a file where the switch's folder belongs");
    EXPECT_EQ(exchange(example, std::chrono::milliseconds(300)), std::nullopt);
    const std::string log = newLog();
    for (const char* name : {"new/CDR_2023_12_08.txt", "new/CDR_2023_12_08.csv", "old/CDR_2023_12_08.txt"})
        EXPECT_NE(log.find("ERROR   record not written to " + collectorPath(folder / ("rec/" + mac + "/" + name)) +
                           (underWine() ? ": " : ": Not a directory\r\n")),
                  std::string::npos)
            << log;
    fs::remove(folder / ("rec/" + mac));
    EXPECT_EQ(exchange(example), std::string("RECORD:RID=7-2\0", 15)) << "the retry is filed at once";
    EXPECT_EQ(file(mac + "/old/CDR_2023_12_08.txt").substr(0, oldHeader(mac).size()), oldHeader(mac));
}

TEST_F(PlainReceiver, MacNeverLeadsOutOfTheRecordFolder) {
    EXPECT_EQ(exchange("RECORD:RID=6-1&MAC=../../../../tmp/x&TIME-S=240101000000&"),
              std::string("RECORD:RID=6-1\0", 15));
    EXPECT_EQ(exchange("RECORD:RID=16-2&MAC=.."), std::string("RECORD:RID=16-2\0", 16));
    EXPECT_TRUE(fs::is_directory(folder / "rec/..-..-..-..-tmp-x/old"));
    EXPECT_TRUE(fs::is_directory(folder / "rec/--/old"));
    EXPECT_FALSE(fs::exists("/tmp/x&TIME-S=2401"));
}

}  // namespace
