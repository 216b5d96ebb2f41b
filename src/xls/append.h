#pragma once
#include <cstdint>
#include <functional>
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

// Rows for one sheet, by its place in the workbook's order.
struct SheetRows {
    std::size_t sheet = 0;
    std::vector<std::vector<RowCell>> rows;
};

// Reads `size` bytes of the file at `offset`; false where it cannot.
using FileReader = std::function<bool(std::uint64_t offset, std::size_t size, std::string& bytes)>;

// Where rows can go into a workbook file without writing it anew: below
// the last row of any of its sheets, the stream at the end of the file
// (FORMAT.md, "Adding rows in place"). A sheet grows into the room after it
// up to the next sheet in the stream; one without room left moves to the
// end of the stream first. Found once in a file read whole; from then on
// it keeps the few sectors an append changes or checks, and reads the rest
// it needs through the caller.
class AppendSite {
public:
    // Whether rows can go into the file in place; `workbook` is what
    // readWorkbookFile made of the same bytes.
    static bool find(std::string_view file, const Workbook& workbook, AppendSite& site);

    // The sheets in the workbook's order.
    std::size_t sheetCount() const { return sheets_.size(); }
    const std::u16string& sheetName(std::size_t sheet) const { return sheets_[sheet].name; }
    // Whether the sheet has a first row to name its columns.
    bool takesRows(std::size_t sheet) const { return !sheets_[sheet].heads.empty(); }
    // The column that a text of the sheet's first row heads; the first,
    // where the text is there twice.
    bool columnOf(std::size_t sheet, std::u16string_view head, std::uint16_t& column) const;
    std::uint32_t nextRow(std::size_t sheet) const { return sheets_[sheet].nextRow; }

    // The longest text of a cell added in place.
    static constexpr std::size_t maxText = 255;

    // The file as the site knows it: its size, and the sectors it keeps, by
    // offset. A file that differs in any of them is not the one the site
    // was found in, or was changed since.
    std::uint64_t fileSize() const { return (std::uint64_t{sectorCount_} + 1) * sectorSize; }
    std::vector<std::pair<std::uint64_t, std::string_view>> keptSectors() const;

    enum class Result { added, tooLarge, unreadable };
    // Adds rows below the last of their sheets: each row's cells ordered by
    // column, none empty, none longer than maxText. Gives the edits, in the
    // order of their offsets, and the file's size after them; from then on
    // the site knows the file as the edits leave it. `read` gives the bytes
    // of the file the site does not keep. tooLarge (a sheet would pass its
    // 65,536 rows, the stream 2 GiB) or unreadable leave the site unchanged.
    Result append(const std::vector<SheetRows>& rows, const FileReader& read, std::vector<FileEdit>& edits,
                  std::uint64_t& size);

    static constexpr std::uint64_t sectorSize = 512;

private:
    // A sheet's place in the stream (offsets in the stream) and what it holds.
    struct SheetPlace {
        std::u16string name;
        std::vector<std::pair<std::u16string, std::uint16_t>> heads;
        std::uint32_t nextRow = 0;
        // Its DIMENSIONS: rows and columns from the first to past the last.
        std::uint32_t firstRow = 0;
        std::uint16_t firstColumn = 0;
        std::uint16_t endColumn = 0;
        std::uint64_t positionAt = 0;  // of the position in its BOUNDSHEET
        std::uint64_t bofAt = 0;
        std::uint64_t dimensionsAt = 0;  // of its body
        std::uint64_t closingAt = 0;     // of its closing records
        std::string closing;             // WINDOW2 and EOF
        std::uint64_t end() const { return closingAt + closing.size(); }
    };

    std::size_t lastInStream() const;
    std::uint64_t roomEnd(std::size_t sheet) const;
    void moveToTheEnd(std::size_t sheet);
    void growTo(std::uint64_t streamSize);
    std::string readStream(std::uint64_t from, std::uint64_t to);
    std::vector<std::uint64_t> neededSectors() const;
    std::string& sectorAt(std::uint64_t offset);
    std::uint64_t fileOffset(std::uint64_t streamOffset) const;
    void put(std::uint64_t offset, std::string_view bytes);
    void putU32At(std::uint64_t offset, std::uint32_t value);
    void putStream(std::uint64_t streamOffset, std::string_view bytes);
    void putFat(std::uint32_t sector, std::uint32_t value);

    std::vector<SheetPlace> sheets_;
    std::uint64_t streamSize_ = 0;
    std::uint64_t sizeFieldAt_ = 0;  // of the stream's size in its directory entry, in the file
    std::uint32_t sectorCount_ = 0;  // after the header
    std::vector<std::uint32_t> chain_;
    std::vector<std::uint32_t> fatSectors_;
    std::vector<std::uint32_t> difatSectors_;
    // Whole sectors by their offset in the file; the header is the one at 0.
    std::map<std::uint64_t, std::string> kept_;
    // While an append runs: the sectors of the file read for it, as they
    // were, and how to read more.
    std::map<std::uint64_t, std::string>* original_ = nullptr;
    const FileReader* read_ = nullptr;
    bool unreadable_ = false;
};

}  // namespace quelvar::xls
