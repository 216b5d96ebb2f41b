#include "filing/intake.h"

#include <gtest/gtest.h>

#include <regex>

#include "core/text.h"
#include "filing/special_numbers.h"
#include "support/temp_folder.h"
#include "support/today.h"

namespace quelvar {
namespace {

// A program folder of its own with everything the intake hands records to.
class IntakeTest : public testing::Test {
protected:
    IntakeTest() {
        settings.programDir = fromAnsi(folder.path().string());
        settings.programDirAnsi = folder.path().string();
    }
    std::string loggedTexts() const {
        static const std::regex stamp("\\d{4}-\\d\\d-\\d\\d   \\d\\d:\\d\\d:\\d\\d   ");
        return std::regex_replace(readBytes(folder.path() / "log" / todayAs("%Y%m%d.log")), stamp, "");
    }
    // One line as a datagram brings it.
    Status submit(std::wstring_view text, std::wstring_view& reply) {
        Record record;
        parseRecord(text, record);
        return intake.submitMessage(record, text, reply);
    }

    TempFolder folder;
    Settings settings;
    EventLog log{folder.path().string()};
    Classifier classifier{L"", specialNumberFilePath(folder.path().string())};
    RecordWriter records{settings, classifier};
    WorkbookExport workbook{settings.programDir, log};
    NetworkLog lines{log};
    Intake intake{lines, records, workbook};
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
    for (const auto& each : cases) {
        std::wstring_view reply = L"stale";
        EXPECT_TRUE(submit(each.message, reply).ok());
        EXPECT_EQ(reply, each.reply) << testing::PrintToString(std::wstring(each.message));
    }
    // The two messages that are no records reach the log behind a head of
    // the collector's own, their control characters escaped; so does
    // the workbook's word on the two records without a MAC: they have no
    // TIME.
    EXPECT_EQ(loggedTexts(),
              "ERROR   XLS-00020: record time '' names no month and day\r\n"
              "ERROR   XLS-00020: record time '' names no month and day\r\n"
              "not a record :0 [record:ID=42&MAC=00-11&\\r\\n]\r\n"
              "not a record :0 [ID=42&MAC=00-11&\\r\\n]\r\n");
}

TEST_F(IntakeTest, ARecordThatCannotBeWrittenIsLoggedAndGetsNoReply) {
    // A file stands where the record folder belongs.
    writeBytes(folder.path() / "rec", "x");
    std::wstring_view reply;
    const Status status = submit(L"RECORD:ID=42&RID=1-1&MAC=00-11&TYPE=OU&CDPN=95588&TIME-S=240101000000&DURATION=1&"
                                 L"ROUTE=IP&COUNT=1&",
                                 reply);
    EXPECT_FALSE(status.ok());
    EXPECT_EQ(reply, L"");
    const std::string texts = loggedTexts();
    const std::string file = (folder.path() / "rec" / "00-11" / "new" / "CDR_2024_01_01").string();
    EXPECT_EQ(texts.substr(0, texts.find(": ")), "ERROR   record not written to " + file + ".txt") << texts;
    EXPECT_NE(texts.find("ERROR   record not written to " + file + ".csv: "), std::string::npos)
        << "each line that failed is told";
}

}  // namespace
}  // namespace quelvar
