// Filing cut short, end to end: the collector killed in the middle of a
// burst, or its disk filling up. The switch sends every call that was not
// acknowledged again until it is; then every call must stand in each of its
// files exactly once, line for line as the layout has it, whatever happened
// in between.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <vector>

#include "e2e/harness.h"
#include "e2e/record_files.h"
#include "e2e/switch_client.h"
#include "support/time_zone.h"

namespace {

namespace fs = std::filesystem;

const std::string macFolder = "00-1A-2B-3C-4D-5E";
const std::string day = "CDR_2024_03_15";

struct Mode {
    const char* name;
    bool plain;
};
constexpr Mode modes[] = {{"encrypted", false}, {"plain", true}};

// Six-digit IDs keep every line of a kind the same length.
std::vector<long> callIds(long count) {
    std::vector<long> ids;
    for (long id = 100001; id < 100001 + count; ++id) ids.push_back(id);
    return ids;
}

std::string leg(long id, int number, const std::string& start, int duration, int trunk) {
    return "RECORD:ID=" + std::to_string(id) + "&RID=" + std::to_string(id) + "-" + std::to_string(number) +
           "&ACCOUNT=8001&CPN=8001&CDPN=13912345678&TYPE=OU&ROUTE=IP&MAC=00:1A:2B:3C:4D:5E&TIME-S=" + start +
           "&DURATION=" + std::to_string(duration) + "&TRUNKN=" + std::to_string(trunk) + "&";
}

// An enciphered call has two legs, so that three files take four lines of
// it; a plain one is one record in three files.
std::string callText(const Mode& mode, long id) {
    if (mode.plain) return leg(id, 1, "240315093000", 75, 3);
    return leg(id, 1, "240315093000", 75, 3) + "\n" + leg(id, 2, "240315093115", 20, 5);
}

void sendCall(const Mode& mode, const SwitchClient& sw, long id) {
    if (mode.plain)
        sw.sendRaw(callText(mode, id));
    else
        sw.send(callText(mode, id));
}

// The plain mode's widths count bytes and its layout differs in places.
std::string pad(const std::string& bytes, std::size_t width) {
    return bytes.size() >= width ? bytes : bytes + std::string(width - bytes.size(), ' ');
}

struct ExpectedFile {
    std::string header;
    std::vector<std::string> lines;
};

// Each file of the switch with its header and every line the calls make in it.
std::map<std::string, ExpectedFile> expectedFiles(const Mode& mode, const std::vector<long>& ids) {
    std::map<std::string, ExpectedFile> files;
    ExpectedFile& oldFile = files["old/" + day + ".txt"];
    ExpectedFile& newFile = files["new/" + day + ".txt"];
    ExpectedFile& csvFile = files["new/" + day + ".csv"];
    if (mode.plain) {
        oldFile.header = "#2.0.0.10&" + macFolder + "\r\n";
        newFile.header = oldFile.header + " " + pad("Call-ID", 17) + " " + pad("Account", 17) + " " + pad("CPN", 20) +
                         " " + pad("Count", 2) + " " + pad("CDPN", 22) + " " + pad("Teletype", 19) + " " +
                         pad("Type", 4) + " " + pad("Route", 4) + " " + pad("Time-S", 12) + " " + pad("Time-E", 10) +
                         " " + pad("Duration", 5) + " " + pad("Trunk-N", 32) + " \r\n";
        csvFile.header = oldFile.header + " " + pad(gbk("编号"), 17) + "," + pad(gbk("账号"), 17) + "," +
                         pad(gbk("主叫"), 20) + "," + pad(gbk("被叫"), 22) + "," + pad(gbk("话务类型"), 19) + "," +
                         pad(gbk("通话类型"), 4) + "," + pad(gbk("路由规则"), 4) + "," + pad(gbk("开始时间"), 12) +
                         "," + pad(gbk("结束时间"), 10) + "," + pad(gbk("通话时长"), 5) + "," + pad(gbk("中继号"), 32) +
                         " \r\n";
        const std::string teletype = pad(gbk("市话"), 16);
        for (const long id : ids) {
            const std::string callId = zeroPaddedRid(std::to_string(id) + "-1");
            oldFile.lines.push_back(pad(callId, 19) + " " + pad("8001", 24) + " " + pad("13912345678", 24) + " " +
                                    teletype + "   " + pad("OU", 2) + " " + pad("240315093000", 12) + " " +
                                    pad("240315093115", 12) + " " + pad("75", 5) + " " + pad("IP", 2) + " " +
                                    pad("3", 32) + " " + pad("8001", 15) + "\r\n");
            newFile.lines.push_back(pad(callId, 17) + " " + pad("8001", 15) + " " + pad("8001", 24) + " 1  " +
                                    pad("13912345678", 24) + " " + teletype + "   " + pad("OU", 4) + " " +
                                    pad("IP", 4) + " " + pad("240315093000", 12) + " " + pad("240315093115", 12) + " " +
                                    pad("75", 5) + " " + pad("3", 32) + " \r\n");
            csvFile.lines.push_back(pad(callId, 17) + "," + pad("8001", 15) + "," + pad("8001", 24) + "," +
                                    pad("13912345678", 24) + "," + teletype + "," + pad(gbk("呼出"), 4) + "," +
                                    pad(gbk("IP中继"), 4) + "," + pad("240315093000", 12) + "," +
                                    pad("240315093115", 12) + "," + pad("75", 5) + "," + pad("3", 32) + " \r\n");
        }
        return files;
    }
    oldFile.header = oldHeader(macFolder);
    newFile.header = newHeader(macFolder);
    csvFile.header = csvHeader(macFolder);
    for (const long id : ids) {
        const std::string call = std::to_string(id);
        oldFile.lines.push_back(oldLine({call + "-1", "8001", "8001", "", "13912345678", "市话", "OU", "IP",
                                         "240315093000", "240315093115", "75", "3"}));
        oldFile.lines.push_back(oldLine({call + "-2", "8001", "8001", "", "13912345678", "市话", "OU", "IP",
                                         "240315093115", "240315093135", "20", "5"}));
        const RecordColumns merged{call + "-1",    "8001",         "8001", "2", "13912345678", "市话", "OU", "IP",
                                   "240315093000", "240315093115", "75",   "3"};
        newFile.lines.push_back(newLine(merged));
        csvFile.lines.push_back(csvLine(merged, "呼出", "IP中继"));
    }
    return files;
}

// Every file holds its header once, at its head, and then each expected line
// exactly once, in any order, and nothing else.
void expectEachLineOnce(const fs::path& switchFolder, const std::map<std::string, ExpectedFile>& files) {
    for (const auto& [name, expected] : files) {
        SCOPED_TRACE(name);
        const std::string contents = readExisting(switchFolder / name);
        ASSERT_TRUE(contents.starts_with(expected.header)) << contents.substr(0, 400);
        std::vector<std::string> lines;
        for (std::size_t start = expected.header.size(); start < contents.size();) {
            const std::size_t end = contents.find("\r\n", start);
            ASSERT_NE(end, std::string::npos) << "a line cut short at the end: " << contents.substr(start);
            lines.push_back(contents.substr(start, end + 2 - start));
            start = end + 2;
        }
        std::vector<std::string> wanted = expected.lines;
        std::sort(lines.begin(), lines.end());
        std::sort(wanted.begin(), wanted.end());
        std::vector<std::string> extra, missing;
        std::set_difference(lines.begin(), lines.end(), wanted.begin(), wanted.end(), std::back_inserter(extra));
        std::set_difference(wanted.begin(), wanted.end(), lines.begin(), lines.end(), std::back_inserter(missing));
        EXPECT_TRUE(extra.empty()) << extra.size() << " lines too many (twice or foreign), the first:\n"
                                   << (extra.empty() ? "" : extra.front());
        EXPECT_TRUE(missing.empty()) << missing.size() << " lines missing, the first:\n"
                                     << (missing.empty() ? "" : missing.front());
    }
}

long answeredId(const std::string& answer) {
    if (!answer.starts_with("RECORD:ID=")) endTest("not an answer to a call: " + answer);
    return std::strtol(answer.c_str() + 10, nullptr, 10);
}

// A switch that sends its calls again until each is acknowledged. It sends
// in bursts and takes each burst's answers before the next goes out, so
// that no answer is lost for want of room in its socket: a call answered
// and sent again would be filed again by a collector started meanwhile,
// which cannot know it.
class PatientSwitch {
public:
    static constexpr std::size_t burst = 100;

    PatientSwitch(const Mode& mode, std::vector<long> ids) : mode_(mode), ids_(std::move(ids)) {}

    // Sends the calls not acknowledged yet among the next `count` from
    // `first`, without waiting for answers.
    void send(std::size_t first, std::size_t count) {
        for (std::size_t index = first; index < std::min(first + count, ids_.size()); ++index)
            if (!answered_.contains(ids_[index])) sendCall(mode_, sw_, ids_[index]);
    }
    // Takes answers until at least `count` calls have one, or none comes
    // within the time.
    void takeAnswers(std::size_t count, std::chrono::milliseconds quiet) {
        while (answered_.size() < count) {
            const auto answer = mode_.plain ? sw_.receiveRaw(quiet) : sw_.receive(quiet);
            if (!answer) return;
            answered_.insert(answeredId(*answer));
        }
    }
    // Every call not acknowledged yet, a burst at a time.
    void sendRound() {
        for (std::size_t first = 0; first < ids_.size(); first += burst) {
            const std::size_t waiting = unansweredAmong(first, burst);
            send(first, burst);
            takeAnswers(answered_.size() + waiting, std::chrono::milliseconds(500));
        }
        // Late answers, which the next round must not take for new ones.
        takeAnswers(ids_.size(), std::chrono::milliseconds(300));
    }
    // Rounds until every call is acknowledged; ends the test after `rounds`.
    void sendUntilAllAnswered(int rounds) {
        for (int round = 0; round < rounds && answered_.size() < ids_.size(); ++round) sendRound();
        if (answered_.size() < ids_.size())
            endTest(std::to_string(ids_.size() - answered_.size()) + " calls still unanswered after " +
                    std::to_string(rounds) + " rounds");
    }
    std::size_t answered() const { return answered_.size(); }

private:
    std::size_t unansweredAmong(std::size_t first, std::size_t count) const {
        std::size_t waiting = 0;
        for (std::size_t index = first; index < std::min(first + count, ids_.size()); ++index)
            waiting += answered_.contains(ids_[index]) ? 0 : 1;
        return waiting;
    }

    const Mode& mode_;
    std::vector<long> ids_;
    std::set<long> answered_;
    SwitchClient sw_;
};

std::string configurationOf(const Mode& mode) {
    return std::string(mode.plain ? "ENCRYPT=0\r\n" : "") + "AREACODE=0755\r\n";
}

long countOf(const std::string& text, const std::string& what) {
    long count = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
    return count;
}

TEST(InterruptedFiling, KillInTheMiddleOfABurstLeavesEveryCallOnceInEachFile) {
    if (underWine()) GTEST_SKIP() << "signals are Linux's: under Wine the collector is ended with taskkill /F";
    const ScopedTimeZone zone("CST-8");
    const std::vector<long> ids = callIds(3000);
    for (const Mode& mode : modes) {
        SCOPED_TRACE(mode.name);
        ProgramFolder folder;
        folder.write("Quelvar.ini", configurationOf(mode));
        folder.start();
        PatientSwitch sw(mode, ids);
        // Seven bursts answered, and the eighth killed a tenth of the way
        // through: the kill finds the collector in the middle of one
        // datagram or another of those queued for it.
        const std::size_t killed = 7 * PatientSwitch::burst;
        for (std::size_t first = 0; first < killed; first += PatientSwitch::burst) {
            sw.send(first, PatientSwitch::burst);
            sw.takeAnswers(first + PatientSwitch::burst, std::chrono::seconds(10));
        }
        ASSERT_EQ(sw.answered(), killed);
        sw.send(killed, PatientSwitch::burst);
        sw.takeAnswers(killed + PatientSwitch::burst / 10, std::chrono::seconds(10));
        folder.signal(SIGKILL);
        EXPECT_EQ(folder.waitForEnd(), 128 + SIGKILL);
        // The answers the killed collector sent are here by now.
        sw.takeAnswers(ids.size(), std::chrono::milliseconds(200));
        const std::size_t beforeKill = sw.answered();
        EXPECT_LT(beforeKill, ids.size()) << "the kill came in the middle";

        folder.start();
        sw.sendUntilAllAnswered(30);
        expectEachLineOnce(folder / ("rec/" + macFolder), expectedFiles(mode, ids));
        const std::string log = folder.todaysLog();
        EXPECT_EQ(log.find("ERROR"), std::string::npos) << log.substr(0, 2000);
        testing::Test::RecordProperty(std::string(mode.name) + "_answered_before_kill", std::to_string(beforeKill));
        testing::Test::RecordProperty(std::string(mode.name) + "_files_taken_back_at_start",
                                      std::to_string(countOf(log, "WARNING   lines of an unfinished datagram")));
        folder.stop();
    }
}

// A record folder on a small file system of its own, in this test's own
// mount namespace; mounting needs root, elsewhere the test skips.
class FullDisk : public testing::Test {
protected:
    void SetUp() override {
        if (underWine()) GTEST_SKIP() << "the collector's files are opened outside this test's mounts";
        if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            GTEST_SKIP() << "mounting is not allowed here: " << std::strerror(errno);
    }
    void mountTmpfs(const fs::path& where, const std::string& options) {
        fs::create_directories(where);
        ASSERT_EQ(mount("tmpfs", where.c_str(), "tmpfs", 0, options.c_str()), 0)
            << where << ": " << std::strerror(errno);
    }
    void resize(const fs::path& where, const std::string& options) {
        ASSERT_EQ(mount(nullptr, where.c_str(), nullptr, MS_REMOUNT, options.c_str()), 0)
            << where << ": " << std::strerror(errno);
    }

    ScopedTimeZone zone{"CST-8"};
};

TEST_F(FullDisk, FillingUpMidBurstLeavesEveryCallOnceInEachFileAfterTheRetries) {
    const std::vector<long> ids = callIds(300);
    for (const Mode& mode : modes) {
        SCOPED_TRACE(mode.name);
        ProgramFolder folder;
        folder.write("Quelvar.ini", configurationOf(mode));
        // Room for about a third of the calls, filled up a page at a time.
        mountTmpfs(folder / "rec", "size=64k");
        folder.start();
        PatientSwitch sw(mode, ids);
        sw.sendRound();
        const std::size_t answeredWhileFull = sw.answered();
        EXPECT_GT(answeredWhileFull, 0u);
        EXPECT_LT(answeredWhileFull, ids.size()) << "the disk should have filled up";
        const std::string log = folder.todaysLog();
        EXPECT_NE(log.find("ERROR   record not written to "), std::string::npos);
        EXPECT_NE(log.find(": No space left on device\r\n"), std::string::npos);

        // Room again: the switch sends what was not acknowledged.
        resize(folder / "rec", "size=8m");
        sw.sendUntilAllAnswered(5);
        expectEachLineOnce(folder / ("rec/" + macFolder), expectedFiles(mode, ids));
        testing::Test::RecordProperty(std::string(mode.name) + "_answered_while_full",
                                      std::to_string(answeredWhileFull));
        testing::Test::RecordProperty(std::string(mode.name) + "_not_written_lines",
                                      std::to_string(countOf(folder.todaysLog(), "ERROR   record not written")));
        folder.stop();
        ASSERT_EQ(umount((folder / "rec").c_str()), 0) << std::strerror(errno);
    }
}

}  // namespace
