#include "xls/compound_file.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "xls/little_endian.h"

namespace quelvar::xls {

namespace {

constexpr std::uint32_t endOfChain = 0xFFFFFFFE;
constexpr std::uint32_t noEntry = 0xFFFFFFFF;
constexpr std::size_t headerFatEntries = 109;
constexpr std::size_t directoryEntrySize = 128;
constexpr std::size_t miniSectorSize = 64;
constexpr std::uint64_t miniStreamCutoff = 4096;
constexpr char signature[] = "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1";

// Every step answers whether the container still holds together; the first
// that finds it does not ends the reading.
class Container {
public:
    explicit Container(std::string_view file) : file_(file) {}

    CompoundReadResult read(std::u16string_view name, std::string& storage, std::string_view& stream) {
        if (file_.size() < 512 || file_.substr(0, 8) != std::string_view(signature, 8))
            return CompoundReadResult::notCompoundFile;
        if (!readHeader() || !readFat() || !readDirectory()) return CompoundReadResult::damaged;
        std::uint32_t entry = noEntry;
        if (!findInRoot(name, entry)) return CompoundReadResult::damaged;
        if (entry == noEntry) return CompoundReadResult::streamMissing;
        if (!streamOf(entry, storage, stream)) return CompoundReadResult::damaged;
        return CompoundReadResult::ok;
    }

    CompoundReadResult place(std::u16string_view name, StreamPlacement& placement) {
        if (file_.size() < 512 || file_.substr(0, 8) != std::string_view(signature, 8))
            return CompoundReadResult::notCompoundFile;
        if (!readHeader() || !readFat() || !readDirectory()) return CompoundReadResult::damaged;
        std::uint32_t entry = noEntry;
        if (!findInRoot(name, entry)) return CompoundReadResult::damaged;
        if (entry == noEntry) return CompoundReadResult::streamMissing;
        const std::string_view bytes = this->entry(entry);
        placement.majorVersion = readU16(file_, 26);
        placement.sectorSize = sectorSize_;
        placement.sectorCount = sectorCount_;
        placement.fatSectors = fatSectorList_;
        placement.difatSectors = difatSectorList_;
        placement.fat = fat_;
        const std::size_t perSector = sectorSize_ / directoryEntrySize;
        placement.entryOffset = (std::uint64_t{directorySectors_[entry / perSector]} + 1) * sectorSize_ +
                                entry % perSector * directoryEntrySize;
        placement.size = sizeOf(bytes);
        if (!chain(fat_, readU32(bytes, 116), placement.chain)) return CompoundReadResult::damaged;
        return CompoundReadResult::ok;
    }

private:
    bool readHeader() {
        if (readU16(file_, 28) != 0xFFFE) return false;
        const unsigned shift = readU16(file_, 30);
        if ((shift != 9 && shift != 12) || readU16(file_, 32) != 6) return false;
        sectorSize_ = std::size_t{1} << shift;
        if (file_.size() < sectorSize_) return false;
        sectorCount_ = (file_.size() - sectorSize_ + sectorSize_ - 1) / sectorSize_;
        return readU32(file_, 56) == miniStreamCutoff;
    }

    // The bytes of one sector; the last sector of a file may be cut short.
    bool sector(std::uint32_t index, std::string_view& bytes) const {
        if (index >= sectorCount_) return false;
        const std::size_t offset = (std::size_t{index} + 1) * sectorSize_;
        bytes = file_.substr(offset, sectorSize_);
        return true;
    }

    // A sector that must be there whole.
    bool wholeSector(std::uint32_t index, std::string_view& bytes) const {
        return sector(index, bytes) && bytes.size() == sectorSize_;
    }

    bool sectorEntry(std::uint32_t index, std::size_t slot, std::uint32_t& value) const {
        std::string_view bytes;
        if (!sector(index, bytes) || bytes.size() < (slot + 1) * 4) return false;
        value = readU32(bytes, slot * 4);
        return true;
    }

    bool readFat() {
        const std::uint32_t fatSectors = readU32(file_, 44);
        if (fatSectors > sectorCount_) return false;
        std::vector<std::uint32_t> fatSectorList;
        for (std::size_t i = 0; i < headerFatEntries && fatSectorList.size() < fatSectors; ++i)
            fatSectorList.push_back(readU32(file_, 76 + 4 * i));
        // Further FAT sectors are listed in a chain of DIFAT sectors.
        std::uint32_t difat = readU32(file_, 68);
        const std::size_t perDifatSector = sectorSize_ / 4 - 1;
        for (std::size_t visited = 0; fatSectorList.size() < fatSectors; ++visited) {
            if (visited >= sectorCount_) return false;
            for (std::size_t slot = 0; slot < perDifatSector && fatSectorList.size() < fatSectors; ++slot) {
                std::uint32_t listed = 0;
                if (!sectorEntry(difat, slot, listed)) return false;
                fatSectorList.push_back(listed);
            }
            difatSectorList_.push_back(difat);
            if (!sectorEntry(difat, perDifatSector, difat)) return false;
        }
        const std::size_t perSector = sectorSize_ / 4;
        fat_.reserve(fatSectorList.size() * perSector);
        for (const std::uint32_t index : fatSectorList) {
            std::string_view bytes;
            if (!wholeSector(index, bytes)) return false;
            for (std::size_t slot = 0; slot < perSector; ++slot) fat_.push_back(readU32(bytes, slot * 4));
        }
        fatSectorList_ = std::move(fatSectorList);
        return true;
    }

    // The sectors of a chain; false at a bad link or a loop.
    static bool chain(const std::vector<std::uint32_t>& table, std::uint32_t start, std::vector<std::uint32_t>& sectors) {
        sectors.clear();
        for (std::uint32_t current = start; current != endOfChain; current = table[current]) {
            if (current >= table.size() || sectors.size() >= table.size()) return false;
            sectors.push_back(current);
        }
        return true;
    }

    bool readDirectory() {
        std::vector<std::uint32_t> sectors;
        if (!chain(fat_, readU32(file_, 48), sectors)) return false;
        for (const std::uint32_t index : sectors) {
            std::string_view bytes;
            if (!wholeSector(index, bytes)) return false;
            directory_.append(bytes);
        }
        directorySectors_ = std::move(sectors);
        // The first entry is the root storage.
        return directory_.size() >= directoryEntrySize && static_cast<unsigned char>(directory_[66]) == 5;
    }

    std::size_t entryCount() const { return directory_.size() / directoryEntrySize; }
    std::string_view entry(std::uint32_t index) const {
        return std::string_view(directory_).substr(index * directoryEntrySize, directoryEntrySize);
    }

    static bool sameName(std::string_view entryBytes, std::u16string_view name) {
        const std::size_t length = readU16(entryBytes, 64);
        if (length != (name.size() + 1) * 2 || length > 64) return false;
        const auto upper = [](char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; };
        for (std::size_t i = 0; i < name.size(); ++i)
            if (upper(static_cast<char16_t>(readU16(entryBytes, 2 * i))) != upper(name[i])) return false;
        return true;
    }

    // Walks the root's tree of children, which a damaged file may tie in
    // knots; `found` stays noEntry when the name is not there.
    bool findInRoot(std::u16string_view name, std::uint32_t& found) const {
        std::vector<bool> seen(entryCount());
        std::vector<std::uint32_t> pending{readU32(entry(0), 76)};
        while (!pending.empty()) {
            const std::uint32_t index = pending.back();
            pending.pop_back();
            if (index == noEntry) continue;
            if (index >= entryCount() || seen[index]) return false;
            seen[index] = true;
            const std::string_view bytes = entry(index);
            if (bytes[66] == 2 && sameName(bytes, name)) {
                found = index;
                return true;
            }
            pending.push_back(readU32(bytes, 68));
            pending.push_back(readU32(bytes, 72));
        }
        return true;
    }

    std::uint64_t sizeOf(std::string_view entryBytes) const {
        // Version 3 files leave the upper half undefined.
        return sectorSize_ == 512 ? readU32(entryBytes, 120) : readU64(entryBytes, 120);
    }

    // A chain cut short by the end of the file leaves the stream short.
    static void take(std::string& stream, std::string_view bytes, std::uint64_t size) {
        const std::uint64_t wanted = size - stream.size();
        stream.append(bytes.substr(0, static_cast<std::size_t>(std::min<std::uint64_t>(wanted, bytes.size()))));
    }

    bool streamOf(std::uint32_t index, std::string& storage, std::string_view& stream) {
        const std::string_view bytes = entry(index);
        const std::uint64_t size = sizeOf(bytes);
        const std::uint32_t start = readU32(bytes, 116);
        std::vector<std::uint32_t> sectors;
        if (size < miniStreamCutoff) {
            std::string mini;
            if (!miniStream(mini) || !chain(fat_, readU32(file_, 60), sectors)) return false;
            std::vector<std::uint32_t> miniFat;
            for (const std::uint32_t fatIndex : sectors) {
                std::string_view table;
                if (!wholeSector(fatIndex, table)) return false;
                for (std::size_t slot = 0; slot < sectorSize_ / 4; ++slot) miniFat.push_back(readU32(table, slot * 4));
            }
            if (!chain(miniFat, start, sectors)) return false;
            for (const std::uint32_t miniIndex : sectors) {
                if (storage.size() == size) break;
                if ((std::size_t{miniIndex} + 1) * miniSectorSize > mini.size()) return false;
                take(storage, std::string_view(mini).substr(miniIndex * miniSectorSize, miniSectorSize), size);
            }
            stream = storage;
            return storage.size() == size;
        }
        if (!chain(fat_, start, sectors)) return false;
        const std::size_t needed = static_cast<std::size_t>((size + sectorSize_ - 1) / sectorSize_);
        if (sectors.size() < needed) return false;
        // Sectors one after the other need no copy.
        bool inOnePiece = true;
        for (std::size_t i = 1; i < needed && inOnePiece; ++i) inOnePiece = sectors[i] == sectors[0] + i;
        const std::size_t offset = (std::size_t{sectors[0]} + 1) * sectorSize_;
        if (inOnePiece && offset + size <= file_.size()) {
            stream = file_.substr(offset, static_cast<std::size_t>(size));
            return true;
        }
        storage.reserve(static_cast<std::size_t>(size));
        for (const std::uint32_t sectorIndex : sectors) {
            if (storage.size() == size) break;
            std::string_view piece;
            if (!sector(sectorIndex, piece)) return false;
            take(storage, piece, size);
        }
        stream = storage;
        return storage.size() == size;
    }

    // The small streams' own container, kept in the root entry's chain.
    bool miniStream(std::string& mini) const {
        const std::string_view root = entry(0);
        const std::uint64_t size = sizeOf(root);
        std::vector<std::uint32_t> sectors;
        if (!chain(fat_, readU32(root, 116), sectors)) return false;
        for (const std::uint32_t index : sectors) {
            if (mini.size() >= size) break;
            std::string_view bytes;
            if (!sector(index, bytes)) return false;
            mini.append(bytes);
        }
        if (mini.size() < size) return false;
        mini.resize(static_cast<std::size_t>(size));
        return true;
    }

    std::string_view file_;
    std::size_t sectorSize_ = 512;
    std::size_t sectorCount_ = 0;
    std::vector<std::uint32_t> fat_;
    std::vector<std::uint32_t> fatSectorList_;
    std::vector<std::uint32_t> difatSectorList_;
    std::vector<std::uint32_t> directorySectors_;
    std::string directory_;
};

}  // namespace

CompoundReadResult readCompoundStream(std::string_view file, std::u16string_view name, std::string& storage,
                                      std::string_view& stream) {
    storage.clear();
    stream = {};
    return Container(file).read(name, storage, stream);
}

CompoundReadResult placeCompoundStream(std::string_view file, std::u16string_view name, StreamPlacement& placement) {
    placement = {};
    return Container(file).place(name, placement);
}

CompoundReadResult readCompoundStream(std::string_view file, std::u16string_view name, std::string& stream) {
    std::string storage;
    std::string_view view;
    const CompoundReadResult result = readCompoundStream(file, name, storage, view);
    stream.assign(view);
    return result;
}

}  // namespace quelvar::xls
