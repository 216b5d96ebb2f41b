#include "filing/workbook_export.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <process.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <filesystem>
#include <list>
#include <regex>
#include <vector>

#include "core/format.h"
#include "core/text.h"
#include "filing/excel_sheet_writer.h"
#include "filing/row_queue.h"
#include "platform/file_faults.h"
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
    // What the operator was told since the last look: the failures the
    // exports gave for the event log, and the ERROR lines they wrote there
    // themselves, each as "XLS-<number>: <text>\n".
    std::string logged() {
        readLog();
        return std::exchange(told_, std::string());
    }
    // The WARNING lines of the event log since the last look.
    int warnings() {
        readLog();
        return std::exchange(warnings_, 0);
    }

    void save(const Record& fields, const CalendarTime& now = {2017, 11, 20, 9, 0, 0}) {
        const Status status = workbooks.exportToWorkbook(fields, now);
        readLog();
        told_ += told(status);
    }
    fs::path workbook(const std::string& name = "201711.xls") const { return folder.path() / "rec" / name; }
    fs::path queue(const std::string& name = "201711.xls") const { return workbook(name + ".queue"); }
    // The rows that wait in a queue, as "cell|cell|...\n", after the first `applied`.
    std::string queued(const std::string& name = "201711.xls") const {
        const QueueContents contents = readQueue(readBytes(queue(name)));
        std::string rows;
        for (std::size_t i = contents.applied; i < contents.rows.size(); ++i) {
            std::wstring line;
            for (const std::wstring& value : contents.rows[i].values) line += (line.empty() ? L"" : L"|") + value;
            rows += toAnsi(line) + "\n";
        }
        return rows;
    }
    std::size_t filesInRec() const {
        return static_cast<std::size_t>(std::distance(fs::directory_iterator(folder.path() / "rec"), fs::directory_iterator()));
    }

    TempFolder folder;
    EventLog log{folder.path().string()};
    WorkbookExport workbooks{fromAnsi(folder.path().string()), log};

private:
    void readLog() {
        std::string all;
        if (fs::exists(folder.path() / "log"))
            for (const auto& file : fs::directory_iterator(folder.path() / "log")) all += readBytes(file.path());
        // A message runs from its stamp to the next: a warning has line ends of its own.
        static const std::regex stamp("\\d{4}-\\d\\d-\\d\\d   \\d\\d:\\d\\d:\\d\\d   ");
        std::vector<std::string> messages;
        std::sregex_iterator found(all.begin(), all.end(), stamp);
        for (std::sregex_iterator next; found != next;) {
            const std::size_t start = static_cast<std::size_t>(found->position() + found->length());
            const std::size_t end = ++found == next ? all.size() : static_cast<std::size_t>(found->position());
            messages.push_back(all.substr(start, end - start));
        }
        for (; logRead_ < messages.size(); ++logRead_) {
            const std::string& text = messages[logRead_];
            if (text.starts_with("ERROR   ")) told_ += toAnsi(fromGbk(text.substr(8, text.size() - 10))) + "\n";
            if (text.starts_with("WARNING   ")) ++warnings_;
        }
    }

    std::string told_;
    std::size_t logRead_ = 0;
    int warnings_ = 0;
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
    for (const wchar_t* time :
         {L"", L"1101", L"13-01 10:00:00", L"11-00 10:00:00", L"1/-01 10:00:00", L"../../x", L"\r\nQuelvar stop"})
        save(record(time));
    EXPECT_EQ(logged(),
              "XLS-00020: record time '' names no month and day\n"
              "XLS-00020: record time '1101' names no month and day\n"
              "XLS-00020: record time '13-01 10:00:00' names no month and day\n"
              "XLS-00020: record time '11-00 10:00:00' names no month and day\n"
              "XLS-00020: record time '1/-01 10:00:00' names no month and day\n"
              "XLS-00020: record time '../../x' names no month and day\n"
              "XLS-00020: record time '\\r\\nQuelvar stop' names no month and day\n");
    EXPECT_FALSE(fs::exists(folder.path() / "rec"));
    // The merged record of a call has no TIME, and its lines are the rows already: no word about it.
    Record merged;
    parseRecord(L"RECORD:RID=7-1&COUNT=2&ACCOUNT=8001&TIME-S=171101102030&", merged);
    save(merged);
    EXPECT_EQ(logged(), "");
    EXPECT_FALSE(fs::exists(folder.path() / "rec"));
}

TEST_F(WorkbookExportTest, AFileThatIsNoWorkbookIsToldOnceAndLeftAloneWhileItsRowsWait) {
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
    std::string rows;
    int second = 10;
    for (const auto& each : cases) {
        writeBytes(workbook(), each.bytes);
        const std::wstring time = L"11-01 10:20:" + std::to_wstring(second++);
        save(record(time));
        rows += "8001|OU|8001|95588|" + toAnsi(time.substr(6)) + "|00:01:15|IP\n";
        EXPECT_EQ(logged(), formatBytes(each.error, path) + "\n");
        EXPECT_TRUE(readBytes(workbook()) == each.bytes) << each.error;
    }
    // Told once while the file stays as it is; every row is kept.
    save(record(L"11-01 10:20:59"));
    rows += "8001|OU|8001|95588|10:20:59|00:01:15|IP\n";
    EXPECT_EQ(logged(), "");
    EXPECT_EQ(queued(), rows);
    // Without the file in the way the rows go in, in order, and the queue goes.
    fs::remove(workbook());
    save(record(L"11-01 10:21:00"));
    EXPECT_EQ(logged(), "");
    EXPECT_EQ(dumpWorkbookFile(workbook()), "sheet 01\n" + header + rows + "8001|OU|8001|95588|10:21:00|00:01:15|IP\n");
    EXPECT_EQ(filesInRec(), 1u);
}

// The system's words for a change the fault hook fails.
std::string failedText(const TempFolder& folder) {
    platform::setFaultHook([](const platform::FileChange&) { return platform::FaultAction::fail; });
    const std::string text = platform::appendDurably(folder / "probe", "x").reason();
    platform::setFaultHook({});
    return text;
}

TEST_F(WorkbookExportTest, AWorkbookThatCannotBeWrittenStaysAsItWasWhileItsRowsWait) {
    save(record(L"11-01 10:20:30"));
    std::string before = readBytes(workbook());
    // Written anew for a new day's sheet, beside the old one, where a folder stands in the way.
    const fs::path beside = folder.path() / "rec" / (".201711.xls." + std::to_string(getpid()) + ".new");
    fs::create_directories(beside / "x");
    save(record(L"11-02 08:00:00"));
    EXPECT_EQ(logged(), "XLS-00009: cannot write " + workbook().string() + ": " + existsText(folder) + "\n");
    EXPECT_TRUE(readBytes(workbook()) == before);
    EXPECT_EQ(queued(), "8001|OU|8001|95588|08:00:00|00:01:15|IP\n");
    fs::remove_all(beside);
    save(record(L"11-01 10:21:00"));
    EXPECT_EQ(logged(), "");
    const std::string days = "sheet 01\n" + header + "8001|OU|8001|95588|10:20:30|00:01:15|IP\n" +
                             "8001|OU|8001|95588|10:21:00|00:01:15|IP\n" + "sheet 02\n" + header +
                             "8001|OU|8001|95588|08:00:00|00:01:15|IP\n";
    EXPECT_EQ(dumpWorkbookFile(workbook()), days);

    // Written where it lies, a write that fails leaves it as it was too.
    save(record(L"11-02 08:00:01"));
    before = readBytes(workbook());
    platform::setFaultHook([](const platform::FileChange& change) {
        return change.step == platform::FileStep::write && change.path.ends_with("201711.xls")
                   ? platform::FaultAction::fail
                   : platform::FaultAction::proceed;
    });
    save(record(L"11-02 08:00:02"));
    platform::setFaultHook({});
    EXPECT_EQ(logged(), "XLS-00009: cannot write " + workbook().string() + ": " + failedText(folder) + "\n");
    EXPECT_TRUE(readBytes(workbook()) == before);
    workbooks.tick(100);
    EXPECT_EQ(logged(), "");
    EXPECT_EQ(dumpWorkbookFile(workbook()), days + "8001|OU|8001|95588|08:00:01|00:01:15|IP\n" +
                                                "8001|OU|8001|95588|08:00:02|00:01:15|IP\n");
    EXPECT_EQ(filesInRec(), 1u);

    fs::remove_all(folder.path() / "rec");
    writeBytes(folder.path() / "rec", "a file where the folder belongs");
    save(record(L"11-01 10:22:00"));
    EXPECT_EQ(logged(), "XLS-00001: cannot make the folder " + (folder.path() / "rec").string() + ": " +
                            existsText(folder) + "\n");
}

// Another program holding a workbook, as office programs do: on Windows an
// open that shares nothing, elsewhere LibreOffice's lock file beside it.
class HeldWorkbook {
public:
    explicit HeldWorkbook(const fs::path& path) {
#ifdef _WIN32
        handle_ = CreateFileW(path.wstring().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
        EXPECT_NE(handle_, INVALID_HANDLE_VALUE);
#else
        lockFile_ = path.parent_path() / (".~lock." + path.filename().string() + "#");
        writeBytes(lockFile_, ",operator,desk,01.11.2017 10:20,file:///home/operator/.config/libreoffice/4;");
#endif
    }
    ~HeldWorkbook() {
#ifdef _WIN32
        CloseHandle(handle_);
#else
        fs::remove(lockFile_);
#endif
    }
    HeldWorkbook(const HeldWorkbook&) = delete;
    HeldWorkbook& operator=(const HeldWorkbook&) = delete;

private:
#ifdef _WIN32
    HANDLE handle_;
#else
    fs::path lockFile_;
#endif
};

TEST_F(WorkbookExportTest, AHeldWorkbooksRowsWaitInItsQueueAndGoInInOrderOnceItIsFree) {
    save(record(L"11-01 10:20:00"));
    const std::string before = readBytes(workbook());
    std::string rows = "8001|OU|8001|95588|10:20:00|00:01:15|IP\n";
    {
        const HeldWorkbook held(workbook());
        for (const wchar_t* time : {L"11-01 10:20:01", L"11-01 10:20:02", L"11-01 10:20:03"}) {
            save(record(time));
            rows += "8001|OU|8001|95588|" + toAnsi(std::wstring(time).substr(6)) + "|00:01:15|IP\n";
        }
        EXPECT_EQ(warnings(), 1) << "once a hold";
        EXPECT_EQ(logged(), "");
        EXPECT_EQ(queued(), rows.substr(rows.find('\n') + 1));
        workbooks.tick(100);
        EXPECT_TRUE(fs::exists(queue()));
    }
    // Read once it is free: a Windows hold keeps readers out too.
    EXPECT_TRUE(readBytes(workbook()) == before);
    // Tried at most once a second.
    workbooks.tick(100);
    EXPECT_TRUE(fs::exists(queue()));
    workbooks.tick(101);
    EXPECT_FALSE(fs::exists(queue()));
    EXPECT_EQ(dumpWorkbookFile(workbook()), "sheet 01\n" + header + rows);
    EXPECT_EQ(filesInRec(), 1u);
    EXPECT_EQ(warnings(), 0);

    // The next hold is told again; the next row after it puts the waiting ones in first.
    {
        const HeldWorkbook held(workbook());
        save(record(L"11-01 10:20:04"));
        EXPECT_EQ(warnings(), 1);
    }
    save(record(L"11-01 10:20:05"));
    rows += "8001|OU|8001|95588|10:20:04|00:01:15|IP\n8001|OU|8001|95588|10:20:05|00:01:15|IP\n";
    EXPECT_EQ(dumpWorkbookFile(workbook()), "sheet 01\n" + header + rows);
    EXPECT_EQ(filesInRec(), 1u);

    // A queue left by the last run goes in at start.
    {
        const HeldWorkbook held(workbook());
        save(record(L"11-01 10:20:06"));
    }
    WorkbookExport restarted(fromAnsi(folder.path().string()), log);
    restarted.resumeLeftovers();
    rows += "8001|OU|8001|95588|10:20:06|00:01:15|IP\n";
    EXPECT_EQ(dumpWorkbookFile(workbook()), "sheet 01\n" + header + rows);
    EXPECT_FALSE(restarted.rowsWait());
    EXPECT_EQ(logged(), "");
}

TEST_F(WorkbookExportTest, RowsGoInWhereTheWorkbookLiesChangingOnlyWhatTheyMust) {
    Workbook month;
    month.strings = {u"帐号", u"类型", u"主叫", u"被叫", u"时间", u"时长", u"线路", u"x"};
    Sheet day{u"01", 0, {}};
    for (std::uint16_t column = 0; column < 7; ++column) day.cells.push_back({0, column, CellKind::text, column, 0});
    for (std::uint32_t row = 1; row <= 5000; ++row)
        for (std::uint16_t column = 0; column < 7; ++column) day.cells.push_back({row, column, CellKind::text, 7, 0});
    month.sheets = {day};
    fs::create_directories(folder.path() / "rec");
    writeBytes(workbook(), workbookFileBytes(month));
    const std::string first = readBytes(workbook());

    std::uint64_t written = 0;
    platform::setFaultHook([&](const platform::FileChange& change) {
        if (change.step == platform::FileStep::write) written += change.bytes.size();
        return platform::FaultAction::proceed;
    });
    for (const wchar_t* time : {L"11-01 10:20:00", L"11-01 10:20:01", L"11-01 10:20:02"}) {
        written = 0;
        save(record(time));
        // The row's records, DIMENSIONS, the stream's size, and each once more in the journal.
        EXPECT_LT(written, 1500u) << "of a workbook of " << first.size() << " bytes";
    }
    // A new day's sheet is written anew.
    written = 0;
    save(record(L"11-02 08:00:00"));
    EXPECT_GT(written, first.size());
    const std::uint64_t size = fs::file_size(workbook());
    // A row for the 1st, whose sheet now comes before the 2nd's: the sheet
    // is copied to the end of the workbook once, nothing else written anew.
    written = 0;
    save(record(L"11-01 10:20:03"));
    EXPECT_LT(written, size + 8192);
    EXPECT_GT(written, size / 2);
    // From then on rows of either day go where they lie: the 2nd's sheet
    // into the room left after it.
    for (const wchar_t* time : {L"11-01 10:20:04", L"11-02 08:00:01", L"11-01 10:20:05", L"11-02 08:00:02"}) {
        written = 0;
        save(record(time));
        EXPECT_LT(written, 1500u) << time;
    }
    platform::setFaultHook({});
    EXPECT_EQ(logged(), "");
    const std::string dump = dumpWorkbookFile(workbook());
    EXPECT_EQ(dump.substr(dump.find("x\n8001")), "x\n8001|OU|8001|95588|10:20:00|00:01:15|IP\n"
                                                  "8001|OU|8001|95588|10:20:01|00:01:15|IP\n"
                                                  "8001|OU|8001|95588|10:20:02|00:01:15|IP\n"
                                                  "8001|OU|8001|95588|10:20:03|00:01:15|IP\n"
                                                  "8001|OU|8001|95588|10:20:04|00:01:15|IP\n"
                                                  "8001|OU|8001|95588|10:20:05|00:01:15|IP\n"
                                                  "sheet 02\n" + header +
                                                  "8001|OU|8001|95588|08:00:00|00:01:15|IP\n"
                                                  "8001|OU|8001|95588|08:00:01|00:01:15|IP\n"
                                                  "8001|OU|8001|95588|08:00:02|00:01:15|IP\n");
    EXPECT_EQ(filesInRec(), 1u);
}

TEST_F(WorkbookExportTest, ADamagedQueueIsToldOnceAndKeepsEveryRow) {
    save(record(L"11-01 10:20:00"));
    const std::string before = readBytes(workbook());
    {
        const HeldWorkbook held(workbook());
        save(record(L"11-01 10:20:01"));
        save(record(L"11-01 10:20:02"));
    }
    // A byte of the first waiting row changed, the second whole behind it.
    std::string damaged = readBytes(queue());
    damaged[30] ^= 0x40;
    writeBytes(queue(), damaged);
    const std::string told = "XLS-00022: " + queue().string() + " is damaged at byte 16: it is left as it is, and the rows for " +
                             workbook().string() + " wait in it\n";
    workbooks.tick(100);
    EXPECT_EQ(logged(), told);
    save(record(L"11-01 10:20:03"));
    workbooks.tick(101);
    EXPECT_EQ(logged(), "");
    EXPECT_TRUE(readBytes(workbook()) == before);
    const std::string kept = readBytes(queue());
    EXPECT_TRUE(kept.starts_with(damaged)) << "left as it is";
    EXPECT_GT(kept.size(), damaged.size()) << "the new row is kept behind it";
    // Once it is gone, rows go in again.
    fs::remove(queue());
    save(record(L"11-01 10:20:04"));
    EXPECT_EQ(dumpWorkbookFile(workbook()), "sheet 01\n" + header + "8001|OU|8001|95588|10:20:00|00:01:15|IP\n" +
                                                "8001|OU|8001|95588|10:20:04|00:01:15|IP\n");
}

// A full day's sheet goes on in a sheet of its own, and that one in the
// next; the first row of each is told once, and no row is lost.
TEST_F(WorkbookExportTest, AFullSheetGoesOnInASheetOfItsOwnAndSaysSo) {
    Workbook full;
    full.strings = {u"帐号", u"类型", u"主叫", u"被叫", u"时间", u"时长", u"线路", u"x"};
    const auto fullSheet = [&](std::u16string name, std::uint32_t rows) {
        Sheet day{std::move(name), 0, {}};
        for (std::uint16_t column = 0; column < 7; ++column)
            day.cells.push_back({0, column, CellKind::text, column, 0});
        for (std::uint32_t row = 1; row < rows; ++row) day.cells.push_back({row, 0, CellKind::text, 7, 0});
        return day;
    };
    const struct {
        std::vector<Sheet> sheets;
        const char* full;
        const char* next;
    } cases[] = {
        {{fullSheet(u"01", maxRows)}, "01", "01 (2)"},
        {{fullSheet(u"01", maxRows), fullSheet(u"02", 3), fullSheet(u"01 (2)", maxRows)}, "01 (2)", "01 (3)"},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(each.next);
        fs::remove_all(folder.path() / "rec");
        fs::remove_all(folder.path() / "log");
        fs::create_directories(folder.path() / "rec");
        full.sheets = each.sheets;
        writeBytes(workbook(), workbookFileBytes(full));
        WorkbookExport export_(fromAnsi(folder.path().string()), log);
        for (const wchar_t* time : {L"11-01 10:20:30", L"11-01 10:20:31"})
            ASSERT_TRUE(export_.exportToWorkbook(record(time), {2017, 11, 20, 9, 0, 0}).ok());
        std::string all;
        for (const auto& file : fs::directory_iterator(folder.path() / "log")) all += readBytes(file.path());
        const std::string line = "WARNING   sheet '" + std::string(each.full) + "' of " + workbook().string() +
                                 " is full: its rows go on in sheet '" + each.next + "'\r\n";
        EXPECT_NE(all.find(line), std::string::npos) << all;
        EXPECT_EQ(all.find(line), all.rfind(line)) << "told once";
        const std::string dump = dumpWorkbookFile(workbook());
        EXPECT_TRUE(dump.ends_with("sheet " + std::string(each.next) + "\n" + header +
                                   "8001|OU|8001|95588|10:20:30|00:01:15|IP\n"
                                   "8001|OU|8001|95588|10:20:31|00:01:15|IP\n"))
            << dump.substr(dump.size() - 300);
    }
}

// What the writer answers to rows other than the export's own.
TEST(ExcelSheetWriter, PutsEachValueUnderItsColumnAndRefusesWhatItCannotPlace) {
    TempFolder folder;
    const std::wstring path = fromAnsi(folder / "book.xls");
    ExcelSheetWriter writer;
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
