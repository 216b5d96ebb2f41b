#include "store/biff_workbook.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "store/biff_records.h"
#include "store/little_endian.h"

namespace quelvar {

namespace {

struct Damaged {
    std::wstring why;
};

void check(bool condition, const wchar_t* why) {
    if (!condition) throw Damaged{why};
}

struct Record {
    std::uint16_t id = 0;
    std::string_view body;
    std::size_t offset = 0;  // of the record's header in the stream
};

// Walks the stream record by record.
class RecordReader {
public:
    RecordReader(std::string_view stream, std::size_t offset) : stream_(stream), offset_(offset) {}

    Record next() {
        check(offset_ + 4 <= stream_.size(), L"the records end before their end-of-file record");
        Record record;
        record.offset = offset_;
        record.id = readU16(stream_, offset_);
        const std::size_t size = readU16(stream_, offset_ + 2);
        check(offset_ + 4 + size <= stream_.size(), L"a record is cut short");
        record.body = stream_.substr(offset_ + 4, size);
        offset_ += 4 + size;
        return record;
    }

    // The bodies of the CONTINUE records that follow, which carry on the last record.
    void takeContinuations(std::vector<std::string_view>& parts) {
        while (offset_ + 4 <= stream_.size() && readU16(stream_, offset_) == biff::continued)
            parts.push_back(next().body);
    }

private:
    std::string_view stream_;
    std::size_t offset_;
};

// Reads across a record and its continuations. Text characters that run
// into a continuation start it with a fresh flags byte telling their width.
class PartsReader {
public:
    explicit PartsReader(std::vector<std::string_view> parts, std::size_t offset = 0)
        : parts_(std::move(parts)), offset_(offset) {}

    bool atEnd() {
        skipEmptyParts();
        return part_ == parts_.size();
    }

    unsigned byte() {
        skipEmptyParts();
        check(part_ < parts_.size(), L"a text runs past its record");
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
            check(part_ < parts_.size(), L"a text runs past its record");
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
        while (result.size() < length) {
            if (part_ < parts_.size() && offset_ == parts_[part_].size()) {
                check(part_ + 1 < parts_.size(), L"a text runs past its record");
                ++part_;
                offset_ = 0;
                wide = byte() & 0x01;
                continue;
            }
            check(part_ < parts_.size(), L"a text runs past its record");
            const std::string_view bytes = parts_[part_];
            const std::size_t available = (bytes.size() - offset_) / (wide ? 2 : 1);
            check(available > 0, L"a text character is split between records");
            const std::size_t count = std::min(available, length - result.size());
            for (std::size_t i = 0; i < count; ++i) {
                result.push_back(wide ? static_cast<char16_t>(readU16(bytes, offset_))
                                      : static_cast<char16_t>(static_cast<unsigned char>(bytes[offset_])));
                offset_ += wide ? 2 : 1;
            }
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

    bool read(WorkbookError& error) {
        try {
            readGlobals();
            for (const SheetEntry& entry : entries_) {
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
            return true;
        } catch (const Damaged& damaged) {
            error = {encrypted_ ? WorkbookErrorCode::encryptedWorkbook : WorkbookErrorCode::damagedWorkbook,
                     damaged.why};
            return false;
        }
    }

private:
    void expectBof(const Record& record, std::uint16_t type) {
        check(record.id == biff::beginOfFile && record.body.size() >= 4, L"a substream does not begin with BOF");
        check(readU16(record.body, 0) == biff::biff8, L"the workbook is not of Excel 97-2003 (BIFF8)");
        check(readU16(record.body, 2) == type, L"a substream is of an unexpected type");
    }

    void readGlobals() {
        RecordReader records(stream_, 0);
        expectBof(records.next(), biff::globalsSubstream);
        for (;;) {
            const Record record = records.next();
            if (record.id == biff::endOfFile) break;
            if (record.id == biff::filePass) {
                encrypted_ = true;
                check(false, L"the workbook is protected by a password");
            }
            if (record.id == biff::boundSheet) {
                check(record.body.size() >= 8, L"a sheet entry is cut short");
                SheetEntry entry;
                entry.offset = readU32(record.body, 0);
                entry.visibility = static_cast<std::uint8_t>(record.body[4]);
                entry.type = static_cast<std::uint8_t>(record.body[5]);
                entry.name = PartsReader({record.body}, 6).text(true);
                entries_.push_back(std::move(entry));
            } else if (record.id == biff::sharedStrings) {
                std::vector<std::string_view> parts{record.body};
                records.takeContinuations(parts);
                readSharedStrings(std::move(parts));
            }
        }
    }

    void readSharedStrings(std::vector<std::string_view> parts) {
        PartsReader reader(std::move(parts));
        reader.u32();  // total uses
        const std::uint32_t unique = reader.u32();
        workbook_.strings.reserve(std::min<std::size_t>(unique, stream_.size() / 3));
        // The count may promise more than there is; cells show whether it matters.
        for (std::uint32_t i = 0; i < unique && !reader.atEnd(); ++i) workbook_.strings.push_back(reader.text(false));
        sharedCount_ = workbook_.strings.size();
    }

    std::uint32_t addString(std::u16string text) {
        workbook_.strings.push_back(std::move(text));
        return static_cast<std::uint32_t>(workbook_.strings.size() - 1);
    }

    static Cell placed(std::string_view body) {
        check(body.size() >= 6, L"a cell record is cut short");
        Cell cell;
        cell.row = readU16(body, 0);
        const unsigned column = readU16(body, 2);
        check(column < maxColumns, L"a cell lies beyond the last column");
        cell.column = static_cast<std::uint16_t>(column);
        return cell;
    }

    void readSheet(std::size_t offset, Sheet& sheet) {
        check(offset < stream_.size(), L"a sheet entry points outside the workbook");
        RecordReader records(stream_, offset);
        expectBof(records.next(), biff::worksheetSubstream);
        int depth = 1;
        bool formulaTextPending = false;
        Cell pending;
        std::vector<Cell>& cells = sheet.cells;
        while (depth > 0) {
            const Record record = records.next();
            const std::string_view body = record.body;
            if (record.id == biff::beginOfFile) ++depth;
            if (record.id == biff::endOfFile) --depth;
            // Records of a chart embedded in the sheet are not the sheet's cells.
            if (depth != 1) continue;
            switch (record.id) {
                case biff::sharedStringCell: {
                    Cell cell = placed(body);
                    check(body.size() >= 10, L"a cell record is cut short");
                    cell.text = readU32(body, 6);
                    check(cell.text < sharedCount_, L"a cell refers to text the workbook lacks");
                    cells.push_back(cell);
                    break;
                }
                case biff::label:
                case biff::richText: {
                    Cell cell = placed(body);
                    std::vector<std::string_view> parts{body};
                    records.takeContinuations(parts);
                    cell.text = addString(PartsReader(std::move(parts), 6).text(false));
                    cells.push_back(cell);
                    break;
                }
                case biff::number: {
                    Cell cell = placed(body);
                    check(body.size() >= 14, L"a cell record is cut short");
                    cell.kind = CellKind::number;
                    cell.value = readDouble(body, 6);
                    cells.push_back(cell);
                    break;
                }
                case biff::rk: {
                    Cell cell = placed(body);
                    check(body.size() >= 10, L"a cell record is cut short");
                    cell.kind = CellKind::number;
                    cell.value = rkValue(readU32(body, 6));
                    cells.push_back(cell);
                    break;
                }
                case biff::multipleRk: {
                    Cell cell = placed(body);
                    check(body.size() >= 12 && (body.size() - 6) % 6 == 0, L"a cell record is cut short");
                    const std::size_t count = (body.size() - 6) / 6;
                    check(cell.column + count <= maxColumns, L"a cell lies beyond the last column");
                    cell.kind = CellKind::number;
                    for (std::size_t i = 0; i < count; ++i) {
                        cell.value = rkValue(readU32(body, 4 + 6 * i + 2));
                        cells.push_back(cell);
                        ++cell.column;
                    }
                    break;
                }
                case biff::boolOrError: {
                    Cell cell = placed(body);
                    check(body.size() >= 8, L"a cell record is cut short");
                    cell.kind = body[7] != 0 ? CellKind::error : CellKind::boolean;
                    cell.value = static_cast<unsigned char>(body[6]);
                    cells.push_back(cell);
                    break;
                }
                case biff::formula: {
                    Cell cell = placed(body);
                    check(body.size() >= 20, L"a cell record is cut short");
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
                    pending.text = addString(PartsReader(std::move(parts)).text(false));
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
    std::vector<SheetEntry> entries_;
    std::size_t sharedCount_ = 0;
    bool encrypted_ = false;
};

}  // namespace

bool readBiffWorkbook(std::string_view stream, Workbook& workbook, WorkbookError& error) {
    workbook = {};
    return WorkbookReader(stream, workbook).read(error);
}

}  // namespace quelvar
