#include "xls/biff.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <limits>
#include <vector>

#include "xls/biff_parts.h"
#include "xls/biff_records.h"
#include "xls/little_endian.h"

namespace quelvar::xls {

namespace {

constexpr unsigned cellFormat = 15;  // the default cell format, after the 15 style formats
constexpr std::uint32_t unused = std::numeric_limits<std::uint32_t>::max();

class RecordWriter {
public:
    explicit RecordWriter(std::string& out) : out_(out) {}

    void begin(std::uint16_t id) {
        start_ = out_.size();
        putU16(out_, id);
        putU16(out_, 0);
    }
    void end() { setU16(out_, start_ + 2, static_cast<unsigned>(out_.size() - start_ - 4)); }
    std::size_t bodySize() const { return out_.size() - start_ - 4; }
    std::size_t recordStart() const { return start_; }

    void record(std::uint16_t id, std::string_view body) {
        begin(id);
        out_.append(body);
        end();
    }

private:
    std::string& out_;
    std::size_t start_ = 0;
};

bool needsWideCharacters(std::u16string_view text) {
    return std::any_of(text.begin(), text.end(), [](char16_t c) { return c > 0xFF; });
}

void putCharacters(std::string& out, std::u16string_view text, bool wide) {
    const std::size_t at = out.size();
    out.resize(at + text.size() * (wide ? 2 : 1));
    char* place = out.data() + at;
    for (const char16_t c : text) {
        *place++ = static_cast<char>(c & 0xFF);
        if (wide) *place++ = static_cast<char>(c >> 8);
    }
}

std::string bof(std::uint16_t type) {
    std::string body;
    putU16(body, biff::biff8);
    putU16(body, type);
    putU16(body, 0x0DBB);  // build
    putU16(body, 0x07CC);  // year of the format
    putU32(body, 0);       // history flags
    putU32(body, 6);       // lowest version that reads everything: BIFF8
    return body;
}

std::string window1Body() {
    std::string body;
    putU16(body, 0);       // horizontal position
    putU16(body, 0);       // vertical position
    putU16(body, 0x4000);  // width
    putU16(body, 0x2000);  // height
    putU16(body, 0x0038);  // scroll bars and sheet tabs shown
    putU16(body, 0);       // active sheet
    putU16(body, 0);       // first visible tab
    putU16(body, 1);       // selected sheets
    putU16(body, 600);     // tab bar width, per mille
    return body;
}

std::string fontBody() {
    std::string body;
    putU16(body, 200);     // 10 points, in twentieths
    putU16(body, 0);       // no italics, strike-out, outline
    putU16(body, 0x7FFF);  // the window text colour
    putU16(body, 400);     // normal weight
    putU16(body, 0);       // no super- or subscript
    putU8(body, 0);        // no underline
    putU8(body, 0);        // family
    putU8(body, 0);        // character set
    putU8(body, 0);
    const std::u16string name = u"Arial";
    putU8(body, static_cast<unsigned>(name.size()));
    putU8(body, 0);
    putCharacters(body, name, false);
    return body;
}

std::string extendedFormatBody(bool style) {
    std::string body;
    putU16(body, 0);                        // font
    putU16(body, 0);                        // number format: General
    putU16(body, style ? 0xFFF5 : 0x0001);  // locked; a style, or a cell whose parent is style 0
    putU8(body, 0x20);                      // aligned at the bottom
    putU8(body, 0);                         // no rotation
    putU8(body, 0);                         // no indent
    putU8(body, 0);                         // attributes as the parent's
    putU32(body, 0);                        // no borders
    putU32(body, 0);
    putU16(body, 0x20C0);  // pattern colours: system foreground and background
    return body;
}

std::string boundSheet(const Sheet& sheet) {
    std::string body;
    putU32(body, 0);  // the sheet's position, filled in once known
    putU8(body, sheet.visibility);
    putU8(body, 0);  // a worksheet
    const bool wide = needsWideCharacters(sheet.name);
    putU8(body, static_cast<unsigned>(sheet.name.size()));
    putU8(body, wide ? 1 : 0);
    putCharacters(body, sheet.name, wide);
    return body;
}

// The shared strings in order of first use, and each cell's index into them.
struct SharedStrings {
    std::vector<std::uint32_t> order;    // workbook string indices
    std::vector<std::uint32_t> indexOf;  // workbook string index to shared index
    std::uint32_t uses = 0;
    std::size_t bytes = 0;  // the table's size, roughly
};

// Equal texts share one entry. The table is open-addressed: a month's
// workbook holds hundreds of thousands of texts, and this runs for each record.
SharedStrings shareStrings(const Workbook& workbook) {
    const std::vector<std::u16string>& strings = workbook.strings;
    SharedStrings shared;
    shared.indexOf.assign(strings.size(), unused);
    std::size_t capacity = 16;
    while (capacity < 2 * strings.size()) capacity *= 2;
    std::vector<std::uint32_t> slots(capacity, unused);  // workbook string indices
    const std::hash<std::u16string_view> hash;
    for (const Sheet& sheet : workbook.sheets) {
        for (const Cell& cell : sheet.cells) {
            if (cell.kind != CellKind::text) continue;
            ++shared.uses;
            std::uint32_t& index = shared.indexOf[cell.text];
            if (index != unused) continue;
            const std::u16string_view text = strings[cell.text];
            std::size_t slot = hash(text) & (capacity - 1);
            while (slots[slot] != unused && strings[slots[slot]] != text) slot = (slot + 1) & (capacity - 1);
            if (slots[slot] == unused) {
                slots[slot] = cell.text;
                index = static_cast<std::uint32_t>(shared.order.size());
                shared.order.push_back(cell.text);
                shared.bytes += 3 + 2 * text.size();
            } else {
                index = shared.indexOf[slots[slot]];
            }
        }
    }
    return shared;
}

// The shared string table, split into CONTINUE records where it outgrows
// one; a text that runs over starts its continuation with a flags byte.
void writeSharedStrings(std::string& out, const Workbook& workbook, const SharedStrings& shared) {
    const std::size_t count = shared.order.size();
    const std::size_t perBucket = std::max<std::size_t>(8, (count + 127) / 128);
    std::string index;
    putU16(index, static_cast<unsigned>(perBucket));

    RecordWriter records(out);
    records.begin(biff::sharedStrings);
    putU32(out, shared.uses);
    putU32(out, static_cast<std::uint32_t>(count));
    const auto startContinuation = [&] {
        records.end();
        records.begin(biff::continued);
    };
    for (std::size_t i = 0; i < count; ++i) {
        const std::u16string_view text = workbook.strings[shared.order[i]];
        const bool wide = needsWideCharacters(text);
        const std::size_t width = wide ? 2 : 1;
        // The length, the flags and a first character stay together.
        if (records.bodySize() + 3 + (text.empty() ? 0 : width) > biff::maxBody) startContinuation();
        if (i % perBucket == 0) {
            putU32(index, static_cast<std::uint32_t>(out.size()));
            putU16(index, static_cast<unsigned>(out.size() - records.recordStart()));
            putU16(index, 0);
        }
        putU16(out, static_cast<unsigned>(text.size()));
        putU8(out, wide ? 1 : 0);
        std::size_t done = 0;
        while (done < text.size()) {
            std::size_t room = (biff::maxBody - records.bodySize()) / width;
            if (room == 0) {
                startContinuation();
                putU8(out, wide ? 1 : 0);
                room = (biff::maxBody - records.bodySize()) / width;
            }
            const std::size_t step = std::min(room, text.size() - done);
            putCharacters(out, text.substr(done, step), wide);
            done += step;
        }
    }
    records.end();
    records.record(biff::sharedStringIndex, index);
}

// Cells are most of a workbook: each goes out as one append.
void writeCell(std::string& out, const Cell& cell, const SharedStrings& shared) {
    char record[18];
    std::size_t size = 0;
    const auto put = [&](unsigned value, int bytes) {
        for (int i = 0; i < bytes; ++i, value >>= 8) record[size++] = static_cast<char>(value & 0xFF);
    };
    std::uint16_t id = biff::number;
    if (cell.kind == CellKind::text) id = biff::sharedStringCell;
    if (cell.kind == CellKind::boolean || cell.kind == CellKind::error) id = biff::boolOrError;
    put(id, 2);
    put(0, 2);
    put(static_cast<unsigned>(cell.row), 2);
    put(cell.column, 2);
    put(cellFormat, 2);
    switch (cell.kind) {
        case CellKind::text:
            put(shared.indexOf[cell.text], 4);
            break;
        case CellKind::number: {
            std::uint64_t bits = 0;
            std::memcpy(&bits, &cell.value, sizeof bits);
            put(static_cast<unsigned>(bits & 0xFFFFFFFF), 4);
            put(static_cast<unsigned>(bits >> 32), 4);
            break;
        }
        case CellKind::boolean:
        case CellKind::error:
            put(static_cast<unsigned>(cell.value), 1);
            put(cell.kind == CellKind::error ? 1 : 0, 1);
            break;
    }
    record[2] = static_cast<char>(size - 4);
    out.append(record, size);
}

std::string rowRecord(std::uint32_t row, unsigned firstColumn, unsigned endColumn) {
    std::string body;
    putU16(body, static_cast<unsigned>(row));
    putU16(body, firstColumn);
    putU16(body, endColumn);
    putU16(body, 0x00FF);  // height in twentieths of a point
    putU16(body, 0);
    putU16(body, 0);
    putU32(body, 0x000F0100);
    return body;
}

void writeSheet(std::string& out, const Sheet& sheet, bool first, const SharedStrings& shared) {
    RecordWriter records(out);
    out += biff::worksheetHead();

    const std::vector<Cell>& cells = sheet.cells;
    std::string body;
    if (cells.empty()) {
        putU32(body, 0);
        putU32(body, 0);
        putU16(body, 0);
        putU16(body, 0);
    } else {
        const auto [narrowest, widest] = std::minmax_element(
            cells.begin(), cells.end(), [](const Cell& a, const Cell& b) { return a.column < b.column; });
        putU32(body, cells.front().row);
        putU32(body, cells.back().row + 1);
        putU16(body, narrowest->column);
        putU16(body, widest->column + 1u);
    }
    putU16(body, 0);
    records.record(biff::dimensions, body);

    // Rows go in blocks of 32: the blocks' row records, then their cells.
    for (std::size_t blockStart = 0; blockStart < cells.size();) {
        const std::uint32_t block = cells[blockStart].row / 32;
        std::size_t blockEnd = blockStart;
        while (blockEnd < cells.size() && cells[blockEnd].row / 32 == block) ++blockEnd;
        for (std::size_t i = blockStart; i < blockEnd;) {
            std::size_t j = i;
            while (j < blockEnd && cells[j].row == cells[i].row) ++j;
            records.record(biff::row, rowRecord(cells[i].row, cells[i].column, cells[j - 1].column + 1u));
            i = j;
        }
        for (std::size_t i = blockStart; i < blockEnd; ++i) writeCell(out, cells[i], shared);
        blockStart = blockEnd;
    }

    body.clear();
    putU16(body, 0x00B6 | (first ? 0x0600 : 0));  // grid, headers, zeros, outline; the first sheet selected
    putU16(body, 0);                              // top row
    putU16(body, 0);                              // left column
    putU32(body, 64);                             // grid colour: the system's
    putU16(body, 0);
    putU16(body, 0);
    putU32(body, 0);
    records.record(biff::window2, body);
    records.record(biff::endOfFile, {});
}

}  // namespace

std::string biff::globalsHead() {
    std::string out;
    RecordWriter records(out);
    records.record(biff::beginOfFile, bof(biff::globalsSubstream));
    std::string body;
    putU16(body, 1200);  // text is UTF-16
    records.record(biff::codePage, body);
    records.record(biff::window1, window1Body());
    // Font 4 is never referred to, so five records make fonts 0 to 3 and 5.
    for (int i = 0; i < 5; ++i) records.record(biff::font, fontBody());
    for (unsigned i = 0; i < cellFormat; ++i) records.record(biff::extendedFormat, extendedFormatBody(true));
    records.record(biff::extendedFormat, extendedFormatBody(false));
    body.clear();
    putU16(body, 0x8000);  // built-in style of format 0
    putU8(body, 0);        // "Normal"
    putU8(body, 0xFF);
    records.record(biff::style, body);
    return out;
}

std::string biff::worksheetHead() {
    std::string out;
    RecordWriter records(out);
    records.record(biff::beginOfFile, bof(biff::worksheetSubstream));
    std::string body;
    putU16(body, 12);  // characters: room for a telephone number
    records.record(biff::defaultColumnWidth, body);
    body.clear();
    putU16(body, 0x04C1);  // outline symbols below and right, automatic page breaks shown
    records.record(biff::sheetOptions, body);
    return out;
}

void biff::putRowRecord(std::string& out, std::uint32_t rowNumber, unsigned firstColumn, unsigned endColumn) {
    RecordWriter(out).record(biff::row, rowRecord(rowNumber, firstColumn, endColumn));
}

void biff::putLabelRecord(std::string& out, std::uint32_t rowNumber, std::uint16_t column, std::u16string_view text) {
    RecordWriter records(out);
    records.begin(biff::label);
    putU16(out, static_cast<unsigned>(rowNumber));
    putU16(out, column);
    putU16(out, cellFormat);
    const bool wide = needsWideCharacters(text);
    putU16(out, static_cast<unsigned>(text.size()));
    putU8(out, wide ? 1 : 0);
    putCharacters(out, text, wide);
    records.end();
}

std::string writeBiffWorkbook(const Workbook& workbook) {
    const SharedStrings shared = shareStrings(workbook);
    std::string out;
    std::size_t cells = 0;
    for (const Sheet& sheet : workbook.sheets) cells += sheet.cells.size();
    // Cells, a row record for about every seventh, the text table, and the rest.
    out.reserve(18 * cells + 3 * cells + shared.bytes + shared.bytes / 1000 + 65536);
    RecordWriter records(out);
    out += biff::globalsHead();

    std::vector<std::size_t> positionFields;
    for (const Sheet& sheet : workbook.sheets) {
        positionFields.push_back(out.size() + 4);
        records.record(biff::boundSheet, boundSheet(sheet));
    }
    writeSharedStrings(out, workbook, shared);
    records.record(biff::endOfFile, {});

    for (std::size_t i = 0; i < workbook.sheets.size(); ++i) {
        setU32(out, positionFields[i], static_cast<std::uint32_t>(out.size()));
        writeSheet(out, workbook.sheets[i], i == 0, shared);
    }
    return out;
}

}  // namespace quelvar::xls
