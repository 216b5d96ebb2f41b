// What one sender on the local network can make the collector write: log
// lines without end, lines that pass for the collector's own, switch folders
// without end, and keys that take a real switch's room against repeats.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>

#include "e2e/harness.h"
#include "e2e/report_runner.h"
#include "e2e/switch_client.h"
#include "support/time_zone.h"

namespace {

namespace fs = std::filesystem;

std::size_t occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

// A switch's complete record, in either mode's spelling of its MAC.
std::string recordOf(int id, const std::string& mac) {
    return "RECORD:ID=" + std::to_string(id) + "&RID=" + std::to_string(id) +
           "-1&CPN=8001&CDPN=66001234&TYPE=OU&ROUTE=IP&MAC=" + mac + "&TIME-S=240315093000&DURATION=1&";
}

// A MAC of its own for each number, as a switch of either mode writes it.
std::string macNumber(int number, bool plain) {
    char mac[32];
    std::snprintf(mac, sizeof mac, plain ? "02:00:00:00:%02X:%02X" : "02-00-00-00-%02X-%02X", (number >> 8) & 255,
                  number & 255);
    return mac;
}

class HostileLog : public testing::TestWithParam<bool> {
protected:
    void start(const std::string& settings = {}) {
        folder.write("Quelvar.ini", (plain() ? "ENCRYPT=0\r\n" : "") + settings);
        folder.start();
    }
    bool plain() const { return GetParam(); }
    void send(const SwitchClient& from, const std::string& text) const {
        if (plain())
            from.sendRaw(text);
        else
            from.send(text);
    }
    // The ID of the next answer the sender gets, without the plain mode's
    // zero byte; none within 2 s.
    std::optional<std::string> nextAnswer(const SwitchClient& from) const {
        std::optional<std::string> answer = plain() ? from.receiveRaw() : from.receive();
        if (answer && plain() && !answer->empty() && answer->back() == '\0') answer->pop_back();
        return answer;
    }
    // Sends a record of a switch that has its folder, and takes its answer:
    // everything the sender sent before is handled then. True when nothing
    // sent before was answered.
    bool nothingAnsweredBefore(const SwitchClient& from) {
        const int id = ++marker;
        send(from, recordOf(id, plain() ? "00:1A:2B:3C:4D:5E" : "00-1A-2B-3C-4D-5E"));
        const std::string expected = "RECORD:ID=" + std::to_string(id);
        std::optional<std::string> answer = nextAnswer(from);
        const bool first = answer == expected;
        while (answer && *answer != expected) answer = nextAnswer(from);
        if (!answer) endTest("the record " + expected + " was not answered");
        return first;
    }
    std::size_t switchFolders() const {
        std::size_t count = 0;
        for (const auto& entry : fs::directory_iterator(folder / "rec"))
            if (entry.is_directory() && entry.path().filename() != "err") ++count;
        return count;
    }

    ScopedTimeZone zone{"CST-8"};
    ProgramFolder folder;
    SwitchClient sw{0, "127.0.0.1"};
    SwitchClient other{0, "127.0.0.2"};
    int marker = 1000;
};

// Before, every line of a record datagram that was no record was logged
// whole, twice: 20 such datagrams of 63 lines of 900 bytes wrote 2.3 MB
// (plain mode: 20 of 5,000 bytes wrote 200 KB), and a flood of them 21 MB/s.
TEST_P(HostileLog, ASendersJunkIsCappedAndCutWhileItsRecordsAreStillLogged) {
    start();
    const std::string junk(900, 'x');
    std::string datagram = "record:ID=1&";
    if (plain())
        datagram += std::string(5000, '\x01');
    else
        for (int line = 1; line < 64; ++line) datagram += "\n" + junk;
    const std::size_t before = folder.todaysLog().size();
    for (int copy = 0; copy < 20; ++copy) send(sw, datagram);
    nothingAnsweredBefore(sw);
    // The calls of the switch are all logged, beyond the cap.
    for (int call = 0; call < 12; ++call) nothingAnsweredBefore(sw);
    folder.stop();

    const std::string log = folder.todaysLog();
    EXPECT_LT(log.size() - before, 30000u);
    std::istringstream lines(log);
    std::size_t longest = 0;
    for (std::string line; std::getline(lines, line);) longest = std::max(longest, line.size());
    EXPECT_LT(longest, 24u + 600u);
    EXPECT_EQ(occurrences(log, "]... ("), 0u) << "the cut is told inside the brackets";
    EXPECT_NE(log.find(plain() ? "\\x01... (4" : "xxx... ("), std::string::npos) << "a cut payload says so";
    EXPECT_EQ(occurrences(log, "recvfrom 127.0.0.1:" + std::to_string(sw.port()) + " [RECORD:ID="), 13u);
    // The count is told at a stop; Wine's taskkill ends the collector without one.
    if (!underWine()) {
        EXPECT_NE(log.find(" more lines about datagrams from 127.0.0.1 suppressed\r\n"), std::string::npos) << log;
    }
}

// Before, a second line "ERROR   record not written to ..." of a record
// datagram was logged as it came behind a real stamp, with no line end: it
// went to standard error as an ERROR and quelvar-report status counted it.
TEST_P(HostileLog, TextFromTheNetworkNeverPassesForTheCollectorsOwnLine) {
    start();
    const std::string forged = "ERROR   record not written to /rec/x/old/CDR_2024_03_15.txt: No space left on device";
    send(sw, plain() ? "record:ID=5&\r\n" + forged : recordOf(5, "00-1A-2B-3C-4D-5E") + "\n" + forged);
    nothingAnsweredBefore(sw);
    folder.stop();

    const std::string texts = folder.todaysLogTexts();
    EXPECT_TRUE(folder.todaysLog().ends_with("\r\n"));
    std::istringstream lines(folder.todaysLog());
    for (std::string line; std::getline(lines, line);) {
        EXPECT_TRUE(line.ends_with("\r")) << "every entry ends with CR LF: " << line;
        EXPECT_FALSE(line.substr(24).starts_with("ERROR")) << line;
    }
    EXPECT_NE(texts.find(plain() ? "not a record 127.0.0.1:" + std::to_string(sw.port()) + " [record:ID=5&\\r\\n" +
                                       forged + "]\r\n"
                                 : "not a record 127.0.0.1:" + std::to_string(sw.port()) + " [" + forged + "]\r\n"),
              std::string::npos)
        << texts;
    EXPECT_EQ(folder.standardError().find("record not written"), std::string::npos) << folder.standardError();
#ifdef QUELVAR_REPORT
    if (!underWine()) {
        fs::copy_file(QUELVAR_REPORT, folder / "quelvar-report");
        ASSERT_EQ(runReport(folder.path(), "index").status, 0);
        const quelvar::test::Json status = reportJson(folder.path(), "status --days 1");
        for (const quelvar::test::Json& day : status["log"]["days"].items)
            EXPECT_EQ(day["not_written"].number, 0) << "the forged line is counted as a record not written";
    }
#endif
}

// Before, each line could name a new switch and each got a folder, "old"
// and a file: one datagram of 64 lines made 64 folders, 200 of them made
// 12,801 folders and 39,006 inodes, and every refusal was an uncapped ERROR.
TEST_P(HostileLog, NewSwitchFoldersAreLimitedPerSenderAndRefusalsAreCapped) {
    start();
    nothingAnsweredBefore(sw);  // the switch's own folder, the first of five
    if (plain()) {
        for (int number = 0; number < 12; ++number) send(sw, recordOf(number + 1, macNumber(number, true)));
    } else {
        std::string datagram;
        for (int number = 0; number < 64; ++number)
            datagram += (number == 0 ? "" : "\n") + recordOf(number + 1, macNumber(number, false));
        send(sw, datagram);
        EXPECT_TRUE(nothingAnsweredBefore(sw)) << "a datagram with refused lines is not answered";
    }
    nothingAnsweredBefore(sw);
    EXPECT_EQ(switchFolders(), 5u);
    // Another sender has a share of its own.
    send(other, recordOf(90, macNumber(90, plain())));
    EXPECT_EQ(nextAnswer(other), "RECORD:ID=90");
    EXPECT_EQ(switchFolders(), 6u);
    folder.stop();

    const std::string log = folder.todaysLog();
    const std::size_t refused = plain() ? 8 * 3 : 60;  // the plain mode writes three files a record
    EXPECT_EQ(occurrences(log, "too many new switches from this sender this hour\r\n"), 10u);
    if (!underWine()) {
        EXPECT_NE(
            log.find("WARNING   " + std::to_string(refused - 10) + " more records from 127.0.0.1 not written\r\n"),
            std::string::npos)
            << log;
    }
}

// Before, a datagram that was never answered kept its key against repeats:
// its copy was dropped unseen, and 300,000 of them could fill the table.
TEST_P(HostileLog, ADatagramNeitherAnsweredNorFiledTakesNoRoomAgainstRepeats) {
    if (plain()) GTEST_SKIP() << "the plain mode answers every datagram it takes for a record";
    start();
    for (int copy = 0; copy < 2; ++copy) send(sw, "record:ID=1&RID=42-1&");
    nothingAnsweredBefore(sw);
    EXPECT_EQ(
        occurrences(folder.todaysLog(), "recvfrom 127.0.0.1:" + std::to_string(sw.port()) + " [record:ID=1&RID=42-1&]"),
        2u);
}

// Only the listed switches get a folder; the others' records are refused,
// never acknowledged, and --check shows the list and what looks wrong.
TEST_P(HostileLog, OnlyTheSwitchesListedGetAFolder) {
    const std::string settings = "SWITCHES=00-1A-2B-3C-4D-5E, 02:00:00:00:00:07\r\nSWITCHES=00-1A-2B-3C-4D\r\n";
    folder.write("Quelvar.ini", (plain() ? "ENCRYPT=0\r\n" : "") + settings);
    const ProgramFolder::Output check = folder.run("--check");
    EXPECT_NE(check.output.find("switches: only 00-1A-2B-3C-4D-5E, 02:00:00:00:00:07, 00-1A-2B-3C-4D may get a new "
                                "folder\n"),
              std::string::npos)
        << check.output;
    EXPECT_NE(check.output.find("SWITCHES: \"00-1A-2B-3C-4D\" is no MAC of six hexadecimal pairs"), std::string::npos)
        << check.output;

    start(settings);
    nothingAnsweredBefore(sw);
    send(sw, recordOf(7, macNumber(7, plain())));
    EXPECT_EQ(nextAnswer(sw), "RECORD:ID=7") << "listed in the other spelling";
    send(sw, recordOf(8, macNumber(8, plain())));
    EXPECT_TRUE(nothingAnsweredBefore(sw));
    EXPECT_EQ(switchFolders(), 2u);
    EXPECT_NE(folder.todaysLog().find("the switch is not in SWITCHES of Quelvar.ini\r\n"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(BothModes, HostileLog, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& mode) { return mode.param ? "Plain" : "Encrypted"; });

}  // namespace
