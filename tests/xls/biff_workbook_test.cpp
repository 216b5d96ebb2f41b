#include "xls/biff.h"

#include <gtest/gtest.h>

#include <random>

#include "xls/biff_records.h"
#include "xls/compound_file.h"
#include "xls/little_endian.h"
#include "xls/workbook_dump.h"

namespace quelvar::xls {
namespace {

std::string record(std::uint16_t id, const std::string& body) {
    std::string bytes;
    putU16(bytes, id);
    putU16(bytes, static_cast<unsigned>(body.size()));
    return bytes + body;
}

std::string bof(std::uint16_t version, std::uint16_t type) {
    std::string body;
    putU16(body, version);
    putU16(body, type);
    body.resize(16, '\0');
    return record(biff::beginOfFile, body);
}

std::string eof() { return record(biff::endOfFile, {}); }

std::string characters(std::u16string_view text, bool wide) {
    std::string bytes;
    for (const char16_t c : text) {
        if (wide)
            putU16(bytes, c);
        else
            putU8(bytes, c);
    }
    return bytes;
}

// An XLUnicodeString without runs.
std::string unicodeString(std::u16string_view text, bool wide) {
    std::string bytes;
    putU16(bytes, static_cast<unsigned>(text.size()));
    putU8(bytes, wide ? 1 : 0);
    return bytes + characters(text, wide);
}

std::string place(unsigned row, unsigned column) {
    std::string body;
    putU16(body, row);
    putU16(body, column);
    putU16(body, 15);
    return body;
}

std::string sharedCell(unsigned row, unsigned column, std::uint32_t index) {
    std::string body = place(row, column);
    putU32(body, index);
    return record(biff::sharedStringCell, body);
}

std::string rkCell(unsigned row, unsigned column, std::uint32_t rk) {
    std::string body = place(row, column);
    putU32(body, rk);
    return record(biff::rk, body);
}

std::string numberCell(std::uint16_t id, unsigned row, unsigned column, double value) {
    std::string body = place(row, column);
    putDouble(body, value);
    return record(id, body);
}

// A formula whose last result is not a number: type 0 text, 1 boolean, 3 empty text.
std::string formulaCell(unsigned row, unsigned column, unsigned type, unsigned value) {
    std::string body = place(row, column);
    putU8(body, type);
    putU8(body, 0);
    putU8(body, value);
    putU8(body, 0);
    putU16(body, 0);
    putU16(body, 0xFFFF);
    putU16(body, 0);
    putU32(body, 0);
    putU16(body, 0);  // no formula tokens
    return record(biff::formula, body);
}

std::string boundSheet(std::uint32_t offset, unsigned visibility, unsigned type, std::u16string_view name, bool wide) {
    std::string body;
    putU32(body, offset);
    putU8(body, visibility);
    putU8(body, type);
    putU8(body, static_cast<unsigned>(name.size()));
    putU8(body, wide ? 1 : 0);
    return record(biff::boundSheet, body + characters(name, wide));
}

// A workbook as Excel or LibreOffice write it, with the record forms the
// collector never writes itself.
std::string foreignStream(const std::string& extraGlobals = {}) {
    // The shared strings: a rich text with phonetic data to pass over, and a
    // text that starts 8-bit and goes on in 16-bit characters in a CONTINUE.
    std::string sst;
    putU32(sst, 10);
    putU32(sst, 4);
    sst += unicodeString(u"plain", false);
    putU16(sst, 4);
    putU8(sst, 0x0C);
    putU16(sst, 1);  // one formatting run
    putU32(sst, 6);  // six bytes of phonetic data
    sst += "rich" + std::string(4, '\1') + std::string(6, '\2');
    putU16(sst, 5);
    putU8(sst, 0);
    sst += "abc";
    std::string continuation;
    putU8(continuation, 1);
    continuation += characters(u"中文", true);
    continuation += unicodeString(u"after", false);

    std::string sheet = bof(biff::biff8, biff::worksheetSubstream);
    sheet += sharedCell(0, 0, 0) + sharedCell(0, 1, 2);
    sheet += rkCell(1, 0, (42u << 2) | 2) + rkCell(1, 1, (125u << 2) | 3) + rkCell(1, 2, 0x40040000);
    std::string mulrk = place(2, 0).substr(0, 4);
    for (std::uint32_t value : {1u, 2u, 3u}) {
        putU16(mulrk, 15);
        putU32(mulrk, (value << 2) | 2);
    }
    putU16(mulrk, 2);
    sheet += record(biff::multipleRk, mulrk);
    sheet += numberCell(biff::number, 3, 0, 0.1);
    sheet += record(biff::label, place(3, 1) + unicodeString(u"label 文", true));
    std::string rich = place(3, 2) + unicodeString(u"rs", false);
    putU16(rich, 1);
    putU32(rich, 0);
    sheet += record(biff::richText, rich);
    std::string boolean = place(4, 0) + std::string("\1\0", 2);
    std::string error = place(4, 1) + "\7\1";
    sheet += record(biff::boolOrError, boolean) + record(biff::boolOrError, error);
    std::string numeric = place(5, 0);
    putDouble(numeric, 3.0);
    numeric.resize(numeric.size() + 8, '\0');
    sheet += record(biff::formula, numeric);
    sheet += formulaCell(5, 1, 0, 0) + record(0x04BC, "shared formula") +
             record(biff::formulaString, unicodeString(u"公式", true));
    sheet += formulaCell(5, 2, 1, 1) + formulaCell(5, 3, 3, 0);
    // Out of order, and a place given twice: the later cell counts.
    sheet += sharedCell(0, 2, 3) + sharedCell(0, 0, 1);
    // A chart inside the sheet has no cells of the sheet.
    sheet += bof(biff::biff8, 0x0020) + numberCell(biff::number, 9, 9, 99) + eof();
    sheet += eof();
    const std::string hidden = bof(biff::biff8, biff::worksheetSubstream) + numberCell(biff::number, 0, 0, 7) + eof();
    const std::string chart = bof(biff::biff8, 0x0020) + eof();

    const auto globals = [&](std::uint32_t first) {
        const auto second = static_cast<std::uint32_t>(first + sheet.size());
        return bof(biff::biff8, biff::globalsSubstream) + extraGlobals + boundSheet(first, 0, 0, u"数据", true) +
               boundSheet(second + static_cast<std::uint32_t>(hidden.size()), 0, 2, u"Chart1", false) +
               boundSheet(second, 1, 0, u"Hidden", false) + record(biff::sharedStrings, sst) +
               record(biff::continued, continuation) + eof();
    };
    const std::size_t globalsSize = globals(0).size();
    return globals(static_cast<std::uint32_t>(globalsSize)) + sheet + hidden + chart;
}

TEST(BiffWorkbook, ReadsEveryValueRecordOtherProgramsWrite) {
    Workbook workbook;
    std::string why;
    ASSERT_EQ(readBiffWorkbook(foreignStream(), workbook, why), BiffReadResult::ok) << why;
    EXPECT_EQ(dumpWorkbook(workbook),
              "sheet 数据\n"
              "rich|abc中文|after\n"
              "#42|#1.25|#2.5\n"
              "#1|#2|#3\n"
              "#0.10000000000000001|label 文|rs\n"
              "?1|!7\n"
              "#3|公式|?1|\n"
              "sheet Hidden hidden\n"
              "#7\n");
}

Workbook sampleWorkbook() {
    Workbook workbook;
    const auto text = [&](std::u16string value) {
        workbook.strings.push_back(std::move(value));
        return static_cast<std::uint32_t>(workbook.strings.size() - 1);
    };
    Sheet day{u"01", 0, {}};
    const std::u16string header[] = {u"帐号", u"类型", u"主叫", u"被叫", u"时间", u"时长", u"线路"};
    for (std::uint16_t c = 0; c < 7; ++c) day.cells.push_back({0, c, CellKind::text, text(header[c]), 0});
    // Enough distinct texts for the table to run over many CONTINUE
    // records, texts cut across them, one longer than a record by itself.
    for (std::uint32_t r = 1; r <= 3000; ++r) {
        day.cells.push_back({r, 0, CellKind::text, text(u"通话" + std::u16string(r % 50, u'记') + u"x"), 0});
        day.cells.push_back({r, 3, CellKind::text, text(std::u16string(r % 70, u'9')), 0});
        day.cells.push_back({r, 6, CellKind::text, text(u"IP"), 0});
    }
    day.cells.push_back({3001, 0, CellKind::text, text(std::u16string(20000, u'长')), 0});
    day.cells.push_back({3001, 1, CellKind::text, text(std::u16string(9000, u'n')), 0});
    day.cells.push_back({3001, 2, CellKind::text, text(u""), 0});
    Sheet numbers{u"Zahlen ÄÖ", 0, {}};
    numbers.cells = {{0, 0, CellKind::number, 0, -1.5},
                     {0, 255, CellKind::number, 0, 1e300},
                     {65535, 1, CellKind::boolean, 0, 1},
                     {65535, 2, CellKind::error, 0, 42}};
    Sheet hidden{u"隐藏", 2, {}};
    Sheet empty{u"02", 0, {}};
    workbook.sheets = {day, numbers, hidden, empty};
    return workbook;
}

TEST(BiffWorkbook, WhatItWritesReadsBackTheSame) {
    const Workbook written = sampleWorkbook();
    const std::string stream = writeBiffWorkbook(written);
    Workbook read;
    std::string why;
    ASSERT_EQ(readBiffWorkbook(stream, read, why), BiffReadResult::ok) << why;
    EXPECT_TRUE(dumpWorkbook(read) == dumpWorkbook(written));
    // Each text once in the shared table.
    EXPECT_LT(read.strings.size(), 3000u);
}

TEST(BiffWorkbook, RefusesDamagedForeignAndProtectedWorkbooksWithoutReadingOutside) {
    Workbook workbook;
    std::string why;
    EXPECT_EQ(readBiffWorkbook(foreignStream(record(biff::filePass, std::string(54, '\0'))), workbook, why),
              BiffReadResult::encrypted);
    EXPECT_EQ(why, "the workbook is protected by a password");

    const std::string cases[] = {
        "", bof(0x0500, biff::globalsSubstream) + eof(),                                         // Excel 5.0
        bof(biff::biff8, biff::globalsSubstream) + boundSheet(9999, 0, 0, u"A", false) + eof(),  // sheet outside
        bof(biff::biff8, biff::globalsSubstream) + boundSheet(0, 0, 0, u"A", false) + eof(),     // sheet at the globals
    };
    for (const std::string& stream : cases) {
        EXPECT_EQ(readBiffWorkbook(stream, workbook, why), BiffReadResult::damaged) << stream.size();
        EXPECT_FALSE(why.empty());
    }
    // A cell referring to text that the table lacks.
    std::string stream = foreignStream();
    const std::string lastText = sharedCell(0, 0, 1);
    stream.replace(stream.find(lastText), lastText.size(), sharedCell(0, 0, 4));
    EXPECT_EQ(readBiffWorkbook(stream, workbook, why), BiffReadResult::damaged);
    EXPECT_EQ(why, "a cell refers to text the workbook lacks");

    // Cut anywhere in the globals, and at points all through the sheets.
    const std::string whole = writeBiffWorkbook(sampleWorkbook());
    for (std::size_t size = 0; size < whole.size(); size += size < 1000 ? 1 : whole.size() / 150)
        EXPECT_EQ(readBiffWorkbook(whole.substr(0, size), workbook, why), BiffReadResult::damaged) << size;
}

TEST(BiffWorkbook, GarbledFilesNeverCrashTheReader) {
    Workbook small;
    small.strings = {u"帐号", u"x"};
    small.sheets = {
        {u"01", 0, {{0, 0, CellKind::text, 0, 0}, {1, 0, CellKind::text, 1, 0}, {1, 1, CellKind::number, 0, 5}}}};
    const std::string file = writeCompoundFile(u"Workbook", writeBiffWorkbook(small));
    std::mt19937 random(1809);
    for (int round = 0; round < 3000; ++round) {
        std::string garbled = file;
        const int changes = 1 + static_cast<int>(random() % 8);
        for (int i = 0; i < changes; ++i) {
            // Mostly where the container's tables and the records are.
            const std::size_t at = random() % 2 == 0 ? random() % 1024 : 1536 + random() % 1500;
            garbled[at] = static_cast<char>(random());
        }
        std::string stream;
        if (readCompoundStream(garbled, u"Workbook", stream) != CompoundReadResult::ok) continue;
        Workbook workbook;
        std::string why;
        readBiffWorkbook(stream, workbook, why);
    }
}

}  // namespace
}  // namespace quelvar::xls
