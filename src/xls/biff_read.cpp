#include "xls/biff.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "xls/biff_records.h"
#include "xls/little_endian.h"

namespace quelvar::xls {

namespace {

// The first thing found wrong with a stream. Readers that meet one go on
// with zeros and empty texts until their caller sees it and stops.
class Damage {
public:
    bool check(bool condition, const char* why) {
        if (!condition && why_ == nullptr) why_ = why;
        return condition && why_ == nullptr;
    }
    bool found() const { return why_ != nullptr; }
    const char* why() const { return why_; }

private:
    const char* why_ = nullptr;
};

struct Record {
    std::uint16_t id = 0;
    std::string_view body;
    std::size_t offset = 0;  // of the record's header in the stream
};

// Walks the stream record by record.
// Walks the stream record by record; past damage every record is an
// end-of-file record, so that every loop over them ends.
class RecordReader {
public:
    RecordReader(std::string_view stream, std::size_t offset, Damage& damage)
        : stream_(stream), offset_(offset), damage_(damage) {}

    Record next() {
        Record record;
        record.id = biff::endOfFile;
        if (!damage_.check(offset_ + 4 <= stream_.size(), "the records end before their end-of-file record"))
            return record;
        const std::size_t size = readU16(stream_, offset_ + 2);
        if (!damage_.check(offset_ + 4 + size <= stream_.size(), "a record is cut short")) return record;
        record.offset = offset_;
        record.id = readU16(stream_, offset_);
        record.body = stream_.substr(offset_ + 4, size);
        offset_ += 4 + size;
        return record;
    }

    // The bodies of the CONTINUE records that follow, which carry on the last record.
    void takeContinuations(std::vector<std::string_view>& parts) {
        while (!damage_.found() && offset_ + 4 <= stream_.size() && readU16(stream_, offset_) == biff::continued)
            parts.push_back(next().body);
    }

private:
    std::string_view stream_;
    std::size_t offset_;
    Damage& damage_;
};

// Reads across a record and its continuations. Text characters that run
// into a continuation start it with a fresh flags byte telling their width.
class PartsReader {
public:
    PartsReader(std::vector<std::string_view> parts, Damage& damage, std::size_t offset = 0)
        : parts_(std::move(parts)), offset_(offset), damage_(damage) {}

    bool atEnd() {
        skipEmptyParts();
        return part_ == parts_.size();
    }

    unsigned byte() {
        skipEmptyParts();
        if (!damage_.check(part_ < parts_.size(), "a text runs past its record")) return 0;
        return static_cast<unsigned char>(parts_[part_][offset_++]);
    }
    unsigned u16() {
        const unsigned low = byte();
        return low | byte() << 8;
    }
    std::uint32_t u32() {
        const std::uint32_t low = u16();
        return low | static_cast<std::uint32_t>(u16()) << 16;
    }

    void skip(std::size_t count) {
        while (count > 0) {
            skipEmptyParts();
            if (!damage_.check(part_ < parts_.size(), "a text runs past its record")) return;
            const std::size_t step = std::min(count, parts_[part_].size() - offset_);
            offset_ += step;
            count -= step;
        }
    }

    // An XLUnicodeString: 16-bit length or (short form) 8-bit length, flags, characters, runs.
    std::u16string text(bool shortLength) {
        const std::size_t length = shortLength ? byte() : u16();
        const unsigned flags = byte();
        const std::size_t runs = flags & 0x08 ? u16() : 0;
        const std::uint32_t phonetic = flags & 0x04 ? u32() : 0;
        std::u16string result;
        result.reserve(length);
        bool wide = flags & 0x01;
        while (result.size() < length && !damage_.found()) {
            if (part_ < parts_.size() && offset_ == parts_[part_].size()) {
                if (!damage_.check(part_ + 1 < parts_.size(), "a text runs past its record")) break;
                ++part_;
                offset_ = 0;
                wide = byte() & 0x01;
                continue;
            }
            if (!damage_.check(part_ < parts_.size(), "a text runs past its record")) break;
            const std::string_view bytes = parts_[part_];
            const std::size_t available = (bytes.size() - offset_) / (wide ? 2 : 1);
            if (!damage_.check(available > 0, "a text character is split between records")) break;
            const std::size_t count = std::min(available, length - result.size());
            // A month's texts are most of its workbook: each run of characters at once.
            const std::size_t at = result.size();
            result.resize(at + count);
            const auto* from = reinterpret_cast<const unsigned char*>(bytes.data() + offset_);
            char16_t* to = result.data() + at;
            if (wide) {
                for (std::size_t i = 0; i < count; ++i) to[i] = static_cast<char16_t>(from[2 * i] | from[2 * i + 1] << 8);
            } else {
                for (std::size_t i = 0; i < count; ++i) to[i] = from[i];
            }
            offset_ += count * (wide ? 2 : 1);
        }
        skip(4 * runs + phonetic);
        return result;
    }

private:
    void skipEmptyParts() {
        while (part_ < parts_.size() && offset_ == parts_[part_].size()) {
            ++part_;
            offset_ = 0;
        }
    }

    std::vector<std::string_view> parts_;
    std::size_t part_ = 0;
    std::size_t offset_;
    Damage& damage_;
};

double rkValue(std::uint32_t rk) {
    double value = 0;
    if (rk & 0x02) {
        value = static_cast<double>(static_cast<std::int32_t>(rk) >> 2);
    } else {
        const std::uint64_t bits = static_cast<std::uint64_t>(rk & 0xFFFFFFFCu) << 32;
        std::memcpy(&value, &bits, sizeof value);
    }
    return rk & 0x01 ? value / 100 : value;
}

struct SheetEntry {
    std::size_t offset = 0;
    std::uint8_t visibility = 0;
    std::uint8_t type = 0;
    std::u16string name;
};

class WorkbookReader {
public:
    WorkbookReader(std::string_view stream, Workbook& workbook) : stream_(stream), workbook_(workbook) {}

    BiffReadResult read(std::string& why) {
        readGlobals();
        for (const SheetEntry& entry : entries_) {
            if (damage_.found()) break;
            // Charts, macro sheets and modules hold no cells of their own.
            if (entry.type != 0) continue;
            Sheet sheet;
            sheet.name = entry.name;
            sheet.visibility = entry.visibility & 0x03;
            // A cell takes 14 bytes or more but in MULRK: room enough, mostly, at once.
            std::size_t end = stream_.size();
            for (const SheetEntry& other : entries_)
                if (other.offset > entry.offset) end = std::min(end, other.offset);
            if (entry.offset < end) sheet.cells.reserve((end - entry.offset) / 14);
            readSheet(entry.offset, sheet);
            orderCells(sheet);
            workbook_.sheets.push_back(std::move(sheet));
        }
        if (!damage_.found()) return BiffReadResult::ok;
        why = damage_.why();
        return encrypted_ ? BiffReadResult::encrypted : BiffReadResult::damaged;
    }

private:
    bool expectBof(const Record& record, std::uint16_t type) {
        return damage_.check(record.id == biff::beginOfFile && record.body.size() >= 4,
                             "a substream does not begin with BOF") &&
               damage_.check(readU16(record.body, 0) == biff::biff8, "the workbook is not of Excel 97-2003 (BIFF8)") &&
               damage_.check(readU16(record.body, 2) == type, "a substream is of an unexpected type");
    }

    void readGlobals() {
        RecordReader records(stream_, 0, damage_);
        if (!expectBof(records.next(), biff::globalsSubstream)) return;
        for (;;) {
            const Record record = records.next();
            if (record.id == biff::endOfFile) break;
            if (record.id == biff::filePass) {
                encrypted_ = true;
                damage_.check(false, "the workbook is protected by a password");
                return;
            }
            if (record.id == biff::boundSheet) {
                if (!damage_.check(record.body.size() >= 8, "a sheet entry is cut short")) return;
                SheetEntry entry;
                entry.offset = readU32(record.body, 0);
                entry.visibility = static_cast<std::uint8_t>(record.body[4]);
                entry.type = static_cast<std::uint8_t>(record.body[5]);
                entry.name = PartsReader({record.body}, damage_, 6).text(true);
                entries_.push_back(std::move(entry));
            } else if (record.id == biff::sharedStrings) {
                std::vector<std::string_view> parts{record.body};
                records.takeContinuations(parts);
                readSharedStrings(std::move(parts));
            }
        }
    }

    void readSharedStrings(std::vector<std::string_view> parts) {
        PartsReader reader(std::move(parts), damage_);
        reader.u32();  // total uses
        const std::uint32_t unique = reader.u32();
        workbook_.strings.reserve(std::min<std::size_t>(unique, stream_.size() / 3));
        // The count may promise more than there is; cells show whether it matters.
        for (std::uint32_t i = 0; i < unique && !reader.atEnd() && !damage_.found(); ++i)
            workbook_.strings.push_back(reader.text(false));
        sharedCount_ = workbook_.strings.size();
    }

    std::uint32_t addString(std::u16string text) {
        workbook_.strings.push_back(std::move(text));
        return static_cast<std::uint32_t>(workbook_.strings.size() - 1);
    }

    // The place of a cell record's cell, and that its body holds `size` bytes.
    bool placed(std::string_view body, std::size_t size, Cell& cell) {
        if (!damage_.check(body.size() >= 6, "a cell record is cut short")) return false;
        cell = Cell{};
        cell.row = readU16(body, 0);
        const unsigned column = readU16(body, 2);
        if (!damage_.check(column < maxColumns, "a cell lies beyond the last column")) return false;
        cell.column = static_cast<std::uint16_t>(column);
        return damage_.check(body.size() >= size, "a cell record is cut short");
    }

    void readSheet(std::size_t offset, Sheet& sheet) {
        if (!damage_.check(offset < stream_.size(), "a sheet entry points outside the workbook")) return;
        RecordReader records(stream_, offset, damage_);
        if (!expectBof(records.next(), biff::worksheetSubstream)) return;
        int depth = 1;
        bool formulaTextPending = false;
        Cell pending;
        std::vector<Cell>& cells = sheet.cells;
        while (depth > 0 && !damage_.found()) {
            const Record record = records.next();
            const std::string_view body = record.body;
            if (record.id == biff::beginOfFile) ++depth;
            if (record.id == biff::endOfFile) --depth;
            // Records of a chart embedded in the sheet are not the sheet's cells.
            if (depth != 1) continue;
            Cell cell;
            switch (record.id) {
                case biff::sharedStringCell:
                    if (!placed(body, 10, cell)) break;
                    cell.text = readU32(body, 6);
                    if (damage_.check(cell.text < sharedCount_, "a cell refers to text the workbook lacks"))
                        cells.push_back(cell);
                    break;
                case biff::label:
                case biff::richText: {
                    if (!placed(body, 6, cell)) break;
                    std::vector<std::string_view> parts{body};
                    records.takeContinuations(parts);
                    cell.text = addString(PartsReader(std::move(parts), damage_, 6).text(false));
                    cells.push_back(cell);
                    break;
                }
                case biff::number:
                    if (!placed(body, 14, cell)) break;
                    cell.kind = CellKind::number;
                    cell.value = readDouble(body, 6);
                    cells.push_back(cell);
                    break;
                case biff::rk:
                    if (!placed(body, 10, cell)) break;
                    cell.kind = CellKind::number;
                    cell.value = rkValue(readU32(body, 6));
                    cells.push_back(cell);
                    break;
                case biff::multipleRk: {
                    if (!placed(body, 12, cell) ||
                        !damage_.check((body.size() - 6) % 6 == 0, "a cell record is cut short"))
                        break;
                    const std::size_t count = (body.size() - 6) / 6;
                    if (!damage_.check(cell.column + count <= maxColumns, "a cell lies beyond the last column")) break;
                    cell.kind = CellKind::number;
                    for (std::size_t i = 0; i < count; ++i) {
                        cell.value = rkValue(readU32(body, 4 + 6 * i + 2));
                        cells.push_back(cell);
                        ++cell.column;
                    }
                    break;
                }
                case biff::boolOrError:
                    if (!placed(body, 8, cell)) break;
                    cell.kind = body[7] != 0 ? CellKind::error : CellKind::boolean;
                    cell.value = static_cast<unsigned char>(body[6]);
                    cells.push_back(cell);
                    break;
                case biff::formula: {
                    if (!placed(body, 20, cell)) break;
                    formulaTextPending = false;
                    if (readU16(body, 12) != 0xFFFF) {
                        cell.kind = CellKind::number;
                        cell.value = readDouble(body, 6);
                        cells.push_back(cell);
                        break;
                    }
                    const unsigned type = static_cast<unsigned char>(body[6]);
                    const unsigned value = static_cast<unsigned char>(body[8]);
                    if (type == 0) {
                        // The text comes in the STRING record that follows.
                        pending = cell;
                        formulaTextPending = true;
                    } else if (type == 1 || type == 2) {
                        cell.kind = type == 1 ? CellKind::boolean : CellKind::error;
                        cell.value = value;
                        cells.push_back(cell);
                    } else if (type == 3) {
                        cell.text = addString({});
                        cells.push_back(cell);
                    }
                    break;
                }
                case biff::formulaString: {
                    std::vector<std::string_view> parts{body};
                    records.takeContinuations(parts);
                    if (!formulaTextPending) break;
                    pending.text = addString(PartsReader(std::move(parts), damage_).text(false));
                    cells.push_back(pending);
                    formulaTextPending = false;
                    break;
                }
                default:
                    break;
            }
        }
    }

    std::string_view stream_;
    Workbook& workbook_;
    Damage damage_;
    std::vector<SheetEntry> entries_;
    std::size_t sharedCount_ = 0;
    bool encrypted_ = false;
};

}  // namespace

BiffReadResult readBiffWorkbook(std::string_view stream, Workbook& workbook, std::string& why) {
    workbook = {};
    why.clear();
    return WorkbookReader(stream, workbook).read(why);
}

}  // namespace quelvar::xls
