#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quelvar::xls {

// The container of an Excel 97-2003 file: a compound document (a small file
// system in one file) whose stream "Workbook" holds the workbook's records.

enum class CompoundReadResult {
    ok,
    notCompoundFile,  // no compound document signature
    damaged,          // cut short, or its tables point outside the file or in circles
    streamMissing,    // the root storage holds no stream of that name
};

// Reads a stream of the root storage, its name compared without regard to
// case. Never reads outside `file`, whatever it holds. `stream` views the
// stream inside `file` where it lies there in one piece (as in the files
// written here), and otherwise a copy put together in `storage`.
CompoundReadResult readCompoundStream(std::string_view file, std::u16string_view name, std::string& storage,
                                      std::string_view& stream);

// The same, always into a copy.
CompoundReadResult readCompoundStream(std::string_view file, std::u16string_view name, std::string& stream);

// Where a stream of the root storage lies, for changing it in place: the
// container's sectors, its allocation table with the sectors that hold it,
// the stream's directory entry and its chain of sectors. Read with the same
// checks as readCompoundStream.
struct StreamPlacement {
    unsigned majorVersion = 0;
    std::size_t sectorSize = 0;
    std::size_t sectorCount = 0;              // after the header, the last one perhaps cut short
    std::vector<std::uint32_t> fatSectors;    // in the table's order
    std::vector<std::uint32_t> difatSectors;  // in their chain's order
    std::vector<std::uint32_t> fat;
    std::uint64_t entryOffset = 0;  // of the stream's directory entry in the file
    std::vector<std::uint32_t> chain;
    std::uint64_t size = 0;
};
CompoundReadResult placeCompoundStream(std::string_view file, std::u16string_view name, StreamPlacement& placement);

// A compound document with one stream in its root storage comes as the
// bytes before the stream and those after it. A stream shorter than 4,096
// bytes is padded with zero bytes to that size, so that it never needs the
// container's mini stream; a workbook's readers stop at its last
// end-of-file record.
struct CompoundFrame {
    std::string head;
    std::string tail;
};
CompoundFrame compoundFrame(std::u16string_view name, std::size_t streamSize);

// The whole file at once.
std::string writeCompoundFile(std::u16string_view name, std::string_view stream);

}  // namespace quelvar::xls
