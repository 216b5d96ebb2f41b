// Records without a switch address end to end: enciphered datagrams in,
// the month's workbook read back by xlrd and, where installed, LibreOffice.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <set>
#include <thread>
#include <utility>

#include "e2e/harness.h"
#include "e2e/switch_client.h"
#include "e2e/workbook_reading.h"
#include "support/time_zone.h"
#include "support/today.h"

namespace {

namespace fs = std::filesystem;

const std::string header = "帐号|类型|主叫|被叫|时间|时长|线路\n";
const std::string heldWarning = "注意: EXCEL文件已被打开，新数据无法写入。\r\n请关闭文件后再点“确定”！\r\n\r\n";

class WorkbookExport : public testing::Test {
protected:
    void SetUp() override { folder.start(); }

    // A record of this month without a MAC: the day, then the rest of the
    // TIME, and further pairs. Each gets a call key of its own.
    void send(const std::string& day, const std::string& time, const std::string& pairs) {
        const std::string number = std::to_string(++sent_);
        sw.send(gbk("RECORD:ID=" + number + "&RID=50" + number + "-1&" + pairs + "&TIME=" + todayAs("%m") + "-" + day +
                    " " + time + "&"));
    }
    void sendExample(const std::string& day = "01", const std::string& duration = "75") {
        send(day, "10:20:30", "ACCOUNT=8001&TYPE=OU&CPN=8001&CDPN=95588&ROUTE=IP&DURATION=" + duration);
    }
    void settle() { waitUntilHandled(folder, sw); }
    // Waits until the collector has warned that many times on standard error.
    void awaitWarnings(std::size_t count) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        for (;;) {
            const std::string errors = folder.standardError();
            const std::string warning = ansiText(heldWarning);
            std::size_t found = 0;
            for (std::size_t at = errors.find(warning); at != std::string::npos; at = errors.find(warning, at + 1))
                ++found;
            if (found >= count) return;
            expectCollectorsRunning();
            ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "no warning within 10 s";
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    fs::path workbook() const { return folder / ("rec/" + todayAs("%Y%m") + ".xls"); }

    ScopedTimeZone zone{"CST-8"};
    ProgramFolder folder;
    SwitchClient sw;
    TempFolder scratch;

private:
    int sent_ = 0;
};

TEST_F(WorkbookExport, TheMonthsWorkbookGetsADaysSheetWithAHeaderAndARowPerRecord) {
    sendExample();
    // No acknowledgement for a record without a MAC.
    EXPECT_FALSE(sw.receive(std::chrono::milliseconds(300)).has_value());
    settle();
    EXPECT_EQ(readWithXlrd(workbook()), "sheet 01\n" + header + "8001|OU|8001|95588|10:20:30|00:01:15|IP\n");

    send("01", "23:59:59", "ACCOUNT=张三&TYPE=IN&CPN=02112345678&CDPN=O'Brien ''x&ROUTE=XO&DURATION=3725");
    sendExample("02", "");
    sendExample("02", "360000");
    // A row of the 1st after the 2nd's sheet: the 1st's goes to the end of
    // the workbook, and readers find it by its place all the same.
    send("01", "23:59:59", "ACCOUNT=8002&TYPE=IN&CPN=8002&CDPN=110&ROUTE=XO&DURATION=1");
    settle();
    const std::string expected = "sheet 01\n" + header +
                                 "8001|OU|8001|95588|10:20:30|00:01:15|IP\n"
                                 "张三|IN|02112345678|O'Brien ''x|23:59:59|01:02:05|XO\n"
                                 "8002|IN|8002|110|23:59:59|00:00:01|XO\n"
                                 "sheet 02\n" +
                                 header +
                                 "8001|OU|8001|95588|10:20:30|00:00:00|IP\n"
                                 "8001|OU|8001|95588|10:20:30|100:00:00|IP\n";
    EXPECT_EQ(readWithXlrd(workbook()), expected);
    EXPECT_EQ(folder.todaysLogTexts().find("ERROR"), std::string::npos) << folder.todaysLogTexts();
    // Nothing is left beside the workbook.
    EXPECT_EQ(std::distance(fs::directory_iterator(folder / "rec"), fs::directory_iterator()), 1);

    if (!haveLibreOffice()) GTEST_SKIP() << "LibreOffice (" << libreOffice() << ") is not installed to read it too";
    const fs::path converted = convertWithLibreOffice(workbook(), "xls:MS Excel 97", scratch.path());
    ASSERT_FALSE(converted.empty()) << "LibreOffice cannot convert the workbook";
    EXPECT_EQ(readWithXlrd(converted), expected);
}

// One sender's rows without a MAC: its burst is filed, a datagram past it
// is refused whole, told in the log, and not answered.
TEST_F(WorkbookExport, RowsWithoutAMacAreLimitedPerSender) {
    const auto datagram = [&](int first) {
        std::string lines;
        for (int i = first; i < first + 64; ++i)
            lines += (lines.empty() ? "" : "\n") + std::string("RECORD:ID=") + std::to_string(i) + "&RID=" +
                     std::to_string(i) + "-1&ACCOUNT=8001&CDPN=" + std::to_string(i) + "&TIME=" + todayAs("%m") +
                     "-01 10:20:30&";
        return lines;
    };
    // 256 rows at once, then a datagram more.
    for (int first = 1000; first < 1000 + 5 * 64; first += 64) sw.send(gbk(datagram(first)));
    settle();
    EXPECT_FALSE(sw.receive(std::chrono::milliseconds(100)).has_value()) << "refused, not answered";
    const std::string rows = readWithXlrd(workbook());
    EXPECT_EQ(std::count(rows.begin(), rows.end(), '\n'), 2 + 256) << "the sheet's name and header, and the burst";
    EXPECT_EQ(rows.find("|1256|"), std::string::npos);
    const std::string log = folder.todaysLogTexts();
    EXPECT_NE(log.find("WARNING   datagram of 64 rows without a MAC from 127.0.0.1:"), std::string::npos) << log;
    EXPECT_EQ(log.find("CDPN=1256&"), std::string::npos) << "nothing of the refused datagram is filed or logged";
}

// A workbook as another program writes it: several sheets, numbers in
// their record forms, booleans, formulas and a table of shared texts long
// enough to need CONTINUE records.
const char* const foreignWorkbook = R"(
import sys, xlwt
book = xlwt.Workbook()
day = book.add_sheet('01')
for column, name in enumerate(['帐号', '类型', '主叫', '被叫', '时间', '时长', '线路']):
    day.write(0, column, name)
for column, value in enumerate([8001, 'OU', 2.5, True, xlwt.Formula('1+2'), -123456789.125, 'IP']):
    day.write(1, column, value)
notes = book.add_sheet('Notizen')
for row in range(2000):
    notes.write(row, 0, '第%d行 中文的说明文字' % row)
    notes.write(row, 1, row * 7)
    notes.write(row, 3, row + 0.25)
book.save(sys.argv[1])
)";

TEST_F(WorkbookExport, AWorkbookAnotherProgramSavedKeepsEveryCellWhenRowsAreAdded) {
    requirePythonModule("xlwt");
    requirePythonModule("xlrd");
    std::string output;
    const fs::path made = scratch.path() / "made" / (todayAs("%Y%m") + ".xls");
    fs::create_directories(made.parent_path());
    ASSERT_EQ(runPython(foreignWorkbook, made.string(), output), 0) << output;
    fs::path foreign = made;
    // xlwt stores no result with the formula; saved once more by
    // LibreOffice, the workbook has the result and LibreOffice's record forms.
    std::string formulaResult;
    if (haveLibreOffice()) {
        foreign = convertWithLibreOffice(made, "xls:MS Excel 97", scratch.path());
        ASSERT_FALSE(foreign.empty()) << "LibreOffice cannot convert the workbook";
        formulaResult = "#3";
    }
    fs::copy_file(foreign, workbook());
    const std::string before = readWithXlrd(workbook());
    ASSERT_EQ(before.find("sheet 01\n" + header + "#8001|OU|#2.5|?1|" + formulaResult +
                          "|#-123456789.125|IP\nsheet Notizen\n"),
              0u)
        << before;

    sendExample("01");
    sendExample("03");
    settle();
    std::string expected = before;
    expected.insert(expected.find("sheet Notizen"), "8001|OU|8001|95588|10:20:30|00:01:15|IP\n");
    expected += "sheet 03\n" + header + "8001|OU|8001|95588|10:20:30|00:01:15|IP\n";
    EXPECT_TRUE(readWithXlrd(workbook()) == expected);
    if (!haveLibreOffice())
        GTEST_SKIP() << "LibreOffice (" << libreOffice() << ") is not installed: the workbook was tried as xlwt "
                     << "wrote it, not as LibreOffice saves it";
}

// Another program holding the workbook: on Linux a record lock (LibreOffice
// and other office programs take one), on Windows an open that shares
// nothing, until release().
class HeldFile {
public:
    explicit HeldFile(const fs::path& path) : release_(path.string() + ".released") {
        if (underWine()) {
            const std::string command = "wine '" + (windowsBuild() / "tests/hold_file.exe").string() + "' '" +
                                        collectorPath(path) + "' '" + collectorPath(release_) + "'";
            holder_ = popen(command.c_str(), "r");
            // Wine starts a program in well under a second.
            pollfd saying{holder_ != nullptr ? fileno(holder_) : -1, POLLIN, 0};
            char said[16] = {};
            held_ = holder_ != nullptr && poll(&saying, 1, 20000) > 0 &&
                    std::fgets(said, sizeof said, holder_) != nullptr && std::string(said).starts_with("held");
            return;
        }
        handle_ = open(path.c_str(), O_RDWR);
        struct flock lock {};
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        held_ = handle_ >= 0 && fcntl(handle_, F_SETLK, &lock) == 0;
    }
    ~HeldFile() { release(); }
    HeldFile(const HeldFile&) = delete;
    HeldFile& operator=(const HeldFile&) = delete;

    bool held() const { return held_; }
    // Lets go, and under Wine waits until the holder has.
    void release() {
        if (FILE* holder = std::exchange(holder_, nullptr)) {
            writeBytes(release_, "");
            pclose(holder);
            fs::remove(release_);
        }
        if (const int handle = std::exchange(handle_, -1); handle >= 0) close(handle);
    }

private:
    fs::path release_;
    FILE* holder_ = nullptr;
    int handle_ = -1;
    bool held_ = false;
};

// Waits until the collector has taken a file away.
void awaitGone(const fs::path& path) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (fs::exists(path)) {
        expectCollectorsRunning();
        ASSERT_LT(std::chrono::steady_clock::now(), deadline) << path << " is still there after 10 s";
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

TEST_F(WorkbookExport, RowsForAHeldWorkbookWaitInItsQueueWhileEverySwitchIsServed) {
    const std::string warning = ansiText(heldWarning) + collectorPath(workbook());
    const fs::path queue = workbook().string() + ".queue";
    if (underWine()) {
        sendExample();
        settle();
    } else {
        // LibreOffice's lock file beside the workbook.
        const fs::path lockFile = folder / ("rec/.~lock." + todayAs("%Y%m") + ".xls#");
        writeBytes(lockFile, ",operator,desk,01.01.2024 10:20,file:///home/operator/.config/libreoffice/4;");
        sendExample();
        awaitWarnings(1);
        settle();
        // The row waits beside the workbook, and the collector goes on.
        EXPECT_FALSE(fs::exists(workbook()));
        EXPECT_TRUE(fs::exists(queue));
        fs::remove(lockFile);
        awaitGone(queue);
    }
    const std::string first = "sheet 01\n" + header + "8001|OU|8001|95588|10:20:30|00:01:15|IP\n";
    EXPECT_EQ(readWithXlrd(workbook()), first);

    HeldFile held(workbook());
    ASSERT_TRUE(held.held()) << "the workbook could not be held within 20 s";
    // 200 rows for the workbook and 200 records of a switch, by turns.
    std::string rows;
    for (int i = 1; i <= 200; ++i) {
        const std::string callee = std::to_string(100000 + i);
        send("01", "11:00:00", "ACCOUNT=8001&TYPE=OU&CPN=8001&CDPN=" + callee + "&ROUTE=IP&DURATION=60");
        sw.send("RECORD:ID=" + std::to_string(5000 + i) + "&RID=9" + std::to_string(i) +
                "-1&ACCOUNT=8001&CPN=8001&CDPN=95588&TYPE=OU&ROUTE=IP&MAC=00:1A:2B:3C:4D:5E&TIME-S=240315093000&"
                "DURATION=75&TRUNKN=3&");
        rows += "8001|OU|8001|" + callee + "|11:00:00|00:01:00|IP\n";
    }
    std::set<std::string> answers;
    while (answers.size() < 200) {
        const auto answer = sw.receive(std::chrono::seconds(5));
        ASSERT_TRUE(answer.has_value()) << answers.size() << " of 200 records of the switch acknowledged";
        answers.insert(*answer);
    }
    settle();
    const std::string filed = readExisting(folder / "rec/00-1A-2B-3C-4D-5E/old/CDR_2024_03_15.txt");
    EXPECT_EQ(std::count(filed.begin(), filed.end(), '\n'), 201) << "a header and 200 records";
    awaitWarnings(underWine() ? 1 : 2);
    // Read by another process: closing a file here would drop this process's lock.
    EXPECT_EQ(readWithXlrd(workbook()), first);
    EXPECT_TRUE(fs::exists(queue)) << "the rows wait while the workbook is held";
    held.release();
    awaitGone(queue);
    const std::string expected = first + rows;
    EXPECT_EQ(readWithXlrd(workbook()), expected);
    const std::string logged = folder.todaysLogTexts();
    EXPECT_NE(logged.find(gbk("WARNING   " + heldWarning) + collectorPath(workbook()) + "\r\n"), std::string::npos);
    EXPECT_EQ(logged.find("ERROR"), std::string::npos);
    EXPECT_NE(folder.standardError().find(warning), std::string::npos);
    EXPECT_FALSE(fs::exists(workbook().string() + "-journal"));

    if (!haveLibreOffice()) GTEST_SKIP() << "LibreOffice (" << libreOffice() << ") is not installed to read it too";
    const fs::path converted = convertWithLibreOffice(workbook(), "xls:MS Excel 97", scratch.path());
    ASSERT_FALSE(converted.empty()) << "LibreOffice cannot convert the workbook";
    EXPECT_EQ(readWithXlrd(converted), expected);
}

TEST_F(WorkbookExport, AFileThatIsNoWorkbookGetsOneErrorLineAndStaysAsItIs) {
    const std::string notAWorkbook = "帐号,类型\r\n8001,OU\r\n";
    writeBytes(workbook(), notAWorkbook);
    sendExample();
    settle();
    const std::string logged = folder.todaysLogTexts();
    const std::string error = "ERROR   XLS-00004: " + collectorPath(workbook()) + " is not an Excel 97-2003 workbook\r\n";
    EXPECT_NE(logged.find(error), std::string::npos) << logged;
    EXPECT_EQ(logged.find("ERROR"), logged.rfind("ERROR"));
    EXPECT_EQ(readExisting(workbook()), notAWorkbook);
}

}  // namespace
