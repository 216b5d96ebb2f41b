// The answer says the call is on the disk: the collector's system calls,
// recorded by strace, show every line it wrote synced before an answer
// leaves, in both modes; with SYNC=0 nothing is synced.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "e2e/harness.h"
#include "e2e/switch_client.h"

namespace {

namespace fs = std::filesystem;

bool haveStrace() { return std::system("strace -V >/dev/null 2>&1") == 0; }

// What the recording shows of the record files (under `records`) and the
// undo file: the answers sent, the syncs of those files, and each answer
// that left while one of them held bytes not yet synced.
struct Recording {
    int answers = 0;
    int writes = 0;
    int syncs = 0;
    std::vector<std::string> early;
};

Recording readRecording(const std::string& trace, const std::string& records, const std::string& undo) {
    Recording seen;
    std::set<std::string> unsynced;
    std::istringstream lines(trace);
    for (std::string line; std::getline(lines, line);) {
        // "<pid> <call>(<fd><<path>>, ..." as strace -f -y writes it, the
        // pid padded with blanks.
        const std::size_t blank = line.find_first_not_of(' ', line.find(' '));
        if (blank == std::string::npos) continue;
        const std::string call = line.substr(blank, line.find('(', blank) - blank);
        const std::size_t open = line.find('<', blank);
        const std::size_t close = open == std::string::npos ? open : line.find('>', open);
        const std::string path = close == std::string::npos ? "" : line.substr(open + 1, close - open - 1);
        const bool guarded = path.starts_with(records) || path == undo;
        if ((call == "write" || call == "pwrite64" || call == "writev") && guarded) {
            ++seen.writes;
            unsynced.insert(path);
        } else if ((call == "fdatasync" || call == "fsync") && guarded) {
            ++seen.syncs;
            unsynced.erase(path);
        } else if (call == "sendto" || call == "sendmsg") {
            ++seen.answers;
            if (!unsynced.empty()) seen.early.push_back(line + " while " + *unsynced.begin() + " is not synced");
        }
    }
    return seen;
}

std::string encryptedCall(int n) {
    const std::string rid = std::to_string(300 + n);
    return "RECORD:ID=" + std::to_string(n) + "&RID=" + rid + "-1&CPN=8001&CDPN=8002&TYPE=OU&ROUTE=IP&MAC=00-11&" +
           "TIME-S=240315093000&DURATION=75&TRUNKN=3&\nRECORD:ID=" + std::to_string(n + 100) + "&RID=" + rid +
           "-2&CPN=8001&CDPN=8003&COUNT=2&TYPE=OU&ROUTE=IP&MAC=00-1" + std::to_string(n % 2) +
           "&TIME-S=240315093100&TIME-E=240315093200&DURATION=60&TRUNKN=3&";
}

std::string plainCall(int n) {
    return "RECORD:RID=" + std::to_string(300 + n) + "-1&ACCOUNT=8001&CPN=13812345678&CDPN=075512345678&TYPE=OU&" +
           "ROUTE=IP&MAC=00:1A:2B:3C:4D:5" + std::to_string(n % 2) + "&TIME-S=231208093015&DURATION=75&TRUNKN=3&";
}

TEST(DurableAnswer, NoAnswerLeavesBeforeItsLinesAreSyncedAndSyncZeroSyncsNothing) {
    if (underWine()) GTEST_SKIP() << "strace records a Linux collector only";
    if (!haveStrace()) GTEST_SKIP() << "strace is not installed: the system calls cannot be recorded";
    for (const bool plain : {false, true})
        for (const bool sync : {true, false}) {
            SCOPED_TRACE(std::string(plain ? "plain" : "encrypted") + (sync ? ", syncing" : ", SYNC=0"));
            ProgramFolder folder;
            folder.write("Quelvar.ini", std::string(plain ? "ENCRYPT=0\r\n" : "") + (sync ? "" : "SYNC=0\r\n"));
            TempFolder outputs;
            const std::string trace = outputs / "trace";
            folder.startUnder({"strace", "-f", "-y", "-e", "trace=desc,network", "-o", trace});
            // A burst from two switches, so that batches of several
            // datagrams and several files come about, then one call alone.
            SwitchClient first;
            SwitchClient second;
            const int calls = 6;
            for (int n = 0; n < calls; ++n) {
                const SwitchClient& from = n % 2 == 0 ? first : second;
                if (plain)
                    from.sendRaw(plainCall(n));
                else
                    from.send(encryptedCall(n));
            }
            int answered = 0;
            for (int n = 0; n < calls; ++n)
                if ((n % 2 == 0 ? first : second).receiveRaw()) ++answered;
            if (plain)
                first.sendRaw(plainCall(calls));
            else
                first.send(encryptedCall(calls));
            if (first.receiveRaw()) ++answered;
            EXPECT_EQ(answered, calls + 1);
            folder.stop();

            const Recording seen =
                readRecording(readExisting(trace), (folder / "rec").string() + "/", (folder / "quelvar.undo").string());
            EXPECT_GE(seen.answers, calls + 1);
            EXPECT_GT(seen.writes, 0);
            if (sync) {
                EXPECT_GT(seen.syncs, 0);
                for (const std::string& early : seen.early) ADD_FAILURE() << "answer sent early: " << early;
            } else {
                EXPECT_EQ(seen.syncs, 0) << "SYNC=0 syncs no record file and no undo file";
                EXPECT_FALSE(seen.early.empty()) << "with SYNC=0 the answers leave before a sync";
            }
        }
}

}  // namespace
