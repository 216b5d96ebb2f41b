// Filing one record in a month's workbook that already holds 30 day sheets
// of N rows each (N = 100, 1,000, 10,000): the whole export as the collector
// runs it, for a row of the last day's sheet and for rows of two earlier
// days' in turn, with the bytes each writes (the journal's included); where
// a whole write's time goes (reading the workbook in, writing it out), and
// the floor of any atomic replace, the same number of bytes written to a new
// file, flushed and renamed over the old one. Then a catch-up: 10,000 rows
// spread over the 29 earlier days in turn, its total time and the file's size
// after it (a catch-up slower than a minute is stopped and its total projected).
// Run as: build/bench/workbook_bench [folder]   (default: a fresh folder under the temporary folder)
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/text.h"
#include "core/utf16.h"
#include "filing/workbook_export.h"
#include "platform/file_faults.h"
#include "xls/workbook_file.h"

namespace {

namespace fs = std::filesystem;
using namespace quelvar;
using namespace quelvar::xls;
using Clock = std::chrono::steady_clock;

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// What the export writes, with numbers that differ from row to row as real calls do.
Workbook monthWorkbook(std::uint32_t rowsPerSheet) {
    Workbook workbook;
    const auto text = [&](const std::string& value) {
        workbook.strings.push_back(toUtf16(fromAnsi(value)));
        return static_cast<std::uint32_t>(workbook.strings.size() - 1);
    };
    const char* header[] = {"帐号", "类型", "主叫", "被叫", "时间", "时长", "线路"};
    for (int day = 1; day <= 30; ++day) {
        char name[3];
        std::snprintf(name, sizeof name, "%02d", day);
        Sheet sheet{toUtf16(fromAnsi(name)), 0, {}};
        for (std::uint16_t column = 0; column < 7; ++column)
            sheet.cells.push_back({0, column, CellKind::text, text(header[column]), 0});
        for (std::uint32_t row = 1; row <= rowsPerSheet; ++row) {
            const std::uint32_t call = static_cast<std::uint32_t>(day) * 100000 + row;
            char timeOfDay[16];
            char duration[16];
            std::snprintf(timeOfDay, sizeof timeOfDay, "%02u:%02u:%02u", row / 3600 % 24, row / 60 % 60, row % 60);
            std::snprintf(duration, sizeof duration, "00:%02u:%02u", call % 60, call * 7 % 60);
            const std::string values[] = {std::to_string(8000 + call % 200),
                                          call % 3 ? "OU" : "IN",
                                          std::to_string(8000 + call % 500),
                                          "139" + std::to_string(10000000 + call),
                                          timeOfDay,
                                          duration,
                                          call % 2 ? "IP" : "XO"};
            for (std::uint16_t column = 0; column < 7; ++column)
                sheet.cells.push_back({row, column, CellKind::text, text(values[column]), 0});
        }
        workbook.sheets.push_back(std::move(sheet));
    }
    return workbook;
}

std::string readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Writes the bytes to a new file, flushes it and renames it over the target.
void replaceFloor(const fs::path& target, const std::string& bytes) {
    const fs::path beside = target.string() + ".new";
    const int descriptor = open(beside.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (descriptor < 0 || write(descriptor, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()) ||
        fsync(descriptor) != 0) {
        std::perror("floor");
        std::exit(1);
    }
    close(descriptor);
    fs::rename(beside, target);
    const int folder = open(target.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    fsync(folder);
    close(folder);
}


// One flush of a sector written to a file: an append under the journal
// makes four (the journal, the folder, the workbook, the folder again).
double syncFloor(const fs::path& folder) {
    const fs::path path = folder / "sync.bin";
    const int descriptor = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    std::vector<double> each;
    const std::string sector(512, 'x');
    for (int i = 0; i < 21 && descriptor >= 0; ++i) {
        const Clock::time_point start = Clock::now();
        if (pwrite(descriptor, sector.data(), sector.size(), 0) != 512 || fdatasync(descriptor) != 0) break;
        each.push_back(millisecondsSince(start));
    }
    close(descriptor);
    fs::remove(path);
    return each.empty() ? 0 : median(each);
}

// Appends the record `repeats` times; the milliseconds and the bytes written of each.
bool appendRows(WorkbookExport& workbook, const Record& record, const CalendarTime& now, int repeats,
                std::vector<double>& milliseconds, std::vector<double>& bytes) {
    std::uint64_t written = 0;
    platform::setFaultHook([&](const platform::FileChange& change) {
        if (change.step == platform::FileStep::write) written += change.bytes.size();
        return platform::FaultAction::proceed;
    });
    for (int i = 0; i < repeats; ++i) {
        written = 0;
        const Clock::time_point start = Clock::now();
        if (const Status status = workbook.exportToWorkbook(record, now); !status.ok()) {
            std::fprintf(stderr, "the row was not written: %s\n", status.reason().c_str());
            return false;
        }
        milliseconds.push_back(millisecondsSince(start));
        bytes.push_back(static_cast<double>(written));
    }
    platform::setFaultHook({});
    return true;
}

double mean(const std::vector<double>& values) {
    double sum = 0;
    for (const double value : values) sum += value;
    return sum / values.size();
}

// A record of the given day of November.
Record recordOfDay(int day) {
    static std::vector<std::wstring> texts(32);
    wchar_t time[8];
    std::swprintf(time, 8, L"11-%02d", day);
    texts[day] = L"RECORD:TIME=" + std::wstring(time) +
                 L" 10:20:30&DURATION=75&ACCOUNT=8001&TYPE=OU&CPN=8001&CDPN=95588&ROUTE=IP&";
    Record record;
    parseRecord(texts[day], record);
    return record;
}

std::string withMinimum(const std::vector<double>& values) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f (%.2f)", median(values), *std::min_element(values.begin(), values.end()));
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    fs::path base = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path() / "quelvar-workbook-bench";
    fs::remove_all(base);
    fs::create_directories(base);
    std::printf("workbooks in %s; one write and flush of a sector there: %.2f ms\n\n", base.c_str(),
                syncFloor(base));
    std::printf("%10s %9s %9s %17s %10s %17s %9s %10s %9s %9s %15s\n", "rows/sheet", "rows", "file MiB",
                "last ms (min)", "bytes/row", "earlier ms (min)", "mean ms", "bytes/row", "read ms", "write ms",
                "floor ms (min)");
    const CalendarTime now{2024, 11, 30, 12, 0, 0};
    // Today's sheet is the last; a record of the 15th came late.
    const std::wstring today =
        L"RECORD:TIME=11-30 10:20:30&DURATION=75&ACCOUNT=8001&TYPE=OU&CPN=8001&CDPN=95588&ROUTE=IP&";
    const std::wstring late =
        L"RECORD:TIME=11-15 10:20:30&DURATION=75&ACCOUNT=8001&TYPE=OU&CPN=8001&CDPN=95588&ROUTE=IP&";
    Record todays, lates;
    parseRecord(today, todays);
    parseRecord(late, lates);
    const Record earlier = recordOfDay(14);
    double smallest = 0, largest = 0, smallestEarlier = 0, largestEarlier = 0;
    std::vector<std::string> catchUps;
    for (const std::uint32_t rows : {100u, 1000u, 10000u}) {
        const int repeats = 41;
        const fs::path programDir = base / std::to_string(rows);
        fs::create_directories(programDir / "rec");
        const fs::path path = programDir / "rec" / "202411.xls";
        {
            const WorkbookFile file = writeWorkbookFile(monthWorkbook(rows));
            std::ofstream(path, std::ios::binary) << file.head << file.stream << file.tail;
        }
        const EventLog log(programDir.string());
        WorkbookExport workbook(fromAnsi(programDir.string()), log);
        // The first row reads the workbook whole, as after every start.
        std::vector<double> first, firstBytes;
        if (!appendRows(workbook, todays, now, 1, first, firstBytes)) return 1;
        std::vector<double> inPlace, inPlaceBytes, anew, anewBytes;
        if (!appendRows(workbook, todays, now, 101, inPlace, inPlaceBytes)) return 1;
        // Rows of the 15th and the 14th in turn: neither sheet is the last.
        for (int i = 0; i < repeats; ++i)
            if (!appendRows(workbook, i % 2 ? earlier : lates, now, 1, anew, anewBytes)) return 1;
        std::vector<double> reads, writes, floors;
        const std::string bytes = readAll(path);
        for (int i = 0; i < repeats; ++i) {
            Clock::time_point start = Clock::now();
            Workbook read;
            std::string why;
            if (readWorkbookFile(bytes, read, why) != FileReadResult::ok) {
                std::fprintf(stderr, "the workbook does not read back\n");
                return 1;
            }
            reads.push_back(millisecondsSince(start));
            start = Clock::now();
            const WorkbookFile written = writeWorkbookFile(read);
            writes.push_back(millisecondsSince(start));
            const std::string whole = written.head + written.stream + written.tail;
            start = Clock::now();
            replaceFloor(programDir / "floor.bin", whole);
            floors.push_back(millisecondsSince(start));
        }
        std::printf("%10u %9u %9.2f %17s %10.0f %17s %9.2f %10.0f %9.2f %9.2f %15s\n", rows, rows * 30,
                    bytes.size() / 1048576.0, withMinimum(inPlace).c_str(), median(inPlaceBytes),
                    withMinimum(anew).c_str(), mean(anew), median(anewBytes), median(reads), median(writes),
                    withMinimum(floors).c_str());
        if (rows == 100) smallest = median(inPlace), smallestEarlier = median(anew);
        largest = median(inPlace);
        largestEarlier = median(anew);
        std::printf("%10s first row after a start, the workbook read whole: %.2f ms\n", "", first[0]);

        // The catch-up: 10,000 rows over the days before the last in turn.
        constexpr int catchUpRows = 10000;
        std::vector<Record> days;
        for (int day = 1; day <= 29; ++day) days.push_back(recordOfDay(day));
        std::vector<double> each, eachBytes;
        const Clock::time_point start = Clock::now();
        int done = 0;
        for (; done < catchUpRows && millisecondsSince(start) < 60000; ++done)
            if (!appendRows(workbook, days[done * 7 % 29], now, 1, each, eachBytes)) return 1;
        const double total = millisecondsSince(start);
        char line[200];
        std::snprintf(line, sizeof line, "%10u %9d rows in %.1f s%s, %.2f ms a row (median %.2f), file %.2f MiB after",
                      rows, done, total * catchUpRows / done / 1000, done < catchUpRows ? " (projected)" : "",
                      total / done, median(each), fs::file_size(path) / 1048576.0);
        catchUps.emplace_back(line);
    }
    std::printf("\ncatch-up of 10,000 rows spread over the 29 earlier days, per workbook:\n");
    for (const std::string& line : catchUps) std::printf("%s\n", line.c_str());
    std::printf("\nlast sheet: 10,000 rows a sheet cost %.2fx what 100 cost (at most 1.5x), %.2f ms (under 5 ms)\n",
                largest / smallest, largest);
    std::printf("earlier sheet: 10,000 rows a sheet cost %.2fx what 100 cost (at most 1.5x), %.2f ms (under 5 ms)\n",
                largestEarlier / smallestEarlier, largestEarlier);
    fs::remove_all(base);
    return largest <= 1.5 * smallest && largest < 5 && largestEarlier <= 1.5 * smallestEarlier && largestEarlier < 5
               ? 0
               : 1;
}
