// The event log's lines about records not written and datagrams not taken.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "quelvar_report/reading/log_counts.h"
#include "support/temp_folder.h"

namespace {

TEST(LogCounts, EachLineCountsForItsSenderAndNothingElseCounts) {
    struct Case {
        std::string text;  // after the stamp
        long notWritten, unknown, tooLong, refused;
    };
    const std::vector<Case> cases = {
        {"ERROR   record not written to /rec/A/new/CDR_2026_12_10.txt: No space left on device", 1, 0, 0, 0},
        {"unknown message 10.1.2.3:5000 [hello]", 0, 1, 0, 0},
        {"unknown message 10.1.2.3:5000 []", 0, 1, 0, 0},
        {"WARNING   37 more unknown messages from 10.1.2.3 suppressed", 0, 37, 0, 0},
        {"WARNING   datagram of more than 64 lines from 10.1.2.3:5000 refused", 0, 0, 1, 0},
        {"WARNING   datagram from 10.1.2.3 refused", 0, 0, 0, 1},
        {"WARNING   12 more datagrams from 10.1.2.3 refused", 0, 0, 0, 12},
        {"WARNING   7 more records from 10.1.2.3 not written", 7, 0, 0, 0},
        // Not lines of those kinds.
        {"recvfrom 10.1.2.3:5000 [RECORD:ID=1&unknown message 10.1.2.3:1 [x]]", 0, 0, 0, 0},
        {"not a record 10.1.2.3:5000 [ERROR   record not written to /x: No space left on device]", 0, 0, 0, 0},
        {"WARNING   -5 more unknown messages from 10.1.2.3 suppressed", 0, 0, 0, 0},
        {"WARNING   99999999999999999999999 more datagrams from 10.1.2.3 refused", 0, 0, 0, 0},
        {"WARNING   5 more unknown messages from 10.1.2.3", 0, 0, 0, 0},
        {"WARNING   Quelvar: 文件夹访问错误!", 0, 0, 0, 0},
        {"ERROR   XLS-00009: the rows could not be written", 0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        quelvar::report::LogCounts counts;
        quelvar::report::countLogLines("2026-12-10   10:00:00   " + c.text + "\r\n", counts);
        const quelvar::report::SenderCounts sender = counts.senders["10.1.2.3"];
        EXPECT_EQ(counts.notWritten, c.notWritten) << c.text;
        EXPECT_EQ(sender.unknown, c.unknown) << c.text;
        EXPECT_EQ(sender.tooLong, c.tooLong) << c.text;
        EXPECT_EQ(sender.refused, c.refused) << c.text;
        EXPECT_EQ(counts.senders.size(), 1u) << c.text;
    }
}

TEST(LogCounts, LinesWithoutAStampOrCutShortAreLeftOut) {
    quelvar::report::LogCounts counts;
    quelvar::report::countLogLines("unknown message 10.1.2.3:5000 [no stamp]\r\n"
                                   "2026-12-10 10:00:00 unknown message 10.1.2.3:5000 [one space]\r\n"
                                   "2026-12-10   10:00:00   \r\n"
                                   "2026-12-10   10:00\r\n"
                                   "2026-12-10   10:00:00   unknown message 10.1.2.3:5000 [counted]\n"
                                   "2026-12-10   10:00:01   unknown message 10.1.2.3:5000 [last, no line end]",
                                   counts);
    EXPECT_EQ(counts.senders["10.1.2.3"].unknown, 2);
}

TEST(LogCounts, ALargeLogIsReadWholeWhereverItsPiecesEnd) {
    TempFolder folder;
    const std::string counted = "2026-12-10   10:00:00   unknown message 10.1.2.3:5000 [x]\r\n";
    const auto filler = [](std::size_t bytes) {
        return "2026-12-10   10:00:00   recvfrom 10.1.2.3:5000 [" + std::string(bytes - 50, 'r') + "]\r\n";
    };
    std::string log;
    // A counted line across each MiB the file is read by, and one after a
    // line of 3 MiB.
    for (std::size_t mib = 1; mib <= 4; ++mib) {
        while (log.size() + 2000 < (mib << 20) - 20) log += filler(1000);
        log += filler((mib << 20) - 20 - log.size());
        log += counted;
    }
    log += filler(3u << 20) + counted + counted.substr(0, counted.size() - 2);
    writeBytes(folder.path() / "20261210.log", log);
    quelvar::report::LogCounts counts;
    ASSERT_TRUE(quelvar::report::countLogFile(folder / "20261210.log", counts).ok());
    EXPECT_EQ(counts.senders["10.1.2.3"].unknown, 6);
}

TEST(LogCounts, APipeInTheLogsPlaceIsRefusedNotWaitedFor) {
    TempFolder folder;
    ASSERT_EQ(mkfifo((folder / "20261210.log").c_str(), 0600), 0);
    quelvar::report::LogCounts counts;
    const quelvar::Status status = quelvar::report::countLogFile(folder / "20261210.log", counts);
    EXPECT_FALSE(status.ok());
    EXPECT_NE(status.text().find("Not a regular file"), std::string::npos) << status.text();
}

}  // namespace
