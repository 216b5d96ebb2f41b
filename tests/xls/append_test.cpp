#include "xls/append.h"

#include <gtest/gtest.h>

#include <functional>

#include "xls/little_endian.h"
#include "xls/workbook_dump.h"

namespace quelvar::xls {
namespace {

constexpr std::uint32_t endOfChain = 0xFFFFFFFE;

// The file after the edits, each of which must have found there the bytes
// it says it found.
std::string applied(std::string file, const std::vector<FileEdit>& edits, std::uint64_t size) {
    for (const FileEdit& edit : edits) {
        const std::size_t offset = static_cast<std::size_t>(edit.offset);
        EXPECT_TRUE(file.substr(std::min(offset, file.size()), edit.bytes.size()) == edit.before) << edit.offset;
        if (offset + edit.bytes.size() > file.size()) file.resize(offset + edit.bytes.size(), '\0');
        file.replace(offset, edit.bytes.size(), edit.bytes);
    }
    EXPECT_EQ(file.size(), size);
    return file;
}

void expectSiteKnows(const AppendSite& site, const std::string& file) {
    EXPECT_EQ(site.fileSize(), file.size());
    for (const auto& [offset, bytes] : site.keptSectors())
        EXPECT_TRUE(file.substr(static_cast<std::size_t>(offset), bytes.size()) == bytes) << offset;
}

std::string dumpOf(const std::string& file) {
    Workbook workbook;
    std::string why;
    return readWorkbookFile(file, workbook, why) == FileReadResult::ok ? dumpWorkbook(workbook) : "unread: " + why;
}

// Reads the bytes of a file the site does not keep.
FileReader readerOf(const std::string& file) {
    return [&file](std::uint64_t offset, std::size_t size, std::string& bytes) {
        if (offset > file.size()) return false;
        bytes = file.substr(static_cast<std::size_t>(offset), size);
        return true;
    };
}

// Rows for one sheet, applied to the file.
AppendSite::Result appendTo(AppendSite& site, std::string& file, std::size_t sheet,
                            std::vector<std::vector<RowCell>> rows) {
    std::vector<FileEdit> edits;
    std::uint64_t size = 0;
    const AppendSite::Result result = site.append({{sheet, std::move(rows)}}, readerOf(file), edits, size);
    if (result == AppendSite::Result::added) file = applied(file, edits, size);
    return result;
}

AppendSite siteOf(const std::string& file) {
    Workbook workbook;
    std::string why;
    EXPECT_EQ(readWorkbookFile(file, workbook, why), FileReadResult::ok) << why;
    AppendSite site;
    EXPECT_TRUE(AppendSite::find(file, workbook, site));
    return site;
}

// Text cells in columns 0 on; an empty text leaves its cell out.
std::vector<RowCell> row(std::initializer_list<std::u16string> texts) {
    std::vector<RowCell> cells;
    std::uint16_t column = 0;
    for (const std::u16string& text : texts) {
        if (!text.empty()) cells.push_back({column, text});
        ++column;
    }
    return cells;
}

// A day's sheet with its header row, after a first sheet of `filler`
// numbers that makes the file as large as a test needs.
Workbook dayWorkbook(std::size_t filler = 0, std::uint32_t dayRows = 0) {
    Workbook workbook;
    workbook.strings = {u"帐号", u"类型", u"主叫", u"8001"};
    Sheet first{u"00", 0, {}};
    for (std::size_t i = 0; i < filler; ++i)
        first.cells.push_back({static_cast<std::uint32_t>(i / 256), static_cast<std::uint16_t>(i % 256),
                               CellKind::number, 0, static_cast<double>(i)});
    if (filler > 0) workbook.sheets.push_back(std::move(first));
    Sheet day{u"01", 0, {}};
    for (std::uint16_t column = 0; column < 3; ++column) day.cells.push_back({0, column, CellKind::text, column, 0});
    for (std::uint32_t r = 1; r <= dayRows; ++r) day.cells.push_back({r, 0, CellKind::text, 3, 0});
    workbook.sheets.push_back(std::move(day));
    return workbook;
}

TEST(AppendSite, PutsRowsBelowTheLastSheetsLastRowAndTheFileReadsAsIfWrittenWhole) {
    Workbook workbook = dayWorkbook();
    workbook.sheets.insert(workbook.sheets.begin(), Sheet{u"Notes", 1, {{0, 1, CellKind::number, 0, 2.5}}});
    std::string file = workbookFileBytes(workbook);
    AppendSite site = siteOf(file);
    ASSERT_EQ(site.sheetCount(), 2u);
    EXPECT_EQ(utf8Of(site.sheetName(1)), "01");
    EXPECT_FALSE(site.takesRows(0)) << "no text in its first row names a column";
    std::uint16_t column = 0;
    EXPECT_TRUE(site.columnOf(1, u"主叫", column));
    EXPECT_EQ(column, 2);
    EXPECT_FALSE(site.columnOf(1, u"时长", column));
    EXPECT_EQ(site.nextRow(1), 1u);

    std::string expected = "sheet Notes hidden\n|#2.5\nsheet 01\n帐号|类型|主叫\n";
    const struct {
        std::vector<std::vector<RowCell>> rows;
        std::string lines;
    } steps[] = {
        {{row({u"8001", u"OU", u"95588"})}, "8001|OU|95588\n"},
        // Two rows at once; a cell left empty; text that needs two bytes a character.
        {{row({u"张三", u"", u"021"}), row({u"", u"IN"})}, "张三||021\n|IN\n"},
        {{row({std::u16string(255, u'9')}), {}}, std::string(255, '9') + "\n"},
        // A row wider than the header widens the sheet's dimensions.
        {{{{5, u"x"}}}, "|||||x\n"},
    };
    for (const auto& step : steps) {
        ASSERT_EQ(appendTo(site, file, 1, step.rows), AppendSite::Result::added);
        expected += step.lines;
        EXPECT_EQ(dumpOf(file), expected);
        expectSiteKnows(site, file);
        EXPECT_EQ(siteOf(file).nextRow(1), site.nextRow(1)) << "the site found again is the one kept";
    }
    // Written whole again, the cells are the same.
    Workbook read;
    std::string why;
    ASSERT_EQ(readWorkbookFile(file, read, why), FileReadResult::ok);
    EXPECT_EQ(dumpOf(workbookFileBytes(read)), expected);
}

// Files near the limits of the container's tables, and rows appended one
// by one across them: every edit finds what it expects, and where a table
// grew, and at the end, the file reads with every row.
TEST(AppendSite, GrowsTheContainerAcrossTheLimitsOfItsTables) {
    const struct {
        const char* limit;
        std::size_t sectors;  // the file's sectors that pass it
    } limits[] = {
        {"the first sector of the allocation table", 128},
        {"the header's 109 sectors of the allocation table", 109 * 128},
        {"the first DIFAT sector", (109 + 127) * 128},
    };
    for (const auto& limit : limits) {
        // A filler sheet that leaves the file a few sectors short of the limit.
        std::size_t filler = limit.sectors * 512 / 20;
        std::string file;
        for (int tries = 0; tries < 8; ++tries) {
            file = workbookFileBytes(dayWorkbook(filler));
            const long long sectors = static_cast<long long>(file.size() / 512 - 1);
            const long long missing = static_cast<long long>(limit.sectors) - 4 - sectors;
            if (missing >= 0 && missing < 4) break;
            filler = static_cast<std::size_t>(static_cast<long long>(filler) + missing * 512 / 18);
        }
        ASSERT_LT(file.size() / 512, limit.sectors) << limit.limit;
        AppendSite site = siteOf(file);
        const std::string before = dumpOf(file);
        std::string rows;
        std::uint32_t fatSectors = readU32(file, 44);
        for (int i = 0; file.size() / 512 <= limit.sectors + 8; ++i) {
            const std::u16string text(200, static_cast<char16_t>(u'a' + i % 26));
            ASSERT_EQ(appendTo(site, file, 1, {row({text, u"中文"})}), AppendSite::Result::added);
            rows += utf8Of(text) + "|中文\n";
            if (readU32(file, 44) != fatSectors) {
                fatSectors = readU32(file, 44);
                EXPECT_EQ(dumpOf(file), before + rows) << limit.limit << ", the table grown to " << fatSectors;
            }
        }
        EXPECT_EQ(dumpOf(file), before + rows) << limit.limit;
        expectSiteKnows(site, file);
        EXPECT_EQ(siteOf(file).nextRow(1), site.nextRow(1));
    }
}

// Days' sheets taking rows in every order: a sheet whose room is used up
// moves to the end of the stream, the others stay where they are, and after
// every step the file reads as if written whole, the site found in it
// again is the one kept, and the edits found what they said they replace.
TEST(AppendSite, PutsRowsBelowTheLastRowOfAnySheetMovingItToTheEndWhereItHasNoRoom) {
    Workbook workbook;
    workbook.strings = {u"帐号", u"类型", u"old"};
    for (const char16_t* name : {u"01", u"02", u"03"}) {
        Sheet sheet{name, 0, {{0, 0, CellKind::text, 0, 0}, {0, 1, CellKind::text, 1, 0}}};
        for (std::uint32_t r = 1; r <= 20; ++r) sheet.cells.push_back({r, 0, CellKind::text, 2, 0});
        workbook.sheets.push_back(std::move(sheet));
    }
    std::string file = workbookFileBytes(workbook);
    std::vector<std::string> lines(3, "帐号|类型\n" + [] {
        std::string rows;
        for (int r = 0; r < 20; ++r) rows += "old\n";
        return rows;
    }());
    const auto expected = [&] {
        return "sheet 01\n" + lines[0] + "sheet 02\n" + lines[1] + "sheet 03\n" + lines[2];
    };
    AppendSite site = siteOf(file);
    const std::uint64_t startSize = file.size();
    // The first sheet in turn with the last, then all three in turn, rows
    // of every size, some steps with rows for several sheets at once.
    const std::size_t order[] = {0, 2, 0, 2, 1, 0, 1, 2, 0, 0, 1, 1, 2, 1, 0};
    for (int step = 0; step < 300; ++step) {
        const std::size_t sheet = order[step % std::size(order)];
        const std::u16string text(1 + step * 37 % 250, static_cast<char16_t>(u'a' + step % 26));
        std::vector<SheetRows> rows{{sheet, {row({text, u"中"})}}};
        lines[sheet] += utf8Of(text) + "|中\n";
        if (step % 7 == 3) {
            const std::size_t other = (sheet + 1) % 3;
            rows.push_back({other, {row({u"", u"x"}), row({u"y"})}});
            lines[other] += "|x\ny\n";
        }
        std::vector<FileEdit> edits;
        std::uint64_t size = 0;
        ASSERT_EQ(site.append(rows, readerOf(file), edits, size), AppendSite::Result::added) << step;
        file = applied(file, edits, size);
        ASSERT_EQ(dumpOf(file), expected()) << step;
        expectSiteKnows(site, file);
        const AppendSite found = siteOf(file);
        for (std::size_t s = 0; s < 3; ++s) EXPECT_EQ(found.nextRow(s), site.nextRow(s)) << step;
    }
    // Nothing moved twice without having doubled first: the file stays
    // within a few times the rows it holds.
    Workbook read;
    std::string why;
    ASSERT_EQ(readWorkbookFile(file, read, why), FileReadResult::ok);
    const std::string whole = workbookFileBytes(read);
    EXPECT_EQ(dumpOf(whole), expected());
    EXPECT_LT(file.size(), 4 * whole.size() + startSize) << file.size() << " against " << whole.size();
}

// What a site cannot read leaves it as it was: the next try succeeds.
TEST(AppendSite, AFileThatCannotBeReadLeavesTheSiteAsItWas) {
    Workbook workbook = dayWorkbook(0, 30);
    workbook.sheets.push_back(Sheet{u"02", 0, workbook.sheets[0].cells});
    std::string file = workbookFileBytes(workbook);
    AppendSite site = siteOf(file);
    std::vector<FileEdit> edits;
    std::uint64_t size = 0;
    const FileReader failing = [](std::uint64_t, std::size_t, std::string&) { return false; };
    EXPECT_EQ(site.append({{0, {row({u"a"})}}}, failing, edits, size), AppendSite::Result::unreadable);
    EXPECT_TRUE(edits.empty());
    expectSiteKnows(site, file);
    ASSERT_EQ(appendTo(site, file, 0, {row({u"a"})}), AppendSite::Result::added);
    EXPECT_EQ(site.nextRow(0), 32u);
    expectSiteKnows(site, file);
}

TEST(AppendSite, TakesOnlyAFileOfItsOwnWriterThatEndsWithTheLastSheet) {
    const std::string file = workbookFileBytes(dayWorkbook(0, 2));
    const std::size_t stream = 1536;  // after the header, the allocation table and the directory
    const auto last = [&](std::string_view record) { return file.rfind(record); };
    const struct {
        const char* what;
        std::function<void(std::string&)> change;
    } cases[] = {
        {"another writer's fonts", [&](std::string& f) { f[file.find(std::string("\x31\x00\x15\x00", 4), stream) + 4] ^= 1; }},
        {"a record after the last sheet", [&](std::string& f) { f[last(std::string("\x0A\x00\x00\x00", 4)) + 4] = 1; }},
        {"a sector past the stream", [&](std::string& f) { f.append(512, '\0'); }},
        {"a used sector past the file", [&](std::string& f) { setU32(f, 512 + 4 * (f.size() / 512 - 1), endOfChain); }},
        {"dimensions that do not fit the cells",
         [&](std::string& f) { f[last(std::string("\x00\x02\x0E\x00", 4)) + 8] = 9; }},
        {"a record its writer does not write in a sheet",
         [&](std::string& f) { f[last(std::string("\x08\x02\x10\x00", 4))] = 0x25; }},
    };
    Workbook workbook;
    std::string why;
    AppendSite site;
    ASSERT_EQ(readWorkbookFile(file, workbook, why), FileReadResult::ok);
    ASSERT_TRUE(AppendSite::find(file, workbook, site));
    for (const auto& each : cases) {
        std::string changed = file;
        each.change(changed);
        ASSERT_NE(changed, file) << each.what;
        ASSERT_EQ(readWorkbookFile(changed, workbook, why), FileReadResult::ok) << each.what << ": " << why;
        EXPECT_FALSE(AppendSite::find(changed, workbook, site)) << each.what;
    }
    const std::string empty = workbookFileBytes({{}, {{u"01", 0, {}}}});
    ASSERT_EQ(readWorkbookFile(empty, workbook, why), FileReadResult::ok);
    ASSERT_TRUE(AppendSite::find(empty, workbook, site));
    EXPECT_FALSE(site.takesRows(0)) << "a sheet without a first row names no columns";
}

TEST(AppendSite, StopsAtTheLastRowASheetCanHold) {
    std::string file = workbookFileBytes(dayWorkbook(0, maxRows - 2));
    AppendSite site = siteOf(file);
    ASSERT_EQ(site.nextRow(0), maxRows - 1);
    EXPECT_EQ(appendTo(site, file, 0, {row({u"a"}), row({u"b"})}), AppendSite::Result::tooLarge);
    EXPECT_EQ(site.nextRow(0), maxRows - 1);
    ASSERT_EQ(appendTo(site, file, 0, {row({u"a"})}), AppendSite::Result::added);
    EXPECT_EQ(appendTo(site, file, 0, {row({u"b"})}), AppendSite::Result::tooLarge);
    const std::string dump = dumpOf(file);
    EXPECT_EQ(dump.substr(dump.size() - 8), "\n8001\na\n");
}

}  // namespace
}  // namespace quelvar::xls
