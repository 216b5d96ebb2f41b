#include "filing/workbook_export.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <process.h>
#else
#include <unistd.h>
#endif

#include <filesystem>
#include <list>

#include "core/format.h"
#include "core/text.h"
#include "filing/excel_sheet_writer.h"
#include "platform/files.h"
#include "support/temp_folder.h"
#include "xls/compound_file.h"
#include "xls/workbook_dump.h"

namespace quelvar {
namespace {

namespace fs = std::filesystem;
using namespace xls;

const std::string header = "帐号|类型|主叫|被叫|时间|时长|线路\n";

// A record without MAC; its texts live as long as the test.
Record record(const std::wstring& time, const std::wstring& duration = L"75", const std::wstring& cdpn = L"95588") {
    static std::list<std::wstring> texts;
    const std::wstring& text = texts.emplace_back(L"RECORD:TIME=" + time + L"&DURATION=" + duration +
                                                  L"&ACCOUNT=8001&TYPE=OU&CPN=8001&CDPN=" + cdpn + L"&ROUTE=IP&");
    Record parsed;
    parseRecord(text, parsed);
    return parsed;
}

// The system's words for a name that exists already, as a folder made where
// a file stands gets them.
std::string existsText(const TempFolder& folder) {
    writeBytes(folder.path() / "file", "x");
    return platform::makeFolderChain(folder / "file").reason();
}

// The event-log text of a failure: its "XLS-" number and the operator's text.
std::string told(const Status& status) {
    return status.ok() ? "" : formatBytes("XLS-%05d: %s\n", status.number(), status.reason());
}

class WorkbookExportTest : public testing::Test {
protected:
    // What the exports since the last look had to say.
    std::string logged() { return std::exchange(told_, std::string()); }

    void save(const Record& fields, const CalendarTime& now = {2017, 11, 20, 9, 0, 0}) {
        told_ += told(export_.exportToWorkbook(fields, now));
    }
    fs::path workbook(const std::string& name = "201711.xls") const { return folder.path() / "rec" / name; }

    TempFolder folder;

private:
    EventLog log_{folder.path().string()};
    WorkbookExport export_{fromAnsi(folder.path().string()), log_};
    std::string told_;
};

TEST_F(WorkbookExportTest, RowsOfADayGoToItsSheetWithTimesAndDurationsWorkedOut) {
    save(record(L"11-01 10:20:30"));
    save(record(L"11-01 10:21:00", L"3725", L"O'Brien ''x'"));
    save(record(L"11-02 00:00:01", L""));
    save(record(L"11-02/23:59:59", L"360000"));
    save(record(L"11-02 07:08", L"59x"));                            // a TIME without seconds keeps what it has
    save(record(L"11-02 07:09:00", L"1", std::wstring(300, L'9')));  // values have no length limit
    EXPECT_EQ(dumpWorkbookFile(workbook()), "sheet 01\n" + header +
                                                "8001|OU|8001|95588|10:20:30|00:01:15|IP\n"
                                                "8001|OU|8001|O'Brien ''x'|10:21:00|01:02:05|IP\n"
                                                "sheet 02\n" +
                                                header +
                                                "8001|OU|8001|95588|00:00:01|00:00:00|IP\n"
                                                "8001|OU|8001|95588|23:59:59|100:00:00|IP\n"
                                                "8001|OU|8001|95588|07:08:|00:00:59|IP\n"
                                                "8001|OU|8001|" +
                                                std::string(300, '9') + "|07:09:00|00:00:01|IP\n");
    EXPECT_EQ(logged(), "");
}

TEST_F(WorkbookExportTest, TheYearIsTheLatestThatDoesNotPutTheRecordAheadOfTheClock) {
    const struct {
        const wchar_t* time;
        CalendarTime now;
        const char* workbook;
    } cases[] = {
        {L"12-31 23:59:00", {2025, 1, 2, 0, 0, 5}, "202412.xls"},       // December's record handled in January
        {L"01-01 00:00:02", {2024, 12, 31, 23, 59, 59}, "202501.xls"},  // from a switch whose clock is ahead
        {L"12-01 00:00:00", {2024, 11, 30, 23, 59, 59}, "202412.xls"},
        {L"06-15 12:00:00", {2024, 6, 15, 12, 0, 0}, "202406.xls"},
        {L"07-15 12:00:00", {2024, 3, 1, 12, 0, 0}, "202307.xls"},
    };
    for (const auto& each : cases) {
        save(record(each.time), each.now);
        EXPECT_TRUE(fs::exists(workbook(each.workbook))) << each.workbook;
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.path() / "rec"), fs::directory_iterator()), 4);
}

TEST_F(WorkbookExportTest, ATimeWithoutMonthAndDayIsLoggedAndNamesNoFile) {
    for (const wchar_t* time : {L"", L"1101", L"13-01 10:00:00", L"11-00 10:00:00", L"1/-01 10:00:00", L"../../x"})
        save(record(time));
    EXPECT_EQ(logged(),
              "XLS-00020: record time '' names no month and day\n"
              "XLS-00020: record time '1101' names no month and day\n"
              "XLS-00020: record time '13-01 10:00:00' names no month and day\n"
              "XLS-00020: record time '11-00 10:00:00' names no month and day\n"
              "XLS-00020: record time '1/-01 10:00:00' names no month and day\n"
              "XLS-00020: record time '../../x' names no month and day\n");
    EXPECT_FALSE(fs::exists(folder.path() / "rec"));
    // The merged record of a call has no TIME, and its lines are the rows already: no word about it.
    Record merged;
    parseRecord(L"RECORD:RID=7-1&COUNT=2&ACCOUNT=8001&TIME-S=171101102030&", merged);
    save(merged);
    EXPECT_EQ(logged(), "");
    EXPECT_FALSE(fs::exists(folder.path() / "rec"));
}

TEST_F(WorkbookExportTest, AFileThatIsNoWorkbookIsLoggedOnceAndLeftAlone) {
    fs::create_directories(folder.path() / "rec");
    const std::string whole = workbookFileBytes({{}, {{u"01", 0, {}}}});
    const struct {
        std::string bytes;
        const char* error;
    } cases[] = {
        {"", "XLS-00004: %s is not an Excel 97-2003 workbook"},
        {"a,b,c\r\n1,2,3\r\n", "XLS-00004: %s is not an Excel 97-2003 workbook"},
        {whole.substr(0, 1000), "XLS-00005: %s is damaged: its container is cut short or inconsistent"},
        {writeCompoundFile(u"WordDocument", "x"), "XLS-00006: %s holds no Excel 97-2003 workbook"},
        {writeCompoundFile(u"Book", "x"), "XLS-00006: %s is an Excel 5.0/95 workbook, which is not supported"},
        {writeCompoundFile(u"Workbook", "x"), "XLS-00007: %s is damaged: a substream does not begin with BOF"},
    };
    const std::string path = workbook().string();
    for (const auto& each : cases) {
        writeBytes(workbook(), each.bytes);
        save(record(L"11-01 10:20:30"));
        EXPECT_EQ(logged(), formatBytes(each.error, path) + "\n");
        EXPECT_TRUE(readBytes(workbook()) == each.bytes) << each.error;
    }
}

TEST_F(WorkbookExportTest, AWorkbookThatCannotBeWrittenStaysAsItWas) {
    save(record(L"11-01 10:20:30"));
    const std::string before = readBytes(workbook());
    // Where the new workbook would be written beside the old one, a folder stands in the way.
    const fs::path beside = folder.path() / "rec" / (".201711.xls." + std::to_string(getpid()) + ".new");
    fs::create_directories(beside / "x");
    save(record(L"11-01 10:21:00"));
    const std::string exists = existsText(folder);
    EXPECT_EQ(logged(), "XLS-00009: cannot write " + workbook().string() + ": " + exists + "\n");
    EXPECT_TRUE(readBytes(workbook()) == before);

    fs::remove_all(folder.path() / "rec");
    writeBytes(folder.path() / "rec", "a file where the folder belongs");
    save(record(L"11-01 10:22:00"));
    EXPECT_EQ(logged(), "XLS-00001: cannot make the folder " + (folder.path() / "rec").string() + ": " + exists + "\n");
}

TEST_F(WorkbookExportTest, AFullSheetRefusesTheRowAndSaysSo) {
    Workbook full;
    full.strings = {u"帐号", u"类型", u"主叫", u"被叫", u"时间", u"时长", u"线路", u"x"};
    Sheet day{u"01", 0, {}};
    for (std::uint16_t column = 0; column < 7; ++column) day.cells.push_back({0, column, CellKind::text, column, 0});
    for (std::uint32_t row = 1; row < maxRows; ++row) day.cells.push_back({row, 0, CellKind::text, 7, 0});
    full.sheets = {day};
    fs::create_directories(folder.path() / "rec");
    writeBytes(workbook(), workbookFileBytes(full));
    save(record(L"11-01 10:20:30"));
    EXPECT_EQ(logged(), "XLS-00015: sheet '01' is full: it holds 65536 rows\n");
}

// What the writer answers to rows other than the export's own.
TEST(ExcelSheetWriter, PutsEachValueUnderItsColumnAndRefusesWhatItCannotPlace) {
    TempFolder folder;
    const EventLog log(folder.path().string());
    const std::wstring path = fromAnsi(folder / "book.xls");
    ExcelSheetWriter writer(log);
    ASSERT_TRUE(writer.openWorkbook(path).ok());
    ASSERT_TRUE(writer.appendRow(L"01", {L"a", L"b"}, {L"1", L"2"}).ok());
    // The columns are found by their heads, in any order; an empty value leaves its cell empty.
    ASSERT_TRUE(writer.appendRow(L"01", {L"b", L"a"}, {L"4", L"3"}).ok());
    ASSERT_TRUE(writer.appendRow(L"01", {L"a", L"b"}, {L"", L"6"}).ok());
    const struct {
        std::wstring sheet;
        std::wstring column;
        std::wstring value;
        const char* error;
    } cases[] = {
        {L"X:Y", L"a", L"1", "XLS-00012: there is no sheet 'X:Y'\n"},
        {L"01", L"c", L"1", "XLS-00013: sheet '01' has no column 'c'\n"},
        {L"01", L"a", std::wstring(32768, L'x'), "XLS-00017: the value for 'a' is longer than 32767 characters\n"},
    };
    for (const auto& each : cases) EXPECT_EQ(told(writer.appendRow(each.sheet, {each.column}, {each.value})), each.error);
    ASSERT_TRUE(writer.commitWork().ok());
    writer.closeWorkbook();
    EXPECT_EQ(dumpWorkbookFile(folder / "book.xls"), "sheet 01\na|b\n1|2\n3|4\n|6\n");
}

}  // namespace
}  // namespace quelvar
