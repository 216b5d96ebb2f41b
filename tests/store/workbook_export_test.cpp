#include "store/workbook_export.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <process.h>

#include "platform/error_win32.h"
#else
#include <unistd.h>

#include <cerrno>

#include "platform/error_posix.h"
#endif

#include <filesystem>

#include "core/folders.h"
#include "core/text.h"
#include "platform/error.h"
#include "store/excel_sheet_writer.h"
#include "store/workbook_dump.h"
#include "support/temp_folder.h"
#include "support/today.h"

namespace quelvar {
namespace {

namespace fs = std::filesystem;

const std::string header = "帐号|类型|主叫|被叫|时间|时长|线路\n";

FieldMap record(const std::wstring& time, const std::wstring& duration = L"75", const std::wstring& cdpn = L"95588") {
    return {{L"HEAD", L"RECORD"}, {L"TIME", time},   {L"DURATION", duration}, {L"ACCOUNT", L"8001"},
            {L"TYPE", L"OU"},     {L"CPN", L"8001"}, {L"CDPN", cdpn},         {L"ROUTE", L"IP"}};
}

// The system's words for a name that exists already.
std::string existsText() {
#ifdef _WIN32
    platform::rememberError(ERROR_ALREADY_EXISTS);
#else
    platform::rememberError(EEXIST);
#endif
    return platform::lastErrorText();
}

// Errors go to the event log beside the running executable, here the test program.
class WorkbookExport : public testing::Test {
protected:
    void SetUp() override { logSizeBefore_ = fs::exists(logFile()) ? fs::file_size(logFile()) : 0; }

    static fs::path logFile() { return fs::path(toAnsi(getProgramDir())) / "log" / todayAs("%Y%m%d.log"); }
    // The workbook's lines logged since the test began, without their
    // stamps; other tests may log beside it.
    std::string logged() const {
        const std::string log = readBytes(logFile()).substr(logSizeBefore_);
        std::string texts;
        for (std::size_t at = 0; at < log.size();) {
            const std::size_t end = log.find("\r\n", at + 24);
            const std::size_t next = end == std::string::npos ? log.size() : end + 2;
            const std::string text = log.substr(at + 24, next - at - 24);
            if (text.find("XLS-") != std::string::npos) texts += text;
            at = next;
        }
        return texts;
    }

    void save(const FieldMap& fields, const CalendarTime& now = {2017, 11, 20, 9, 0, 0}) {
        exportToWorkbook(fields, fromAnsi(folder.path().string()), L"", now);
    }
    fs::path workbook(const std::string& name = "201711.xls") const { return folder.path() / "rec" / name; }

    TempFolder folder;

private:
    std::uintmax_t logSizeBefore_ = 0;
};

TEST_F(WorkbookExport, RowsOfADayGoToItsSheetWithTimesAndDurationsWorkedOut) {
    save(record(L"11-01 10:20:30"));
    save(record(L"11-01 10:21:00", L"3725", L"O'Brien ''x'"));
    save(record(L"11-02 00:00:01", L""));
    save(record(L"11-02/23:59:59", L"360000"));
    save(record(L"11-02 07:08", L"59x"));                            // a TIME without seconds keeps what it has
    save(record(L"11-02 07:09:00", L"1", std::wstring(300, L'9')));  // statements have no length limit
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

TEST_F(WorkbookExport, TheYearIsTheLatestThatDoesNotPutTheRecordAheadOfTheClock) {
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

TEST_F(WorkbookExport, ATimeWithoutMonthAndDayIsLoggedAndNamesNoFile) {
    for (const wchar_t* time : {L"", L"1101", L"13-01 10:00:00", L"11-00 10:00:00", L"1/-01 10:00:00", L"../../x"})
        save(record(time));
    EXPECT_EQ(logged(),
              "ERROR   XLS-00020: record time '' names no month and day\r\n"
              "ERROR   XLS-00020: record time '1101' names no month and day\r\n"
              "ERROR   XLS-00020: record time '13-01 10:00:00' names no month and day\r\n"
              "ERROR   XLS-00020: record time '11-00 10:00:00' names no month and day\r\n"
              "ERROR   XLS-00020: record time '1/-01 10:00:00' names no month and day\r\n"
              "ERROR   XLS-00020: record time '../../x' names no month and day\r\n");
    EXPECT_FALSE(fs::exists(folder.path() / "rec"));
    // The merged record of a call has no TIME, and its lines are the rows already: no word about it.
    const std::size_t logSize = logged().size();
    save({{L"HEAD", L"RECORD"},
          {L"RID", L"7-1"},
          {L"COUNT", L"2"},
          {L"ACCOUNT", L"8001"},
          {L"TIME-S", L"171101102030"}});
    EXPECT_EQ(logged().size(), logSize);
    EXPECT_FALSE(fs::exists(folder.path() / "rec"));
}

TEST_F(WorkbookExport, AFileThatIsNoWorkbookIsLoggedOnceAndLeftAlone) {
    fs::create_directories(folder.path() / "rec");
    const std::string whole = writeCompoundFile(u"Workbook", writeBiffWorkbook({{}, {{u"01", 0, {}}}}));
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
        const std::size_t logSize = logged().size();
        save(record(L"11-01 10:20:30"));
        EXPECT_EQ(logged().substr(logSize), "ERROR   " + formatBytes(each.error, path) + "\r\n");
        EXPECT_TRUE(readBytes(workbook()) == each.bytes) << each.error;
    }
}

TEST_F(WorkbookExport, AWorkbookThatCannotBeWrittenStaysAsItWas) {
    save(record(L"11-01 10:20:30"));
    const std::string before = readBytes(workbook());
    // Where the new workbook would be written beside the old one, a folder stands in the way.
    const fs::path beside = folder.path() / "rec" / (".201711.xls." + std::to_string(getpid()) + ".new");
    fs::create_directories(beside / "x");
    save(record(L"11-01 10:21:00"));
    EXPECT_EQ(logged(), "ERROR   XLS-00009: cannot write " + workbook().string() + ": " + existsText() + "\r\n");
    EXPECT_TRUE(readBytes(workbook()) == before);

    fs::remove_all(folder.path() / "rec");
    writeBytes(folder.path() / "rec", "a file where the folder belongs");
    save(record(L"11-01 10:22:00"));
    EXPECT_EQ(logged().substr(logged().find("\r\n") + 2),
              "ERROR   XLS-00001: cannot make the folder " + (folder.path() / "rec").string() + ": " + existsText() + "\r\n");
}

TEST_F(WorkbookExport, AFullSheetRefusesTheRowAndSaysSo) {
    Workbook full;
    full.strings = {u"帐号", u"类型", u"主叫", u"被叫", u"时间", u"时长", u"线路", u"x"};
    Sheet day{u"01", 0, {}};
    for (std::uint16_t column = 0; column < 7; ++column) day.cells.push_back({0, column, CellKind::text, column, 0});
    for (std::uint32_t row = 1; row < maxRows; ++row) day.cells.push_back({row, 0, CellKind::text, 7, 0});
    full.sheets = {day};
    fs::create_directories(folder.path() / "rec");
    writeBytes(workbook(), writeCompoundFile(u"Workbook", writeBiffWorkbook(full)));
    save(record(L"11-01 10:20:30"));
    EXPECT_EQ(logged(), "ERROR   XLS-00015: sheet '01' is full: it holds 65536 rows\r\n");
}

// The driver's answers to statements other than the export's own.
TEST(ExcelSheetWriter, RefusedStatementsLeaveTheWorkbookAndSayWhy) {
    TempFolder folder;
    const std::wstring path = fromAnsi(folder / "book.xls");
    ExcelSheetWriter writer;
    EXPECT_FALSE(writer.executeSql(L"CREATE TABLE \"01\"(\"a\" TEXT)"));
    EXPECT_EQ(writer.lastError(), L"");  // not connected: nothing to say
    ASSERT_TRUE(writer.openWorkbook(path));
    EXPECT_TRUE(writer.executeSql(L"CREATE TABLE \"%s\"(\"a\" TEXT,\"b\" TEXT)", L"01"));
    const struct {
        std::wstring statement;
        const wchar_t* error;
    } cases[] = {
        {L"CREATE TABLE \"01\"(\"a\" TEXT)", L"XLS-00011: sheet '01' exists already"},
        {L"create table \"X:Y\"(\"a\" TEXT)", L"XLS-00016: 'X:Y' cannot name a sheet"},
        {L"INSERT INTO \"02\"(\"a\") VALUES('1')", L"XLS-00012: there is no sheet '02'"},
        {L"INSERT INTO \"01\"(\"c\") VALUES('1')", L"XLS-00013: sheet '01' has no column 'c'"},
        {L"INSERT INTO \"01\"(\"a\",\"b\") VALUES('1')", L"XLS-00014: 2 columns but 1 values"},
        {L"INSERT INTO \"01\"(\"a\") VALUES('" + std::wstring(32768, L'x') + L"')",
         L"XLS-00017: the value for 'a' is longer than 32767 characters"},
        {L"UPDATE \"01\" SET \"a\"='1'", L"XLS-00010: statement not understood: UPDATE \"01\" SET \"a\"='1'"},
    };
    for (const auto& each : cases) {
        EXPECT_FALSE(writer.executeSql(L"%s", each.statement));
        EXPECT_EQ(writer.lastError(), each.error);
    }
    EXPECT_TRUE(writer.executeSql(L"INSERT INTO \"01\"(\"b\",\"a\") VALUES('2','1')"));
    EXPECT_TRUE(writer.commitWork());
    writer.closeWorkbook();
    EXPECT_EQ(dumpWorkbookFile(folder / "book.xls"), "sheet 01\na|b\n1|2\n");
}

}  // namespace
}  // namespace quelvar
