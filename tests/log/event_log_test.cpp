#include "log/event_log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "log/warning.h"
#include "platform/files.h"
#include "support/temp_folder.h"
#include "support/today.h"

namespace quelvar {
namespace {

namespace fs = std::filesystem;

// A program folder of its own and its log of today, read back without stamps.
class EventLogTest : public testing::Test {
protected:
    std::string todaysLog() const { return readBytes(folder.path() / "log" / todayAs("%Y%m%d.log")); }
    std::string texts() const {
        static const std::regex stamp("\\d{4}-\\d\\d-\\d\\d   \\d\\d:\\d\\d:\\d\\d   ");
        const std::string written = todaysLog();
        EXPECT_EQ(written.substr(0, 4), todayAs("%Y")) << "every line begins with the stamp of its day";
        return std::regex_replace(written, stamp, "");
    }

    TempFolder folder;
    const EventLog log{folder.path().string()};
};

TEST_F(EventLogTest, WritesWideTextInGbkAndWholeMakingTheFolderWhenMissing) {
    ASSERT_FALSE(fs::exists(folder.path() / "log"));
    const std::wstring longText(20000, L'x');
    EXPECT_TRUE(log.writeEventLine(L"unknown message 127.0.0.1:1809 [中文]\r\n").ok());
    EXPECT_TRUE(log.writeEventLine(longText + L"\r\n").ok());
    EXPECT_EQ(texts(), "unknown message 127.0.0.1:1809 [\xD6\xD0\xCE\xC4]\r\n" + std::string(20000, 'x') + "\r\n");
}

// Before, a message without a line end left its line open and the next
// entry was glued to it.
TEST_F(EventLogTest, EveryEntryEndsWithCrLf) {
    log.writeEventLine(L"first");
    log.writeEventLine(L"second\r\n");
    log.writeEventLine(L"third\n");
    EXPECT_EQ(texts(), "first\r\nsecond\r\nthird\n\r\n");
}

TEST_F(EventLogTest, WritesEightBitTextByteForByteWithItsOwnLineEnd) {
    log.writePlainEventLine("/opt/\xE8\xAF\x9D collector");
    log.writePlainEventLine("Record:RID=1&MAC=00:11:22:33:44:55&");
    log.writePlainEventLine("record:x\xD6\xD0");
    EXPECT_EQ(texts(), "/opt/\xE8\xAF\x9D collector\r\nRecord:RID=1&MAC=00:11:22:33:44:55&\r\nrecord:x\xD6\xD0\r\n");
}

TEST_F(EventLogTest, ALogThatCannotBeWrittenSaysWhere) {
    writeBytes(folder.path() / "log", "a file where the folder belongs");
    const Status written = log.writeEventLine(L"lost\r\n");
    EXPECT_FALSE(written.ok());
    EXPECT_NE(written.subject().find(todayAs("%Y%m%d.log")), std::string::npos) << written.text();
}

#ifndef _WIN32
// Where a desktop may be, the warning would wait for the operator.
TEST_F(EventLogTest, AWarningGoesToTheLogBeforeTheOperator) {
    EXPECT_FALSE(showWarning(log, L"Quelvar", L"文件夹访问错误!")) << "no desktop here";
    EXPECT_EQ(texts(), "WARNING   Quelvar: \xCE\xC4\xBC\xFE\xBC\xD0\xB7\xC3\xCE\xCA\xB4\xED\xCE\xF3!\r\n");
}
#endif

TEST(EventLog, NamesTheFileAndStampsTheLineFromOneReading) {
    const CalendarTime when{2024, 3, 7, 23, 59, 59};
    const std::string separator(1, platform::pathSeparator);
    EXPECT_EQ(eventLogPath("/opt/quelvar", when), "/opt/quelvar" + separator + "log" + separator + "20240307.log");
    EXPECT_EQ(eventStamp(when), "2024-03-07   23:59:59   ");
}

}  // namespace
}  // namespace quelvar
