#include "store/compound_file.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "store/little_endian.h"

namespace quelvar {

namespace {

constexpr std::uint32_t endOfChain = 0xFFFFFFFE;
constexpr std::uint32_t noEntry = 0xFFFFFFFF;
constexpr std::size_t headerFatEntries = 109;
constexpr std::size_t directoryEntrySize = 128;
constexpr std::size_t miniSectorSize = 64;
constexpr std::uint64_t miniStreamCutoff = 4096;
constexpr char signature[] = "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1";

struct Damaged {};

class Container {
public:
    explicit Container(std::string_view file) : file_(file) {}

    CompoundReadResult read(std::u16string_view name, std::string& storage, std::string_view& stream) {
        if (file_.size() < 512 || file_.substr(0, 8) != std::string_view(signature, 8))
            return CompoundReadResult::notCompoundFile;
        try {
            readHeader();
            readFat();
            readDirectory();
            const std::uint32_t entry = findInRoot(name);
            if (entry == noEntry) return CompoundReadResult::streamMissing;
            stream = streamOf(entry, storage);
            return CompoundReadResult::ok;
        } catch (const Damaged&) {
            return CompoundReadResult::damaged;
        }
    }

private:
    static void check(bool condition) {
        if (!condition) throw Damaged{};
    }

    void readHeader() {
        check(readU16(file_, 28) == 0xFFFE);
        const unsigned shift = readU16(file_, 30);
        check(shift == 9 || shift == 12);
        check(readU16(file_, 32) == 6);
        sectorSize_ = std::size_t{1} << shift;
        check(file_.size() >= sectorSize_);
        sectorCount_ = (file_.size() - sectorSize_ + sectorSize_ - 1) / sectorSize_;
        check(readU32(file_, 56) == miniStreamCutoff);
    }

    // The bytes of one sector; the last sector of a file may be cut short.
    std::string_view sector(std::uint32_t index) const {
        check(index < sectorCount_);
        const std::size_t offset = (std::size_t{index} + 1) * sectorSize_;
        return file_.substr(offset, sectorSize_);
    }

    std::uint32_t sectorEntry(std::uint32_t index, std::size_t slot) const {
        const std::string_view bytes = sector(index);
        check(bytes.size() >= (slot + 1) * 4);
        return readU32(bytes, slot * 4);
    }

    void readFat() {
        const std::uint32_t fatSectors = readU32(file_, 44);
        check(fatSectors <= sectorCount_);
        std::vector<std::uint32_t> fatSectorList;
        for (std::size_t i = 0; i < headerFatEntries && fatSectorList.size() < fatSectors; ++i)
            fatSectorList.push_back(readU32(file_, 76 + 4 * i));
        // Further FAT sectors are listed in a chain of DIFAT sectors.
        std::uint32_t difat = readU32(file_, 68);
        const std::size_t perDifatSector = sectorSize_ / 4 - 1;
        for (std::size_t visited = 0; fatSectorList.size() < fatSectors; ++visited) {
            check(visited < sectorCount_);
            for (std::size_t slot = 0; slot < perDifatSector && fatSectorList.size() < fatSectors; ++slot)
                fatSectorList.push_back(sectorEntry(difat, slot));
            difat = sectorEntry(difat, perDifatSector);
        }
        const std::size_t perSector = sectorSize_ / 4;
        fat_.reserve(fatSectorList.size() * perSector);
        for (const std::uint32_t index : fatSectorList) {
            const std::string_view bytes = sector(index);
            check(bytes.size() == sectorSize_);
            for (std::size_t slot = 0; slot < perSector; ++slot) fat_.push_back(readU32(bytes, slot * 4));
        }
    }

    // The sectors of a chain, stopping with an error at a bad link or a loop.
    static std::vector<std::uint32_t> chain(const std::vector<std::uint32_t>& table, std::uint32_t start) {
        std::vector<std::uint32_t> sectors;
        for (std::uint32_t current = start; current != endOfChain; current = table[current]) {
            check(current < table.size() && sectors.size() < table.size());
            sectors.push_back(current);
        }
        return sectors;
    }

    void readDirectory() {
        for (const std::uint32_t index : chain(fat_, readU32(file_, 48))) {
            const std::string_view bytes = sector(index);
            check(bytes.size() == sectorSize_);
            directory_.append(bytes);
        }
        check(directory_.size() >= directoryEntrySize);
        check(static_cast<unsigned char>(directory_[66]) == 5);  // the root storage
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

    // Walks the root's tree of children, which a damaged file may tie in knots.
    std::uint32_t findInRoot(std::u16string_view name) const {
        std::vector<bool> seen(entryCount());
        std::vector<std::uint32_t> pending{readU32(entry(0), 76)};
        while (!pending.empty()) {
            const std::uint32_t index = pending.back();
            pending.pop_back();
            if (index == noEntry) continue;
            check(index < entryCount() && !seen[index]);
            seen[index] = true;
            const std::string_view bytes = entry(index);
            if (bytes[66] == 2 && sameName(bytes, name)) return index;
            pending.push_back(readU32(bytes, 68));
            pending.push_back(readU32(bytes, 72));
        }
        return noEntry;
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

    std::string_view streamOf(std::uint32_t index, std::string& stream) {
        const std::string_view bytes = entry(index);
        const std::uint64_t size = sizeOf(bytes);
        const std::uint32_t start = readU32(bytes, 116);
        if (size < miniStreamCutoff) {
            const std::string mini = miniStream();
            std::vector<std::uint32_t> miniFat;
            for (const std::uint32_t fatIndex : chain(fat_, readU32(file_, 60))) {
                const std::string_view table = sector(fatIndex);
                check(table.size() == sectorSize_);
                for (std::size_t slot = 0; slot < sectorSize_ / 4; ++slot) miniFat.push_back(readU32(table, slot * 4));
            }
            for (const std::uint32_t miniIndex : chain(miniFat, start)) {
                if (stream.size() == size) break;
                check((std::size_t{miniIndex} + 1) * miniSectorSize <= mini.size());
                take(stream, std::string_view(mini).substr(miniIndex * miniSectorSize, miniSectorSize), size);
            }
            check(stream.size() == size);
            return stream;
        }
        const std::vector<std::uint32_t> sectors = chain(fat_, start);
        const std::size_t needed = static_cast<std::size_t>((size + sectorSize_ - 1) / sectorSize_);
        check(sectors.size() >= needed);
        // Sectors one after the other need no copy.
        bool inOnePiece = true;
        for (std::size_t i = 1; i < needed && inOnePiece; ++i) inOnePiece = sectors[i] == sectors[0] + i;
        const std::size_t offset = (std::size_t{sectors[0]} + 1) * sectorSize_;
        if (inOnePiece && offset + size <= file_.size()) return file_.substr(offset, static_cast<std::size_t>(size));
        stream.reserve(static_cast<std::size_t>(size));
        for (const std::uint32_t sectorIndex : sectors) {
            if (stream.size() == size) break;
            take(stream, sector(sectorIndex), size);
        }
        check(stream.size() == size);
        return stream;
    }

    // The small streams' own container, kept in the root entry's chain.
    std::string miniStream() const {
        const std::string_view root = entry(0);
        const std::uint64_t size = sizeOf(root);
        std::string mini;
        for (const std::uint32_t index : chain(fat_, readU32(root, 116))) {
            if (mini.size() >= size) break;
            mini.append(sector(index));
        }
        check(mini.size() >= size);
        mini.resize(static_cast<std::size_t>(size));
        return mini;
    }

    std::string_view file_;
    std::size_t sectorSize_ = 512;
    std::size_t sectorCount_ = 0;
    std::vector<std::uint32_t> fat_;
    std::string directory_;
};

}  // namespace

CompoundReadResult readCompoundStream(std::string_view file, std::u16string_view name, std::string& storage,
                                      std::string_view& stream) {
    storage.clear();
    stream = {};
    return Container(file).read(name, storage, stream);
}

CompoundReadResult readCompoundStream(std::string_view file, std::u16string_view name, std::string& stream) {
    std::string storage;
    std::string_view view;
    const CompoundReadResult result = readCompoundStream(file, name, storage, view);
    stream.assign(view);
    return result;
}

}  // namespace quelvar
