// Bad days, end to end: a data root that fills up or turns read-only, a log
// folder that cannot be written, the special-number list removed while the
// collector runs. The collector must keep running, every record it
// acknowledged must be in its files whole, and every record it could not
// write must not be acknowledged and must be filed once the switch sends it
// again after the fault. Mounting needs root; elsewhere these tests skip.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include "e2e/harness.h"
#include "e2e/switch_client.h"
#include "support/time_zone.h"

namespace {

namespace fs = std::filesystem;

const std::string macFolder = "00-1A-2B-3C-4D-5E";

std::string record(int id) {
    return "RECORD:ID=" + std::to_string(id) + "&RID=" + std::to_string(id) +
           "-1&ACCOUNT=8001&CPN=8001&CDPN=13912345678&TYPE=OU&ROUTE=IP&MAC=00:1A:2B:3C:4D:5E&"
           "TIME-S=240315093000&DURATION=75&TRUNKN=3&";
}

// The old-format lines of a file by their record ID, each checked whole.
std::map<std::string, int> linesByRid(const std::string& contents) {
    std::map<std::string, int> lines;
    std::istringstream text(contents);
    for (std::string line; std::getline(text, line);) {
        if (line.empty() || line[0] == '#') continue;
        EXPECT_EQ(line.back(), '\r') << "a whole line ends in CR LF";
        EXPECT_EQ(line.size(), 176u) << "a whole line: " << line;
        const std::string rid = line.substr(0, 19);
        ++lines[rid.substr(rid.find_first_not_of('0'))];
    }
    return lines;
}

class Fault : public testing::Test {
protected:
    void SetUp() override {
        // The Wine server opens the files, outside the mounts made here.
        if (underWine()) GTEST_SKIP() << "the collector's files are opened outside this test's mounts";
        // Mounts made here stay in this test's own mount namespace.
        if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            GTEST_SKIP() << "mounting is not allowed here";
        fs::create_directories(dataRoot);
    }
    void mountTmpfs(const fs::path& where, const std::string& options) {
        ASSERT_EQ(mount("tmpfs", where.c_str(), "tmpfs", 0, options.c_str()), 0) << where << ": " << std::strerror(errno);
    }
    void remount(const fs::path& where, unsigned long flags, const std::string& options) {
        // Read-only only once no file in it is open for writing: the
        // collector closes the files it keeps open within a second of quiet.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        int result = -1;
        while ((result = mount(nullptr, where.c_str(), nullptr, MS_REMOUNT | flags, options.c_str())) != 0 &&
               errno == EBUSY && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_EQ(result, 0) << where << ": " << std::strerror(errno);
    }
    void start(const std::string& configuration) {
        folder.write("Quelvar.ini", configuration);
        folder.start();
    }
    // Sends the records as fast as it can and gives the IDs acknowledged.
    std::set<int> burst(const std::vector<int>& ids) {
        for (const int id : ids) sw.send(record(id));
        std::set<int> acknowledged;
        while (auto answer = sw.receive(std::chrono::milliseconds(1500)))
            acknowledged.insert(std::stoi(answer->substr(10)));
        waitUntilHandled(folder, sw);
        return acknowledged;
    }
    std::string oldFile() const { return readExisting(dataRoot / macFolder / "old/CDR_2024_03_15.txt"); }

    ScopedTimeZone zone{"CST-8"};
    TempFolder outside;
    fs::path dataRoot = outside.path() / "cdr";
    ProgramFolder folder;
    SwitchClient sw;
};

TEST_F(Fault, DataRootFillingUpMidBurstLosesNothingAcknowledged) {
    mountTmpfs(dataRoot, "size=48k");
    start("PATH=" + dataRoot.string() + "\r\n");
    std::vector<int> ids;
    for (int id = 1; id <= 300; ++id) ids.push_back(id);
    const std::set<int> acknowledged = burst(ids);
    ASSERT_FALSE(acknowledged.empty());
    ASSERT_LT(acknowledged.size(), ids.size()) << "the disk should have filled up";

    std::map<std::string, int> filed = linesByRid(oldFile());
    for (const int id : ids) {
        const int copies = filed.count(std::to_string(id) + "-1") ? filed[std::to_string(id) + "-1"] : 0;
        EXPECT_EQ(copies, acknowledged.count(id) ? 1 : 0) << "record " << id;
    }
    EXPECT_NE(folder.todaysLog().find(": No space left on device\r\n"), std::string::npos);

    // Room again: the switch sends what was not acknowledged, and it is filed.
    remount(dataRoot, 0, "size=8m");
    std::vector<int> again;
    for (const int id : ids)
        if (!acknowledged.count(id)) again.push_back(id);
    EXPECT_EQ(burst(again).size(), again.size());
    filed = linesByRid(oldFile());
    for (const int id : ids) EXPECT_EQ(filed[std::to_string(id) + "-1"], 1) << "record " << id;
}

TEST_F(Fault, ReadOnlyDataRootHoldsAcknowledgementsBackUntilWritable) {
    mountTmpfs(dataRoot, "size=4m");
    start("PATH=" + dataRoot.string() + "\r\n");
    EXPECT_EQ(burst({1}), std::set<int>{1});
    remount(dataRoot, MS_RDONLY, "");
    EXPECT_TRUE(burst({2, 3}).empty());
    EXPECT_NE(folder.todaysLog().find(": Read-only file system\r\n"), std::string::npos);
    remount(dataRoot, 0, "");
    EXPECT_EQ(burst({2, 3}), (std::set<int>{2, 3}));
    EXPECT_EQ(linesByRid(oldFile()), (std::map<std::string, int>{{"1-1", 1}, {"2-1", 1}, {"3-1", 1}}));
}

TEST_F(Fault, UnwritableLogFolderStillFilesAndAcknowledges) {
    start("PATH=" + dataRoot.string() + "\r\n");
    mountTmpfs(folder / "log", "size=64k,mode=0555");
    remount(folder / "log", MS_RDONLY, "");
    sw.send("not a record");
    for (const int id : {1, 2}) {
        sw.send(record(id));
        EXPECT_EQ(sw.receive(), "RECORD:ID=" + std::to_string(id));
    }
    ASSERT_EQ(umount((folder / "log").c_str()), 0);
    sw.send("logged again");
    waitUntilHandled(folder, sw);
    EXPECT_NE(folder.todaysLog().find("[logged again]"), std::string::npos);
    EXPECT_EQ(folder.todaysLog().find("[not a record]"), std::string::npos) << "lost while the folder was closed";
    EXPECT_EQ(linesByRid(oldFile()), (std::map<std::string, int>{{"1-1", 1}, {"2-1", 1}}));
}

TEST_F(Fault, SpecialNumberListRemovedWhileRunning) {
    start("PATH=" + dataRoot.string() + "\r\n");
    const std::string toBank =
        "RECORD:ID=1&RID=1-1&CPN=8001&CDPN=95588&TYPE=OU&ROUTE=IP&MAC=00:1A:2B:3C:4D:5E&"
        "TIME-S=240315093000&DURATION=5&";
    sw.send(toBank);
    EXPECT_EQ(sw.receive(), "RECORD:ID=1");
    fs::remove(folder / "tele.ini");
    sw.send(
        "RECORD:ID=2&RID=2-1&CPN=8001&CDPN=95588&TYPE=OU&ROUTE=IP&MAC=00:1A:2B:3C:4D:5E&TIME-S=240315093000&"
        "DURATION=5&");
    EXPECT_EQ(sw.receive(), "RECORD:ID=2");
    waitUntilHandled(folder, sw);
    const std::string old = oldFile();
    EXPECT_NE(old.find(gbk("特服电话")), std::string::npos) << "while the list was there";
    EXPECT_NE(old.find(gbk("市话")), std::string::npos) << "once it was gone";
    EXPECT_FALSE(fs::exists(folder / "tele.ini")) << "not made again while running";
}

}  // namespace
