#include "xls/append.h"

#include <algorithm>

#include "xls/biff_parts.h"
#include "xls/biff_records.h"
#include "xls/compound_file.h"
#include "xls/little_endian.h"

namespace quelvar::xls {

namespace {

constexpr std::uint32_t freeSector = 0xFFFFFFFF;
constexpr std::uint32_t endOfChain = 0xFFFFFFFE;
constexpr std::uint32_t fatMark = 0xFFFFFFFD;
constexpr std::uint32_t difatMark = 0xFFFFFFFC;
constexpr std::size_t headerFatSlots = 109;
constexpr std::size_t perFatSector = 128;
constexpr std::size_t perDifatSector = 127;  // and the next DIFAT sector in the last slot
constexpr std::uint64_t smallestStream = 4096;
constexpr std::uint64_t largestStream = 0x7FFFFFFF;

// Record by record through a stream; false at a record cut short.
class Records {
public:
    Records(std::string_view stream, std::size_t offset) : stream_(stream), offset_(offset) {}

    bool next(std::uint16_t& id, std::string_view& body) {
        if (offset_ + 4 > stream_.size()) return false;
        const std::size_t size = readU16(stream_, offset_ + 2);
        if (offset_ + 4 + size > stream_.size()) return false;
        id = readU16(stream_, offset_);
        body = stream_.substr(offset_ + 4, size);
        offset_ += 4 + size;
        return true;
    }
    std::size_t offset() const { return offset_; }

private:
    std::string_view stream_;
    std::size_t offset_;
};

bool allZero(std::string_view bytes) { return bytes.find_first_not_of('\0') == std::string_view::npos; }

bool isCell(std::uint16_t id) {
    return id == biff::row || id == biff::sharedStringCell || id == biff::label || id == biff::number ||
           id == biff::boolOrError;
}

// The container lets the stream grow at the end of the file: version 3,
// whole sectors, the stream out of the mini stream and ending with the
// file, and everything past the file free in the allocation table and in
// the lists of its sectors.
bool growsAtTheEnd(std::string_view file, const StreamPlacement& place) {
    constexpr std::uint64_t sector = AppendSite::sectorSize;
    if (place.majorVersion != 3 || place.sectorSize != sector || file.size() % sector != 0) return false;
    if (place.size < smallestStream || place.size > largestStream) return false;
    const std::size_t sectors = file.size() / sector - 1;
    if (place.sectorCount != sectors || place.chain.size() != (place.size + sector - 1) / sector ||
        place.chain.back() != sectors - 1)
        return false;
    for (std::size_t i = sectors; i < place.fat.size(); ++i)
        if (place.fat[i] != freeSector) return false;
    const std::size_t fatCount = place.fatSectors.size();
    if (readU32(file, 72) != place.difatSectors.size() || (readU32(file, 68) == endOfChain) != place.difatSectors.empty())
        return false;
    for (std::size_t slot = fatCount; slot < headerFatSlots; ++slot)
        if (readU32(file, 76 + 4 * slot) != freeSector) return false;
    for (std::size_t d = 0; d < place.difatSectors.size(); ++d) {
        const std::size_t at = (std::size_t{place.difatSectors[d]} + 1) * sector;
        for (std::size_t slot = 0; slot < perDifatSector; ++slot)
            if (headerFatSlots + d * perDifatSector + slot >= fatCount && readU32(file, at + 4 * slot) != freeSector)
                return false;
        if (d + 1 == place.difatSectors.size() && readU32(file, at + 4 * perDifatSector) != endOfChain) return false;
    }
    // What lies past the stream's end in its last sector is nothing.
    const std::size_t streamEnd = (std::size_t{place.chain.back()} + 1) * sector + (place.size - 1) % sector + 1;
    return allZero(file.substr(streamEnd));
}

}  // namespace

bool AppendSite::find(std::string_view file, const Workbook& workbook, AppendSite& site) {
    site = AppendSite();
    StreamPlacement place;
    if (placeCompoundStream(file, u"Workbook", place) != CompoundReadResult::ok || !growsAtTheEnd(file, place))
        return false;
    std::string storage;
    std::string_view stream;
    if (readCompoundStream(file, u"Workbook", storage, stream) != CompoundReadResult::ok) return false;

    // The globals as this writer writes them: its formats are the ones the
    // rows are written in. Then the sheets in the order of their places,
    // the shared texts and nothing else.
    const std::string globals = biff::globalsHead();
    if (!stream.starts_with(globals)) return false;
    Records records(stream, globals.size());
    std::uint16_t id = 0;
    std::string_view body;
    std::size_t sheets = 0;
    std::uint32_t last = 0;
    bool more = records.next(id, body);
    for (; more && id == biff::boundSheet; more = records.next(id, body)) {
        if (body.size() < 8 || body[5] != 0) return false;
        const std::uint32_t offset = readU32(body, 0);
        if (sheets > 0 && offset <= last) return false;
        last = offset;
        ++sheets;
    }
    if (!more || id != biff::sharedStrings) return false;
    do more = records.next(id, body);
    while (more && id == biff::continued);
    if (!more || id != biff::sharedStringIndex || !records.next(id, body) || id != biff::endOfFile) return false;
    if (sheets == 0 || workbook.sheets.size() != sheets || workbook.sheets.back().cells.empty()) return false;
    const Sheet& sheet = workbook.sheets.back();

    // The last sheet: its head, DIMENSIONS, rows of cells, WINDOW2 and EOF,
    // and nothing but zero bytes after it.
    const std::string head = biff::worksheetHead();
    if (last > stream.size() || stream.substr(last).substr(0, head.size()) != head) return false;
    Records cells(stream, last + head.size());
    if (!cells.next(id, body) || id != biff::dimensions || body.size() != 14) return false;
    site.dimensionsAt_ = cells.offset() - body.size();
    const std::string_view dimensions = body;
    for (;;) {
        const std::size_t at = cells.offset();
        if (!cells.next(id, body)) return false;
        if (isCell(id)) continue;
        if (id != biff::window2) return false;
        site.closingAt_ = at;
        break;
    }
    if (!cells.next(id, body) || id != biff::endOfFile || !allZero(stream.substr(cells.offset()))) return false;
    site.closing_ = stream.substr(site.closingAt_, cells.offset() - site.closingAt_);

    const auto [narrowest, widest] = std::minmax_element(
        sheet.cells.begin(), sheet.cells.end(), [](const Cell& a, const Cell& b) { return a.column < b.column; });
    site.firstRow_ = sheet.cells.front().row;
    site.nextRow_ = sheet.cells.back().row + 1;
    site.firstColumn_ = narrowest->column;
    site.endColumn_ = static_cast<std::uint16_t>(widest->column + 1);
    if (readU32(dimensions, 0) != site.firstRow_ || readU32(dimensions, 4) != site.nextRow_ ||
        readU16(dimensions, 8) != site.firstColumn_ || readU16(dimensions, 10) != site.endColumn_)
        return false;
    site.sheetName_ = sheet.name;
    for (const Cell& cell : sheet.cells) {
        if (cell.row != site.firstRow_) break;
        if (cell.kind == CellKind::text) site.heads_.emplace_back(workbook.strings[cell.text], cell.column);
    }

    site.streamSize_ = place.size;
    site.sizeFieldAt_ = place.entryOffset + 120;
    site.sectorCount_ = static_cast<std::uint32_t>(place.sectorCount);
    site.chain_ = std::move(place.chain);
    site.fatSectors_ = std::move(place.fatSectors);
    site.difatSectors_ = std::move(place.difatSectors);
    site.keepNeededSectors(file);
    return true;
}

bool AppendSite::columnOf(std::u16string_view head, std::uint16_t& column) const {
    for (const auto& [text, at] : heads_) {
        if (text != head) continue;
        column = at;
        return true;
    }
    return false;
}

std::vector<std::pair<std::uint64_t, std::string_view>> AppendSite::keptSectors() const {
    std::vector<std::pair<std::uint64_t, std::string_view>> sectors;
    for (const auto& [offset, bytes] : kept_) sectors.emplace_back(offset, bytes);
    return sectors;
}

// The header; the sector with the stream's directory entry; the allocation
// table from the stream's last sector on and the last DIFAT sector, which
// list the sectors to come; DIMENSIONS; the stream from the sheet's closing
// records to its end.
std::vector<std::uint64_t> AppendSite::neededSectors() const {
    std::vector<std::uint64_t> sectors{0, sizeFieldAt_ - sizeFieldAt_ % sectorSize};
    for (std::size_t f = chain_.back() / perFatSector; f < fatSectors_.size(); ++f)
        sectors.push_back((std::uint64_t{fatSectors_[f]} + 1) * sectorSize);
    if (!difatSectors_.empty()) sectors.push_back((std::uint64_t{difatSectors_.back()} + 1) * sectorSize);
    for (const std::uint64_t at : {dimensionsAt_, dimensionsAt_ + 13}) {
        const std::uint64_t offset = fileOffset(at);
        sectors.push_back(offset - offset % sectorSize);
    }
    for (std::size_t i = closingAt_ / sectorSize; i < chain_.size(); ++i)
        sectors.push_back((std::uint64_t{chain_[i]} + 1) * sectorSize);
    return sectors;
}

void AppendSite::keepNeededSectors(std::string_view file) {
    for (const std::uint64_t offset : neededSectors())
        if (!kept_.contains(offset)) kept_[offset] = std::string(file.substr(offset, sectorSize));
}

std::uint64_t AppendSite::fileOffset(std::uint64_t streamOffset) const {
    return (std::uint64_t{chain_[streamOffset / sectorSize]} + 1) * sectorSize + streamOffset % sectorSize;
}

void AppendSite::put(std::uint64_t offset, std::string_view bytes) {
    while (!bytes.empty()) {
        std::string& sector = kept_.at(offset - offset % sectorSize);
        const std::size_t within = offset % sectorSize;
        const std::size_t count = std::min<std::size_t>(bytes.size(), sectorSize - within);
        sector.replace(within, count, bytes.substr(0, count));
        bytes.remove_prefix(count);
        offset += count;
    }
}

void AppendSite::putU32At(std::uint64_t offset, std::uint32_t value) {
    std::string bytes;
    putU32(bytes, value);
    put(offset, bytes);
}

void AppendSite::putStream(std::uint64_t streamOffset, std::string_view bytes) {
    while (!bytes.empty()) {
        const std::size_t count =
            std::min<std::size_t>(bytes.size(), sectorSize - streamOffset % sectorSize);
        put(fileOffset(streamOffset), bytes.substr(0, count));
        bytes.remove_prefix(count);
        streamOffset += count;
    }
}

void AppendSite::putFat(std::uint32_t sector, std::uint32_t value) {
    putU32At((std::uint64_t{fatSectors_[sector / perFatSector]} + 1) * sectorSize + sector % perFatSector * 4, value);
}

bool AppendSite::append(const std::vector<std::vector<RowCell>>& rows, std::vector<FileEdit>& edits,
                        std::uint64_t& size) {
    edits.clear();
    size = fileSize();
    std::string added;
    std::uint32_t row = nextRow_;
    std::uint16_t firstColumn = firstColumn_;
    std::uint16_t endColumn = endColumn_;
    for (const std::vector<RowCell>& cells : rows) {
        if (cells.empty()) continue;
        if (row >= maxRows) return false;
        biff::putRowRecord(added, row, cells.front().column, cells.back().column + 1u);
        for (const RowCell& cell : cells) biff::putLabelRecord(added, row, cell.column, cell.text);
        firstColumn = std::min(firstColumn, cells.front().column);
        endColumn = std::max(endColumn, static_cast<std::uint16_t>(cells.back().column + 1));
        ++row;
    }
    if (added.empty()) return true;
    const std::uint64_t streamSize = std::max(closingAt_ + added.size() + closing_.size(), smallestStream);
    if (streamSize > largestStream) return false;

    const std::map<std::uint64_t, std::string> before = kept_;
    // New sectors go after the last: the stream's, then the allocation
    // table's and the DIFAT's that listing them takes.
    std::uint32_t next = sectorCount_;
    std::vector<std::uint32_t> streamSectors, fatSectors, difatSectors;
    while (chain_.size() + streamSectors.size() < (streamSize + sectorSize - 1) / sectorSize)
        streamSectors.push_back(next++);
    for (;;) {
        const std::size_t fats = fatSectors_.size() + fatSectors.size();
        const std::size_t difats = difatSectors_.size() + difatSectors.size();
        if (next > fats * perFatSector)
            fatSectors.push_back(next++);
        else if (fats > headerFatSlots + difats * perDifatSector)
            difatSectors.push_back(next++);
        else
            break;
    }
    for (const std::uint32_t sector : streamSectors)
        kept_[(std::uint64_t{sector} + 1) * sectorSize] = std::string(sectorSize, '\0');
    for (const std::uint32_t sector : fatSectors)
        kept_[(std::uint64_t{sector} + 1) * sectorSize] = std::string(sectorSize, '\xFF');
    for (const std::uint32_t sector : difatSectors) {
        std::string empty(sectorSize, '\xFF');
        setU32(empty, perDifatSector * 4, endOfChain);
        kept_[(std::uint64_t{sector} + 1) * sectorSize] = std::move(empty);
    }
    for (const std::uint32_t sector : difatSectors) {
        if (difatSectors_.empty())
            putU32At(68, sector);
        else
            putU32At((std::uint64_t{difatSectors_.back()} + 1) * sectorSize + perDifatSector * 4, sector);
        difatSectors_.push_back(sector);
    }
    for (const std::uint32_t sector : fatSectors) {
        const std::size_t index = fatSectors_.size();
        fatSectors_.push_back(sector);
        if (index < headerFatSlots) {
            putU32At(76 + 4 * index, sector);
        } else {
            const std::size_t slot = index - headerFatSlots;
            putU32At((std::uint64_t{difatSectors_[slot / perDifatSector]} + 1) * sectorSize +
                         slot % perDifatSector * 4,
                     sector);
        }
    }
    putU32At(44, static_cast<std::uint32_t>(fatSectors_.size()));
    putU32At(72, static_cast<std::uint32_t>(difatSectors_.size()));
    for (const std::uint32_t sector : streamSectors) {
        putFat(chain_.back(), sector);
        chain_.push_back(sector);
    }
    putFat(chain_.back(), endOfChain);
    for (const std::uint32_t sector : fatSectors) putFat(sector, fatMark);
    for (const std::uint32_t sector : difatSectors) putFat(sector, difatMark);
    sectorCount_ = next;

    // The rows where the closing records were, and those after them.
    putStream(closingAt_, added + closing_);
    closingAt_ += added.size();
    std::string dimensions;
    putU32(dimensions, firstRow_);
    putU32(dimensions, row);
    putU16(dimensions, firstColumn);
    putU16(dimensions, endColumn);
    putStream(dimensionsAt_, dimensions);
    putU32At(sizeFieldAt_, static_cast<std::uint32_t>(streamSize));
    streamSize_ = streamSize;
    nextRow_ = row;
    firstColumn_ = firstColumn;
    endColumn_ = endColumn;

    // The edits are what differs, one piece a sector, joined where they meet.
    const auto add = [&](std::uint64_t offset, std::string_view bytes, std::string_view old) {
        if (!edits.empty() && edits.back().offset + edits.back().bytes.size() == offset) {
            edits.back().bytes.append(bytes);
            edits.back().before.append(old);
        } else {
            edits.push_back({offset, std::string(bytes), std::string(old)});
        }
    };
    for (const auto& [offset, bytes] : kept_) {
        const auto old = before.find(offset);
        // A sector the site did not keep before is a new one, past the old end.
        if (old == before.end()) {
            add(offset, bytes, {});
            continue;
        }
        std::size_t first = 0;
        while (first < sectorSize && bytes[first] == old->second[first]) ++first;
        if (first == sectorSize) continue;
        std::size_t end = sectorSize;
        while (bytes[end - 1] == old->second[end - 1]) --end;
        add(offset + first, std::string_view(bytes).substr(first, end - first),
            std::string_view(old->second).substr(first, end - first));
    }

    std::map<std::uint64_t, std::string> needed;
    for (const std::uint64_t offset : neededSectors()) {
        const auto kept = kept_.find(offset);
        if (kept != kept_.end()) needed.insert(*kept);
    }
    kept_ = std::move(needed);
    size = fileSize();
    return true;
}

}  // namespace quelvar::xls
