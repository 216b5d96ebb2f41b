#include "xls/compound_file.h"

#include <algorithm>
#include <cstdint>

#include "xls/little_endian.h"

namespace quelvar::xls {

namespace {

constexpr std::size_t sectorSize = 512;
constexpr std::size_t entriesPerSector = sectorSize / 4;
constexpr std::size_t headerFatEntries = 109;
constexpr std::size_t miniStreamCutoff = 4096;
constexpr std::uint32_t freeSector = 0xFFFFFFFF;
constexpr std::uint32_t endOfChain = 0xFFFFFFFE;
constexpr std::uint32_t fatMark = 0xFFFFFFFD;
constexpr std::uint32_t difatMark = 0xFFFFFFFC;
constexpr std::uint32_t noEntry = 0xFFFFFFFF;

std::size_t sectorsFor(std::size_t bytes, std::size_t per) { return (bytes + per - 1) / per; }

void putDirectoryEntry(std::string& out, std::u16string_view name, unsigned type, std::uint32_t child,
                       std::uint32_t start, std::uint32_t size) {
    const std::size_t begin = out.size();
    for (const char16_t c : name) putU16(out, c);
    out.resize(begin + 64, '\0');
    putU16(out, name.empty() ? 0 : static_cast<unsigned>((name.size() + 1) * 2));
    putU8(out, type);
    putU8(out, type == 0 ? 0 : 1);  // black: a tree of one node needs no balancing
    putU32(out, noEntry);
    putU32(out, noEntry);
    putU32(out, child);
    out.resize(out.size() + 16 + 4 + 16, '\0');  // class, state bits, times
    putU32(out, start);
    putU32(out, size);
    putU32(out, 0);
}

}  // namespace

CompoundFrame compoundFrame(std::u16string_view name, std::size_t size) {
    const std::size_t streamSize = std::max(size, miniStreamCutoff);
    const std::size_t streamSectors = sectorsFor(streamSize, sectorSize);
    const std::size_t directorySectors = 1;
    // The allocation table lists its own sectors too: grow it until it fits.
    std::size_t fatSectors = 1;
    std::size_t difatSectors = 0;
    for (;;) {
        const std::size_t total = streamSectors + directorySectors + fatSectors + difatSectors;
        const std::size_t neededFat = sectorsFor(total, entriesPerSector);
        const std::size_t neededDifat =
            neededFat > headerFatEntries ? sectorsFor(neededFat - headerFatEntries, entriesPerSector - 1) : 0;
        if (neededFat == fatSectors && neededDifat == difatSectors) break;
        fatSectors = neededFat;
        difatSectors = neededDifat;
    }
    const std::size_t firstDifat = fatSectors;
    const std::size_t directorySector = fatSectors + difatSectors;
    const std::size_t firstStreamSector = directorySector + directorySectors;

    std::string out;
    out.reserve((1 + firstStreamSector) * sectorSize);
    out.append("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
    out.resize(24, '\0');
    putU16(out, 0x003E);  // minor version
    putU16(out, 3);       // major version: 512-byte sectors
    putU16(out, 0xFFFE);  // byte order mark
    putU16(out, 9);       // sector shift
    putU16(out, 6);       // mini sector shift
    out.resize(out.size() + 6, '\0');
    putU32(out, 0);  // directory sectors, not counted in version 3
    putU32(out, static_cast<std::uint32_t>(fatSectors));
    putU32(out, static_cast<std::uint32_t>(directorySector));
    putU32(out, 0);  // transaction signature
    putU32(out, static_cast<std::uint32_t>(miniStreamCutoff));
    putU32(out, endOfChain);  // no mini allocation table
    putU32(out, 0);
    putU32(out, difatSectors == 0 ? endOfChain : static_cast<std::uint32_t>(firstDifat));
    putU32(out, static_cast<std::uint32_t>(difatSectors));
    for (std::size_t i = 0; i < headerFatEntries; ++i)
        putU32(out, i < fatSectors ? static_cast<std::uint32_t>(i) : freeSector);

    // The allocation table: its own sectors, the DIFAT's, the directory and one chain for the stream.
    std::size_t written = 0;
    const auto putFatEntry = [&](std::uint32_t value) {
        putU32(out, value);
        ++written;
    };
    for (std::size_t i = 0; i < fatSectors; ++i) putFatEntry(fatMark);
    for (std::size_t i = 0; i < difatSectors; ++i) putFatEntry(difatMark);
    putFatEntry(endOfChain);
    for (std::size_t i = 1; i < streamSectors; ++i) putFatEntry(static_cast<std::uint32_t>(firstStreamSector + i));
    putFatEntry(endOfChain);
    while (written < fatSectors * entriesPerSector) putFatEntry(freeSector);

    // FAT sectors beyond the header's 109 are listed in DIFAT sectors.
    for (std::size_t d = 0; d < difatSectors; ++d) {
        for (std::size_t slot = 0; slot < entriesPerSector - 1; ++slot) {
            const std::size_t fatIndex = headerFatEntries + d * (entriesPerSector - 1) + slot;
            putU32(out, fatIndex < fatSectors ? static_cast<std::uint32_t>(fatIndex) : freeSector);
        }
        putU32(out, d + 1 < difatSectors ? static_cast<std::uint32_t>(firstDifat + d + 1) : endOfChain);
    }

    putDirectoryEntry(out, u"Root Entry", 5, 1, endOfChain, 0);
    putDirectoryEntry(out, name, 2, noEntry, static_cast<std::uint32_t>(firstStreamSector),
                      static_cast<std::uint32_t>(streamSize));
    putDirectoryEntry(out, u"", 0, noEntry, 0, 0);
    putDirectoryEntry(out, u"", 0, noEntry, 0, 0);

    CompoundFrame frame;
    frame.head = std::move(out);
    frame.tail.assign(streamSectors * sectorSize - size, '\0');
    return frame;
}

std::string writeCompoundFile(std::u16string_view name, std::string_view stream) {
    const CompoundFrame frame = compoundFrame(name, stream.size());
    std::string file;
    file.reserve(frame.head.size() + stream.size() + frame.tail.size());
    return file.append(frame.head).append(stream).append(frame.tail);
}

}  // namespace quelvar::xls
