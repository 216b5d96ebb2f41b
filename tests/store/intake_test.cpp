#include "store/intake.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "core/folders.h"
#include "core/text.h"
#include "platform/program_dir.h"
#include "store/event_log.h"
#include "support/temp_folder.h"
#include "support/today.h"

namespace quelvar {
namespace {

namespace fs = std::filesystem;

// The intake logs beside the running executable, here the test program.
class IntakeTest : public testing::Test {
protected:
    fs::path logFile() const { return fs::path(toAnsi(getProgramDir())) / "log" / todayAs("%Y%m%d.log"); }
    void SetUp() override { before_ = fs::exists(logFile()) ? fs::file_size(logFile()) : 0; }
    // What was appended to the log since the test began, without stamps.
    std::string appended() const {
        const std::string log = readBytes(logFile());
        const std::string added = log.substr(std::min<std::size_t>(before_, log.size()));
        std::string texts;
        for (std::size_t position = 0; position < added.size();) {
            EXPECT_EQ(added.substr(position + 4, 1), "-") << "stamp at " << position;
            position += 24;
            const std::size_t end = added.find("\r\n", position);
            const std::size_t next = end == std::string::npos ? added.size() : end + 2;
            texts += added.substr(position, next - position);
            position = next;
        }
        return texts;
    }

private:
    std::uintmax_t before_ = 0;
};

TEST_F(IntakeTest, RepliesWithTheIdOfRecordsThatHaveAMac) {
    const struct {
        const wchar_t* message;
        const wchar_t* reply;
    } cases[] = {
        {L"RECORD:ID=42&MAC=00-11-22-33-44-55&", L"42"},
        {L"RECORD:MAC=00-11-22-33-44-55&RID=7&", L""},
        {L"RECORD:ID=42&RID=7&", L""},
        {L"RECORD:ID=42&MAC=&", L""},
        {L"record:ID=42&MAC=00-11&\r\n", L""},
        {L"ID=42&MAC=00-11&\r\n", L""},
    };
    for (const auto& each : cases)
        EXPECT_EQ(submitMessageText(each.message), each.reply) << testing::PrintToString(std::wstring(each.message));
    // The two messages that are no records reach the log, and so does the
    // workbook's word on the two records without a MAC: they have no TIME.
    EXPECT_EQ(appended(),
              "ERROR   XLS-00020: record time '' names no month and day\r\n"
              "ERROR   XLS-00020: record time '' names no month and day\r\n"
              "record:ID=42&MAC=00-11&\r\nID=42&MAC=00-11&\r\n");
}

TEST_F(IntakeTest, LogsFormattedTextInGbkAndWhole) {
    const std::wstring longText(20000, L'x');
    EXPECT_EQ(submitMessage(L"unknown message %s:%d [%s]\r\n", L"127.0.0.1", 1809, L"中文"), L"");
    EXPECT_EQ(submitMessage(L"%s\r\n", longText), L"");
    EXPECT_EQ(appended(), "unknown message 127.0.0.1:1809 [\xD6\xD0\xCE\xC4]\r\n" + std::string(20000, 'x') + "\r\n");
}

TEST_F(IntakeTest, MessageWithoutLineEndLeavesItsLineOpen) {
    submitMessage(L"first");
    submitMessage(L"second\r\n");
    const std::string log = readBytes(logFile());
    const std::size_t first = log.rfind("first");
    ASSERT_NE(first, std::string::npos);
    EXPECT_EQ(log.substr(first + 5, 4), log.substr(0, 4)) << "the next stamp follows on the same line";
    EXPECT_EQ(log.substr(log.size() - 8), "second\r\n");
}

TEST(EventLog, NamesTheFileAndStampsTheLineFromOneReading) {
    const CalendarTime when{2024, 3, 7, 23, 59, 59};
    const std::string separator(1, platform::pathSeparator);
    EXPECT_EQ(eventLogPath("/opt/quelvar", when), "/opt/quelvar" + separator + "log" + separator + "20240307.log");
    EXPECT_EQ(eventStamp(when), "2024-03-07   23:59:59   ");
}

}  // namespace
}  // namespace quelvar
