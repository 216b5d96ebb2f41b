#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "xls/workbook.h"

namespace quelvar::xls {

// A change of a file where it lies: bytes to put at an offset, and the
// bytes that were there before, as far as the file reached.
struct FileEdit {
    std::uint64_t offset = 0;
    std::string bytes;
    std::string before;
};

// A text cell of a row added in place.
struct RowCell {
    std::uint16_t column = 0;
    std::u16string text;
};

// Where rows can go into a workbook file without writing it anew: below
// the last row of the sheet at the end of the workbook stream, the stream
// at the end of the file (FORMAT.md, "Adding rows in place"). Found once in
// a file read whole; from then on it keeps the few sectors an append
// changes, so that the next append needs nothing else of the file.
class AppendSite {
public:
    // Whether rows can go into the file in place; `workbook` is what
    // readWorkbookFile made of the same bytes.
    static bool find(std::string_view file, const Workbook& workbook, AppendSite& site);

    const std::u16string& sheetName() const { return sheetName_; }
    // The column that a text of the sheet's first row heads; the first,
    // where the text is there twice.
    bool columnOf(std::u16string_view head, std::uint16_t& column) const;
    std::uint32_t nextRow() const { return nextRow_; }

    // The longest text of a cell added in place.
    static constexpr std::size_t maxText = 255;

    // The file as the site knows it: its size, and the sectors an append
    // changes, by offset. A file that differs in any of them is not the one
    // the site was found in, or was changed since.
    std::uint64_t fileSize() const { return (std::uint64_t{sectorCount_} + 1) * sectorSize; }
    std::vector<std::pair<std::uint64_t, std::string_view>> keptSectors() const;

    // Adds rows below the last: each row's cells ordered by column, none
    // empty, none longer than maxText. Gives the edits, in the order of
    // their offsets, and the file's size after them; from then on the site
    // knows the file as the edits leave it. False, and the site unchanged,
    // when the rows do not fit (the sheet would pass its 65,536 rows, the
    // stream 2 GiB).
    bool append(const std::vector<std::vector<RowCell>>& rows, std::vector<FileEdit>& edits, std::uint64_t& size);

    static constexpr std::uint64_t sectorSize = 512;

private:
    void keepNeededSectors(std::string_view file);
    std::vector<std::uint64_t> neededSectors() const;
    std::uint64_t fileOffset(std::uint64_t streamOffset) const;
    void put(std::uint64_t offset, std::string_view bytes);
    void putU32At(std::uint64_t offset, std::uint32_t value);
    void putStream(std::uint64_t streamOffset, std::string_view bytes);
    void putFat(std::uint32_t sector, std::uint32_t value);

    std::u16string sheetName_;
    std::vector<std::pair<std::u16string, std::uint16_t>> heads_;
    std::uint32_t nextRow_ = 0;
    // The sheet's DIMENSIONS: rows and columns from the first to past the last.
    std::uint32_t firstRow_ = 0;
    std::uint16_t firstColumn_ = 0;
    std::uint16_t endColumn_ = 0;
    std::uint64_t dimensionsAt_ = 0;  // of its body, in the stream
    std::uint64_t closingAt_ = 0;     // of the sheet's closing records, in the stream
    std::string closing_;             // WINDOW2 and EOF
    std::uint64_t streamSize_ = 0;
    std::uint64_t sizeFieldAt_ = 0;  // of the stream's size in its directory entry, in the file
    std::uint32_t sectorCount_ = 0;  // after the header
    std::vector<std::uint32_t> chain_;
    std::vector<std::uint32_t> fatSectors_;
    std::vector<std::uint32_t> difatSectors_;
    // Whole sectors by their offset in the file; the header is the one at 0.
    std::map<std::uint64_t, std::string> kept_;
};

}  // namespace quelvar::xls
