#include "xls/append.h"

#include <algorithm>
#include <limits>
#include <numeric>

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
// The least room a sheet keeps after it when another moves past it.
constexpr std::uint64_t leastRoom = 4096;

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
    // rows are written in. Then the sheets, the shared texts and nothing else.
    const std::string globals = biff::globalsHead();
    if (!stream.starts_with(globals)) return false;
    Records records(stream, globals.size());
    std::uint16_t id = 0;
    std::string_view body;
    bool more = records.next(id, body);
    for (; more && id == biff::boundSheet; more = records.next(id, body)) {
        if (body.size() < 8 || body[5] != 0) return false;
        SheetPlace sheet;
        sheet.positionAt = records.offset() - body.size();
        sheet.bofAt = readU32(body, 0);
        site.sheets_.push_back(std::move(sheet));
    }
    if (!more || id != biff::sharedStrings) return false;
    do more = records.next(id, body);
    while (more && id == biff::continued);
    if (!more || id != biff::sharedStringIndex || !records.next(id, body) || id != biff::endOfFile) return false;
    if (site.sheets_.empty() || workbook.sheets.size() != site.sheets_.size()) return false;

    // The sheets in the order of their places in the stream, none inside
    // another: each its head, DIMENSIONS, rows of cells, WINDOW2 and EOF.
    // What lies between them is free; after the last, only zero bytes.
    std::vector<std::size_t> order(site.sheets_.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::sort(order.begin(), order.end(),
              [&](std::size_t a, std::size_t b) { return site.sheets_[a].bofAt < site.sheets_[b].bofAt; });
    const std::string head = biff::worksheetHead();
    std::uint64_t free = records.offset();
    for (const std::size_t index : order) {
        SheetPlace& at = site.sheets_[index];
        const Sheet& sheet = workbook.sheets[index];
        if (at.bofAt < free || at.bofAt > stream.size() || stream.substr(at.bofAt, head.size()) != head)
            return false;
        Records cells(stream, at.bofAt + head.size());
        if (!cells.next(id, body) || id != biff::dimensions || body.size() != 14) return false;
        at.dimensionsAt = cells.offset() - body.size();
        const std::string_view dimensions = body;
        for (;;) {
            const std::size_t offset = cells.offset();
            if (!cells.next(id, body)) return false;
            if (isCell(id)) continue;
            if (id != biff::window2) return false;
            at.closingAt = offset;
            break;
        }
        if (!cells.next(id, body) || id != biff::endOfFile) return false;
        at.closing = stream.substr(at.closingAt, cells.offset() - at.closingAt);
        free = cells.offset();
        at.name = sheet.name;
        // A sheet without cells names no columns: it takes no rows here.
        if (sheet.cells.empty()) continue;
        const auto [narrowest, widest] = std::minmax_element(
            sheet.cells.begin(), sheet.cells.end(), [](const Cell& a, const Cell& b) { return a.column < b.column; });
        at.firstRow = sheet.cells.front().row;
        at.nextRow = sheet.cells.back().row + 1;
        at.firstColumn = narrowest->column;
        at.endColumn = static_cast<std::uint16_t>(widest->column + 1);
        if (readU32(dimensions, 0) != at.firstRow || readU32(dimensions, 4) != at.nextRow ||
            readU16(dimensions, 8) != at.firstColumn || readU16(dimensions, 10) != at.endColumn)
            return false;
        for (const Cell& cell : sheet.cells) {
            if (cell.row != at.firstRow) break;
            if (cell.kind == CellKind::text) at.heads.emplace_back(workbook.strings[cell.text], cell.column);
        }
    }
    if (!allZero(stream.substr(free))) return false;

    site.streamSize_ = place.size;
    site.sizeFieldAt_ = place.entryOffset + 120;
    site.sectorCount_ = static_cast<std::uint32_t>(place.sectorCount);
    site.chain_ = std::move(place.chain);
    site.fatSectors_ = std::move(place.fatSectors);
    site.difatSectors_ = std::move(place.difatSectors);
    for (const std::uint64_t offset : site.neededSectors())
        site.kept_.try_emplace(offset, file.substr(offset, sectorSize));
    return true;
}

bool AppendSite::columnOf(std::size_t sheet, std::u16string_view head, std::uint16_t& column) const {
    for (const auto& [text, at] : sheets_[sheet].heads) {
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

std::size_t AppendSite::lastInStream() const {
    return static_cast<std::size_t>(
        std::max_element(sheets_.begin(), sheets_.end(),
                         [](const SheetPlace& a, const SheetPlace& b) { return a.bofAt < b.bofAt; }) -
        sheets_.begin());
}

// Where the next sheet in the stream begins; the last has no end.
std::uint64_t AppendSite::roomEnd(std::size_t sheet) const {
    std::uint64_t end = std::numeric_limits<std::uint64_t>::max();
    for (const SheetPlace& other : sheets_)
        if (other.bofAt > sheets_[sheet].bofAt) end = std::min(end, other.bofAt);
    return end;
}

// The header; the sector with the stream's directory entry; the allocation
// table from the stream's last sector on and the last DIFAT sector, which
// list the sectors to come; and of every sheet its position in the globals,
// its DIMENSIONS and its closing records.
std::vector<std::uint64_t> AppendSite::neededSectors() const {
    std::vector<std::uint64_t> sectors{0, sizeFieldAt_ - sizeFieldAt_ % sectorSize};
    for (std::size_t f = chain_.back() / perFatSector; f < fatSectors_.size(); ++f)
        sectors.push_back((std::uint64_t{fatSectors_[f]} + 1) * sectorSize);
    if (!difatSectors_.empty()) sectors.push_back((std::uint64_t{difatSectors_.back()} + 1) * sectorSize);
    const auto add = [&](std::uint64_t from, std::uint64_t to) {
        for (std::uint64_t at = from - from % sectorSize; at < to; at += sectorSize) {
            const std::uint64_t offset = fileOffset(at);
            sectors.push_back(offset - offset % sectorSize);
        }
    };
    for (const SheetPlace& sheet : sheets_) {
        add(sheet.positionAt, sheet.positionAt + 4);
        add(sheet.dimensionsAt, sheet.dimensionsAt + 14);
        add(sheet.closingAt, sheet.end());
    }
    return sectors;
}

std::string& AppendSite::sectorAt(std::uint64_t offset) {
    const auto kept = kept_.find(offset);
    if (kept != kept_.end()) return kept->second;
    std::string bytes;
    if (read_ == nullptr || !(*read_)(offset, sectorSize, bytes) || bytes.size() != sectorSize) {
        unreadable_ = true;
        bytes.assign(sectorSize, '\0');
    }
    if (original_ != nullptr) original_->emplace(offset, bytes);
    return kept_.emplace(offset, std::move(bytes)).first->second;
}

std::uint64_t AppendSite::fileOffset(std::uint64_t streamOffset) const {
    return (std::uint64_t{chain_[streamOffset / sectorSize]} + 1) * sectorSize + streamOffset % sectorSize;
}

void AppendSite::put(std::uint64_t offset, std::string_view bytes) {
    while (!bytes.empty()) {
        std::string& sector = sectorAt(offset - offset % sectorSize);
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

// The stream's bytes from one offset to another: those of kept sectors as
// kept, the rest read from the file in runs of sectors that follow each other.
std::string AppendSite::readStream(std::uint64_t from, std::uint64_t to) {
    std::string bytes;
    bytes.reserve(to - from);
    while (from < to && !unreadable_) {
        const std::uint64_t at = fileOffset(from);
        const auto kept = kept_.find(at - at % sectorSize);
        std::uint64_t end = std::min(to, from - from % sectorSize + sectorSize);
        if (kept != kept_.end()) {
            bytes.append(kept->second, at % sectorSize, end - from);
            from = end;
            continue;
        }
        while (end < to && fileOffset(end) == at + (end - from) && !kept_.contains(fileOffset(end)))
            end = std::min(to, end + sectorSize);
        std::string piece;
        if (!(*read_)(at, end - from, piece) || piece.size() != end - from) {
            unreadable_ = true;
            break;
        }
        bytes += piece;
        from = end;
    }
    return bytes;
}

// New sectors go after the last: the stream's, then the allocation table's
// and the DIFAT's that listing them takes.
void AppendSite::growTo(std::uint64_t streamSize) {
    streamSize = std::max(streamSize, smallestStream);
    if (streamSize <= streamSize_) return;
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
    streamSize_ = streamSize;
}

// The sheet's records up to its closing ones, copied to the end of the
// stream, and its BOUNDSHEET pointed there. The sheet that was last keeps
// as much room after it as it holds, so that sheets taking rows in turn
// move ever more seldom; the bytes the sheet leaves stay as they were.
void AppendSite::moveToTheEnd(std::size_t index) {
    const SheetPlace& last = sheets_[lastInStream()];
    const std::uint64_t to = last.end() + std::max(last.end() - last.bofAt, leastRoom);
    SheetPlace& sheet = sheets_[index];
    const std::string copy = readStream(sheet.bofAt, sheet.closingAt);
    growTo(to + copy.size());
    putStream(to, copy);
    std::string position;
    putU32(position, static_cast<std::uint32_t>(to));
    putStream(sheet.positionAt, position);
    sheet.dimensionsAt = to + (sheet.dimensionsAt - sheet.bofAt);
    sheet.closingAt = to + (sheet.closingAt - sheet.bofAt);
    sheet.bofAt = to;
}

AppendSite::Result AppendSite::append(const std::vector<SheetRows>& rows, const FileReader& read,
                                      std::vector<FileEdit>& edits, std::uint64_t& size) {
    edits.clear();
    size = fileSize();
    AppendSite saved = *this;
    std::map<std::uint64_t, std::string> before = kept_;
    original_ = &before;
    read_ = &read;
    unreadable_ = false;
    const auto undo = [&](Result result) {
        *this = std::move(saved);
        return result;
    };
    for (const SheetRows& group : rows) {
        SheetPlace& sheet = sheets_[group.sheet];
        std::string added;
        std::uint32_t row = sheet.nextRow;
        std::uint16_t firstColumn = sheet.firstColumn;
        std::uint16_t endColumn = sheet.endColumn;
        for (const std::vector<RowCell>& cells : group.rows) {
            if (cells.empty()) continue;
            if (row >= maxRows) return undo(Result::tooLarge);
            biff::putRowRecord(added, row, cells.front().column, cells.back().column + 1u);
            for (const RowCell& cell : cells) biff::putLabelRecord(added, row, cell.column, cell.text);
            firstColumn = std::min(firstColumn, cells.front().column);
            endColumn = std::max(endColumn, static_cast<std::uint16_t>(cells.back().column + 1));
            ++row;
        }
        if (added.empty()) continue;
        if (group.sheet != lastInStream() && sheet.end() + added.size() > roomEnd(group.sheet)) {
            const SheetPlace& last = sheets_[lastInStream()];
            const std::uint64_t moved = last.end() + std::max(last.end() - last.bofAt, leastRoom) +
                                        (sheet.closingAt - sheet.bofAt);
            if (moved + added.size() + sheet.closing.size() > largestStream) return undo(Result::tooLarge);
            moveToTheEnd(group.sheet);
        }
        if (sheet.end() + added.size() > largestStream) return undo(Result::tooLarge);
        growTo(sheet.end() + added.size());

        // The rows where the closing records were, and those after them.
        putStream(sheet.closingAt, added + sheet.closing);
        sheet.closingAt += added.size();
        std::string dimensions;
        putU32(dimensions, sheet.firstRow);
        putU32(dimensions, row);
        putU16(dimensions, firstColumn);
        putU16(dimensions, endColumn);
        putStream(sheet.dimensionsAt, dimensions);
        sheet.nextRow = row;
        sheet.firstColumn = firstColumn;
        sheet.endColumn = endColumn;
        if (unreadable_) return undo(Result::unreadable);
    }
    putU32At(sizeFieldAt_, static_cast<std::uint32_t>(streamSize_));

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
        // A sector the site did not keep or read before is a new one, past the old end.
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
    for (const std::uint64_t offset : neededSectors()) needed.try_emplace(offset, sectorAt(offset));
    if (unreadable_) {
        edits.clear();
        return undo(Result::unreadable);
    }
    kept_ = std::move(needed);
    original_ = nullptr;
    read_ = nullptr;
    size = fileSize();
    return Result::added;
}

}  // namespace quelvar::xls
