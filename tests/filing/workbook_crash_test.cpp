// Ending the writing of the workbook at every step: the file layer's fault
// hook makes the Nth change fail, or stops every change from the Nth on as
// a crash does (kill -9), and for a power cut also takes back what was not
// yet on the disk. Whatever step it was, the workbook read afterwards (its
// journal undone) is the one before or the one after, a row that waited
// is in the workbook or still waits, and once everything is taken up again
// every row is in the workbook exactly once. xlrd, and xlrd again after
// LibreOffice has saved them, read every workbook the runs left.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#endif

#include <filesystem>
#include <functional>
#include <list>
#include <map>
#include <optional>
#include <set>
#include <sstream>

#include "core/text.h"
#include "core/utf16.h"
#include "filing/excel_sheet_writer.h"
#include "filing/row_queue.h"
#include "filing/workbook_export.h"
#include "platform/file_faults.h"
#include "support/outside_readers.h"
#include "support/temp_folder.h"
#include "xls/append.h"
#include "xls/little_endian.h"
#include "xls/workbook_dump.h"

namespace quelvar {
namespace {

namespace fs = std::filesystem;
using platform::FaultAction;
using platform::FileChange;
using platform::FileStep;

const std::wstring_view columns[] = {L"帐号", L"类型", L"主叫", L"被叫", L"时间", L"时长", L"线路"};

// A record without MAC whose callee, 139 and a number, tells its row.
Record record(int day, int callee) {
    static std::list<std::wstring> texts;
    wchar_t time[16];
    std::swprintf(time, 16, L"11-%02d 10:%02d:%02d", day, callee / 60 % 60, callee % 60);
    const std::wstring& text = texts.emplace_back(L"RECORD:TIME=" + std::wstring(time) +
                                                  L"&DURATION=75&ACCOUNT=8001&TYPE=OU&CPN=8001&CDPN=139" +
                                                  std::to_wstring(10000 + callee) + L"&ROUTE=IP&");
    Record parsed;
    parseRecord(text, parsed);
    return parsed;
}

QueuedRow queuedRow(int day, int callee) {
    wchar_t time[16];
    std::swprintf(time, 16, L"10:%02d:%02d", callee / 60 % 60, callee % 60);
    wchar_t sheet[4];
    std::swprintf(sheet, 4, L"%02d", day);
    return {sheet,
            {std::begin(columns), std::end(columns)},
            {L"8001", L"OU", L"8001", L"139" + std::to_wstring(10000 + callee), time, L"00:01:15", L"IP"}};
}

const CalendarTime now{2017, 11, 20, 9, 0, 0};

// What a power cut leaves of the files in one folder: each file as it was
// when last flushed, each name as the folder was when last flushed.
class PowerCut {
public:
    explicit PowerCut(fs::path folder) : folder_(std::move(folder)) {
        for (const auto& entry : fs::directory_iterator(folder_)) {
            if (!entry.is_regular_file()) continue;
            const int file = next_++;
            flushed_[file] = readBytes(entry.path());
            names_[entry.path().filename().string()] = file;
        }
        durableNames_ = names_;
    }

    // A change that is going to be made.
    void see(const FileChange& change) {
        const fs::path path(change.path);
        if (change.step == FileStep::flushFolder) {
            if (fs::path(change.path) == folder_) durableNames_ = names_;
            return;
        }
        if (path.parent_path() != folder_) return;
        const std::string name = path.filename().string();
        switch (change.step) {
            case FileStep::create:
                names_[name] = next_;
                flushed_[next_++] = "";
                break;
            case FileStep::flush:
                flushed_[names_.at(name)] = readBytes(path);
                break;
            case FileStep::rename:
                names_[fs::path(*change.target).filename().string()] = names_.at(name);
                names_.erase(name);
                break;
            case FileStep::remove:
                names_.erase(name);
                break;
            default:
                break;
        }
    }

    // The power goes: what was not on the disk is gone.
    void cut() const {
        std::set<std::string> all;
        for (const auto& [name, file] : names_) all.insert(name);
        for (const auto& [name, file] : durableNames_) all.insert(name);
        for (const std::string& name : all) {
            const auto durable = durableNames_.find(name);
            if (durable == durableNames_.end())
                fs::remove(folder_ / name);
            else
                writeBytes(folder_ / name, flushed_.at(durable->second));
        }
    }

private:
    fs::path folder_;
    int next_ = 0;
    std::map<int, std::string> flushed_;
    std::map<std::string, int> names_;
    std::map<std::string, int> durableNames_;
};

enum class Fault { fail, kill, powerCut };
const char* const faultNames[] = {"fails", "kill", "power cut"};

using Files = std::map<std::string, std::string>;

// The workbook as its rows, each a line "cell|...", sheet by sheet, but
// for a sheet "00" that only makes it large; "none" without one.
std::string rowsOf(const fs::path& workbook) {
    if (!fs::exists(workbook)) return "none\n";
    xls::Workbook read;
    std::string why;
    if (xls::readWorkbookFile(readBytes(workbook), read, why) != xls::FileReadResult::ok) return "unread: " + why;
    std::erase_if(read.sheets, [](const xls::Sheet& sheet) { return sheet.name == u"00"; });
    return xls::dumpWorkbook(read);
}

// The callees of a workbook's dump and of a queue's waiting rows.
std::multiset<std::string> callees(const std::string& dump) {
    std::multiset<std::string> found;
    std::istringstream lines(dump);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t at = line.find("|139");
        if (at != std::string::npos) found.insert(line.substr(at + 1, 8));
    }
    return found;
}

std::multiset<std::string> waitingCallees(const fs::path& queue) {
    std::multiset<std::string> found;
    if (!fs::exists(queue)) return found;
    const QueueContents contents = readQueue(readBytes(queue));
    EXPECT_NE(contents.state, QueueContents::State::damaged) << "a crash never damages the queue";
    for (std::size_t i = contents.applied; i < contents.rows.size(); ++i)
        found.insert(toAnsi(contents.rows[i].values[3]));
    return found;
}

class WorkbookCrash : public testing::Test {
protected:
    fs::path rec() const { return folder.path() / "rec"; }
    fs::path workbook() const { return rec() / "201711.xls"; }
    fs::path queue() const { return rec() / "201711.xls.queue"; }

    Files files() const {
        Files all;
        for (const auto& entry : fs::directory_iterator(rec()))
            if (entry.is_regular_file()) all[entry.path().filename().string()] = readBytes(entry.path());
        return all;
    }
    void lay(const Files& all) const {
        fs::remove_all(rec());
        fs::create_directories(rec());
        for (const auto& [name, bytes] : all) writeBytes(rec() / name, bytes);
    }
    void save(WorkbookExport& workbooks, const Record& row) const {
        const Status status = workbooks.exportToWorkbook(row, now);
        ASSERT_TRUE(status.ok()) << status.text();
    }
    WorkbookExport fresh() { return WorkbookExport(fromAnsi(folder.path().string()), log); }
    void keepResult() {
        const std::string bytes = readBytes(workbook());
        if (results.contains(bytes)) return;
        const fs::path copy = outside.path() / ("result-" + std::to_string(results.size()) + ".xls");
        writeBytes(copy, bytes);
        results[bytes] = copy;
    }

    // Runs the step at every change with every fault, and checks what is left.
    struct Step {
        const char* name;
        Files before;
        // What the operator was told: a row the queue could not keep is told.
        std::function<Status(WorkbookExport&)> run;
        // The row the step brings, which a crash may take before it is on the disk.
        std::optional<std::string> fresh;
        // Holds the workbook while the step runs.
        bool held = false;
        std::vector<Fault> faults{Fault::fail, Fault::kill, Fault::powerCut};
    };
    void crashEverywhere(const Step& step);
    // Every workbook the runs left, read by xlrd, and by xlrd again as
    // LibreOffice saves it: the same cells as the collector's own reader
    // finds.
    void readResultsElsewhere();

    TempFolder folder;
    TempFolder outside;
    EventLog log{folder.path().string()};
    std::map<std::string, fs::path> results;
};

// The workbook held as an office program holds it, for a while.
class Hold {
public:
    explicit Hold(const fs::path& workbook) {
#ifdef _WIN32
        handle_ = CreateFileW(workbook.wstring().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
#else
        lockFile_ = workbook.parent_path() / (".~lock." + workbook.filename().string() + "#");
        writeBytes(lockFile_, "x");
#endif
    }
    ~Hold() {
#ifdef _WIN32
        if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
#else
        fs::remove(lockFile_);
#endif
    }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;

private:
#ifdef _WIN32
    HANDLE handle_ = INVALID_HANDLE_VALUE;
#else
    fs::path lockFile_;
#endif
};

void WorkbookCrash::crashEverywhere(const Step& step) {
    SCOPED_TRACE(step.name);
    // The step without a fault: how many changes it makes, and what it leaves.
    lay(step.before);
    const std::string rowsBefore = rowsOf(workbook());
    std::multiset<std::string> everyRow = callees(rowsBefore);
    for (const std::string& callee : waitingCallees(queue())) everyRow.insert(callee);
    std::size_t changes = 0;
    {
        std::optional<Hold> hold;
        if (step.held) hold.emplace(workbook());
        WorkbookExport workbooks = fresh();
        platform::setFaultHook([&](const FileChange&) {
            ++changes;
            return FaultAction::proceed;
        });
        EXPECT_TRUE(step.run(workbooks).ok());
        platform::setFaultHook({});
    }
    const std::string rowsAfter = rowsOf(workbook());
    ASSERT_GT(changes, 0u);
    std::multiset<std::string> withoutFresh = everyRow;
    if (step.fresh) everyRow.insert(*step.fresh);
    // Taken up again, everything waiting goes in.
    fresh().resumeLeftovers();
    const std::string finalRows = rowsOf(workbook());
    EXPECT_EQ(callees(finalRows), everyRow);
    lay(step.before);
    fresh().resumeLeftovers();
    const std::string finalWithout = rowsOf(workbook());

    for (const Fault fault : step.faults) {
        for (std::size_t nth = 1; nth <= changes; ++nth) {
            SCOPED_TRACE(std::string(faultNames[static_cast<int>(fault)]) + " at change " + std::to_string(nth) +
                         " of " + std::to_string(changes));
            lay(step.before);
            Status told;
            {
                std::optional<Hold> hold;
                if (step.held) hold.emplace(workbook());
                PowerCut power(rec());
                std::size_t seen = 0;
                platform::setFaultHook([&](const FileChange& change) {
                    if (++seen == nth) return fault == Fault::fail ? FaultAction::fail : FaultAction::crash;
                    power.see(change);
                    return FaultAction::proceed;
                });
                WorkbookExport workbooks = fresh();
                told = step.run(workbooks);
                platform::setFaultHook({});
                if (fault == Fault::powerCut) power.cut();
            }
            // The journal undone, the workbook is the one before or the one after.
            if (fs::exists(rec() / "201711.xls-journal")) {
                ExcelSheetWriter writer;
                const Status opened = writer.openWorkbook(fromAnsi(workbook().string()));
                EXPECT_TRUE(opened.ok() || opened.number() == 4) << opened.text();
            }
            EXPECT_FALSE(fs::exists(rec() / "201711.xls-journal"));
            const std::string rows = rowsOf(workbook());
            EXPECT_TRUE(rows == rowsBefore || rows == rowsAfter) << rows;
            if (fs::exists(workbook())) keepResult();
            // Every row in the workbook or waiting, once; only the step's
            // own row may be lost, to a crash, or told as not kept.
            const bool mayLose = step.fresh && (fault != Fault::fail || told.number() == 21);
            std::multiset<std::string> kept = callees(rows);
            for (const std::string& callee : waitingCallees(queue())) kept.insert(callee);
            EXPECT_TRUE(kept == everyRow || (mayLose && kept == withoutFresh)) << told.text();
            fresh().resumeLeftovers();
            const std::string taken = rowsOf(workbook());
            EXPECT_TRUE(taken == finalRows || (mayLose && taken == finalWithout)) << taken;
            EXPECT_FALSE(fs::exists(queue()));
            keepResult();
        }
    }
}

void WorkbookCrash::readResultsElsewhere() {
#ifdef _WIN32
    // python3 and LibreOffice are not there; the Linux build reads the same results.
#else
    std::vector<fs::path> files;
    for (const auto& [bytes, path] : results) files.push_back(path);
    std::string why;
    const auto dumps = outside::readWithXlrd(files, why);
    if (dumps.empty()) GTEST_SKIP() << why;
    for (const auto& file : files) EXPECT_EQ(dumps.at(file.string()), xls::dumpWorkbookFile(file)) << file;
    const auto converted = outside::convertWithLibreOffice(files, outside.path() / "libreoffice", why);
    if (converted.empty()) GTEST_SKIP() << why;
    EXPECT_EQ(converted.size(), files.size());
    std::vector<fs::path> saved;
    for (const auto& [source, result] : converted) saved.push_back(result);
    const auto again = outside::readWithXlrd(saved, why);
    for (const auto& [source, result] : converted)
        EXPECT_EQ(again.at(result.string()), xls::dumpWorkbookFile(source)) << source << " as LibreOffice saves it";
#endif
}

// The day sheet's rows for the days and callees given.
void fill(WorkbookExport& workbooks, int day, int from, int to) {
    for (int callee = from; callee < to; ++callee)
        ASSERT_TRUE(workbooks.exportToWorkbook(record(day, callee), now).ok());
}

Files withQueue(Files files, const std::vector<QueuedRow>& rows, std::size_t applied = 0, std::size_t cut = 0) {
    std::string bytes = queueHeader();
    for (const QueuedRow& row : rows) bytes += encodeQueuedRow(row);
    bytes.replace(queueAppliedAt, 4, queueAppliedField(static_cast<std::uint32_t>(applied)));
    bytes.resize(bytes.size() - cut);
    files["201711.xls.queue"] = bytes;
    return files;
}

TEST_F(WorkbookCrash, EveryStepOfEveryWayOfWritingLeavesTheWorkbookBeforeOrAfter) {
    {
        WorkbookExport workbooks = fresh();
        fill(workbooks, 1, 0, 30);
    }
    const Files month = files();
    {
        WorkbookExport workbooks = fresh();
        fill(workbooks, 2, 0, 5);
    }
    // The 1st's sheet before the 2nd's, which is last in the stream; then
    // the 1st's moved to the end, the 2nd's left with room after it.
    const Files twoDays = files();
    {
        WorkbookExport workbooks = fresh();
        fill(workbooks, 1, 30, 31);
    }
    const Files moved = files();
    lay(month);
    const auto row = [&](int day, int callee) {
        return [=](WorkbookExport& workbooks) { return workbooks.exportToWorkbook(record(day, callee), now); };
    };
    const auto tick = [](WorkbookExport& workbooks) {
        workbooks.resumeLeftovers();
        return Status();
    };
    const Step steps[] = {
        {"a row where the workbook lies", month, row(1, 100), "13910100"},
        {"a new day's sheet, the workbook written anew", month, row(2, 101), "13910101"},
        {"a row for a held workbook, into a new queue", month, row(1, 102), "13910102", true},
        {"a row for a held workbook, behind a row a crash cut short",
         withQueue(month, {queuedRow(1, 103), queuedRow(1, 104)}, 0, 5), row(1, 105), "13910105", true},
        {"waiting rows, where the workbook lies", withQueue(month, {queuedRow(1, 106), queuedRow(1, 107)}), tick, {}},
        {"waiting rows, some in place already", withQueue(month, {queuedRow(1, 108), queuedRow(1, 109)}, 1), tick,
         {}},
        {"waiting rows for a new day's sheet, the workbook written anew",
         withQueue(month, {queuedRow(1, 110), queuedRow(3, 111)}), tick, {}},
        {"waiting rows that make the workbook", withQueue({}, {queuedRow(1, 112), queuedRow(2, 113)}), tick, {}},
        {"the next row with the waiting ones", withQueue(month, {queuedRow(1, 114)}), row(1, 115), "13910115"},
        {"a row for an earlier day's sheet, moved to the end of the stream", twoDays, row(1, 116), "13910116"},
        {"a row for a sheet with room after it", moved, row(2, 117), "13910117"},
        {"a row for the sheet moved to the end", moved, row(1, 118), "13910118"},
        {"waiting rows for two days' sheets, in place",
         withQueue(twoDays, {queuedRow(1, 119), queuedRow(2, 120), queuedRow(1, 121)}), tick, {}},
    };
    for (const Step& step : steps) crashEverywhere(step);
    readResultsElsewhere();
}

// The cells of record(1, callee)'s row, as they go in place in the second sheet.
std::vector<xls::SheetRows> cellsOf(int callee) {
    const QueuedRow row = queuedRow(1, callee);
    std::vector<xls::SheetRows> cells{{1, {{}}}};
    for (std::uint16_t column = 0; column < 7; ++column)
        cells[0].rows[0].push_back({column, toUtf16(row.values[column])});
    return cells;
}

// Rows that need the container's tables to grow, near their limits.
TEST_F(WorkbookCrash, TheTablesOfTheContainerGrowWholeOrNotAtAll) {
    const struct {
        const char* name;
        std::size_t sectors;  // the file's sectors that pass the limit
        std::size_t tableAt;  // the header field that counts the table's sectors
    } limits[] = {
        {"a sector of the allocation table", 128, 44},
        {"the first DIFAT sector", 109 * 128, 72},
    };
    for (const auto& limit : limits) {
        SCOPED_TRACE(limit.name);
        fs::remove_all(rec());
        fs::create_directories(rec());
        // A first sheet of long texts, the last cut to fit, that leaves the
        // file some rows short of the limit.
        std::size_t wholeTexts = 0;
        long long lastLength = 1;
        for (int tries = 0;; ++tries) {
            xls::Workbook month;
            for (const std::wstring_view column : columns) month.strings.push_back(toUtf16(column));
            xls::Sheet texts{u"00", 0, {}};
            for (std::size_t i = 0; i <= wholeTexts; ++i) {
                texts.cells.push_back({static_cast<std::uint32_t>(i), 0, xls::CellKind::text,
                                       static_cast<std::uint32_t>(month.strings.size()), 0});
                // Each its own: equal texts are kept once.
                std::u16string text(i < wholeTexts ? xls::maxCellText : lastLength, u'x');
                const std::u16string number = toUtf16(std::to_wstring(i));
                text.replace(0, std::min(number.size(), text.size()), number.substr(0, text.size()));
                month.strings.push_back(std::move(text));
            }
            xls::Sheet day{u"01", 0, {}};
            for (std::uint16_t column = 0; column < 7; ++column)
                day.cells.push_back({0, column, xls::CellKind::text, column, 0});
            month.sheets = {texts, day};
            writeBytes(workbook(), xls::workbookFileBytes(month));
            const long long missing = static_cast<long long>(limit.sectors) - 12 -
                                      static_cast<long long>(fs::file_size(workbook()) / 512 - 1);
            if (missing >= 0 && missing < 6) break;
            ASSERT_LT(tries, 40) << "no filler leaves the file " << missing << " sectors short of the limit";
            // A whole text takes about 65 sectors.
            if (missing >= 70) {
                wholeTexts += static_cast<std::size_t>(missing / 70);
                continue;
            }
            lastLength = std::clamp<long long>(lastLength + (missing - 3) * 512, 1, xls::maxCellText);
        }
        // Rows until the next would make the table grow.
        const std::string file = readBytes(workbook());
        xls::Workbook read;
        std::string why;
        xls::AppendSite site;
        ASSERT_EQ(xls::readWorkbookFile(file, read, why), xls::FileReadResult::ok);
        ASSERT_TRUE(xls::AppendSite::find(file, read, site));
        WorkbookExport workbooks = fresh();
        const xls::FileReader reader = [&](std::uint64_t offset, std::size_t size, std::string& bytes) {
            bytes = readBytes(workbook()).substr(static_cast<std::size_t>(offset), size);
            return true;
        };
        const auto added = xls::AppendSite::Result::added;
        int callee = 200;
        for (;; ++callee) {
            xls::AppendSite next = site;
            std::vector<xls::FileEdit> edits;
            std::uint64_t size = 0;
            ASSERT_EQ(next.append(cellsOf(callee), reader, edits, size), added);
            if (std::any_of(edits.begin(), edits.end(), [&](const xls::FileEdit& edit) {
                    return edit.offset <= limit.tableAt && edit.offset + edit.bytes.size() > limit.tableAt;
                }))
                break;
            const Status saved = workbooks.exportToWorkbook(record(1, callee), now);
            ASSERT_TRUE(saved.ok()) << saved.text();
            ASSERT_EQ(site.append(cellsOf(callee), reader, edits, size), added);
            ASSERT_LT(callee, 400) << "the table never grew";
        }
        ASSERT_EQ(fs::file_size(workbook()), site.fileSize());
        // A failing change leaves nothing a crash does not.
        crashEverywhere({limit.name, files(),
                         [=](WorkbookExport& each) { return each.exportToWorkbook(record(1, callee), now); },
                         "139" + std::to_string(10000 + callee), false, {Fault::kill, Fault::powerCut}});
    }
    readResultsElsewhere();
}

// A crash while a crash is taken up: taken up again, it is as if the first
// had been taken up at once.
TEST_F(WorkbookCrash, TakingUpACrashCanItselfBeCutShort) {
    {
        WorkbookExport workbooks = fresh();
        fill(workbooks, 1, 0, 10);
        const Hold hold(workbook());
        fill(workbooks, 1, 10, 12);
    }
    const Files before = files();
    for (std::size_t nth = 1;; ++nth) {
        SCOPED_TRACE("crash at change " + std::to_string(nth));
        lay(before);
        std::size_t seen = 0;
        platform::setFaultHook([&](const FileChange&) { return ++seen == nth ? FaultAction::crash : FaultAction::proceed; });
        fresh().exportToWorkbook(record(1, 12), now);
        platform::setFaultHook({});
        if (seen < nth) break;
        const Files crashed = files();
        for (std::size_t again = 1;; ++again) {
            SCOPED_TRACE("taken up, crash at change " + std::to_string(again));
            lay(crashed);
            std::size_t taking = 0;
            platform::setFaultHook(
                [&](const FileChange&) { return ++taking == again ? FaultAction::crash : FaultAction::proceed; });
            fresh().resumeLeftovers();
            platform::setFaultHook({});
            if (taking < again) break;
            fresh().resumeLeftovers();
            const std::multiset<std::string> rows = callees(rowsOf(workbook()));
            EXPECT_EQ(rows.size(), std::set<std::string>(rows.begin(), rows.end()).size()) << "no row twice";
            EXPECT_TRUE(rows.size() == 12 || rows.size() == 13);
            EXPECT_FALSE(fs::exists(queue()));
        }
    }
}

}  // namespace
}  // namespace quelvar
