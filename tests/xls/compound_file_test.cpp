#include "xls/compound_file.h"

#include <gtest/gtest.h>

#include "xls/little_endian.h"

namespace quelvar::xls {
namespace {

constexpr std::uint32_t endOfChain = 0xFFFFFFFE;
constexpr std::uint32_t none = 0xFFFFFFFF;

std::string pattern(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 7 + i / 251);
    return bytes;
}

TEST(CompoundFile, StreamsOfEverySizeComeBackAsWritten) {
    // The largest needs more allocation table than the header can list.
    for (const std::size_t size : {std::size_t{5000}, std::size_t{4096}, std::size_t{8} << 20}) {
        const std::string stream = pattern(size);
        const std::string file = writeCompoundFile(u"Workbook", stream);
        EXPECT_EQ(file.size() % 512, 0u);
        std::string read;
        ASSERT_EQ(readCompoundStream(file, u"WORKBOOK", read), CompoundReadResult::ok) << size;
        EXPECT_TRUE(read == stream) << size;
        EXPECT_EQ(readCompoundStream(file, u"Book", read), CompoundReadResult::streamMissing);
    }
}

TEST(CompoundFile, AShortStreamIsPaddedOutOfTheMiniStream) {
    std::string read;
    ASSERT_EQ(readCompoundStream(writeCompoundFile(u"Workbook", "abc"), u"Workbook", read), CompoundReadResult::ok);
    EXPECT_EQ(read, "abc" + std::string(4093, '\0'));
}

// A file of the other version, with 4096-byte sectors, as another program
// writes it: the stream in the mini stream, a storage beside it holding a
// stream of its own.
struct HandMadeFile {
    std::string stream = pattern(100);
    std::string bytes;
    std::vector<std::uint32_t> fat{0xFFFFFFFD, endOfChain, endOfChain, endOfChain};
    std::uint32_t workbookRight = 2;

    std::string build() const {
        constexpr std::size_t sector = 4096;
        std::string file;
        file.append("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
        file.resize(24, '\0');
        putU16(file, 0x3E);
        putU16(file, 4);
        putU16(file, 0xFFFE);
        putU16(file, 12);
        putU16(file, 6);
        file.resize(40, '\0');
        putU32(file, 1);  // directory sectors
        putU32(file, 1);  // FAT sectors
        putU32(file, 1);  // first directory sector
        putU32(file, 0);
        putU32(file, 4096);
        putU32(file, 2);  // first mini FAT sector
        putU32(file, 1);
        putU32(file, endOfChain);
        putU32(file, 0);
        putU32(file, 0);  // the FAT is sector 0
        for (int i = 1; i < 109; ++i) putU32(file, none);
        file.resize(sector, '\0');
        // Sector 0: the FAT.
        for (const std::uint32_t entry : fat) putU32(file, entry);
        file.resize(2 * sector, '\xFF');
        // Sector 1: the directory.
        const auto entry = [&](std::u16string_view name, int type, std::uint32_t right, std::uint32_t child,
                               std::uint32_t start, std::uint32_t size) {
            const std::size_t begin = file.size();
            for (const char16_t c : name) putU16(file, c);
            file.resize(begin + 64, '\0');
            putU16(file, static_cast<unsigned>((name.size() + 1) * 2));
            putU8(file, static_cast<unsigned>(type));
            putU8(file, 1);
            putU32(file, none);
            putU32(file, right);
            putU32(file, child);
            file.resize(begin + 116, '\0');
            putU32(file, start);
            putU32(file, size);
            putU32(file, 0);
        };
        entry(u"Root Entry", 5, none, 1, 3, 128);
        entry(u"workbook", 2, workbookRight, none, 0, static_cast<std::uint32_t>(stream.size()));
        entry(u"Sub", 1, none, 3, 0, 0);
        entry(u"Other", 2, none, none, 0, static_cast<std::uint32_t>(stream.size()));
        file.resize(3 * sector, '\0');
        // Sector 2: the mini FAT; sector 3: the mini stream of two 64-byte sectors.
        putU32(file, 1);
        putU32(file, endOfChain);
        file.resize(4 * sector, '\xFF');
        file.append(stream);
        file.resize(5 * sector, '\0');
        return file;
    }
};

TEST(CompoundFile, ReadsLargeSectorsAndTheMiniStreamOfOtherWriters) {
    HandMadeFile made;
    const std::string file = made.build();
    std::string read;
    ASSERT_EQ(readCompoundStream(file, u"Workbook", read), CompoundReadResult::ok);
    EXPECT_EQ(read, made.stream);
    // A stream inside a storage is not the root's.
    EXPECT_EQ(readCompoundStream(file, u"Other", read), CompoundReadResult::streamMissing);
}

TEST(CompoundFile, RefusesWhatIsNoneOrDamagedWithoutReadingOutsideIt) {
    std::string read;
    EXPECT_EQ(readCompoundStream("", u"Workbook", read), CompoundReadResult::notCompoundFile);
    EXPECT_EQ(readCompoundStream(std::string(4096, 'x'), u"Workbook", read), CompoundReadResult::notCompoundFile);

    HandMadeFile loop;
    loop.workbookRight = 1;  // an entry that is its own sibling
    loop.stream.clear();
    EXPECT_EQ(readCompoundStream(loop.build(), u"Book", read), CompoundReadResult::damaged);
    HandMadeFile cycle;
    cycle.fat[1] = 1;  // the directory chain runs in a circle
    EXPECT_EQ(readCompoundStream(cycle.build(), u"Workbook", read), CompoundReadResult::damaged);
    HandMadeFile outside;
    outside.fat[3] = 1000;  // the mini stream's chain points past the end
    EXPECT_EQ(readCompoundStream(outside.build(), u"Workbook", read), CompoundReadResult::damaged);

    // Cut anywhere, a written file is refused, never read past its end.
    const std::string whole = writeCompoundFile(u"Workbook", pattern(70000));
    for (std::size_t size = 512; size < whole.size(); size += 509) {
        const CompoundReadResult result = readCompoundStream(whole.substr(0, size), u"Workbook", read);
        EXPECT_EQ(result, CompoundReadResult::damaged) << size;
    }
}

}  // namespace
}  // namespace quelvar::xls
