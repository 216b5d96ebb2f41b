#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace quelvar::xls {

// What the collector keeps of a workbook: every sheet's name and its cells'
// values. Formats, formulas and drawings of a workbook that another program
// saved are not kept; a formula's last result is kept as its value.

enum class CellKind : std::uint8_t { text, number, boolean, error };

struct Cell {
    std::uint32_t row = 0;
    std::uint16_t column = 0;
    CellKind kind = CellKind::text;
    std::uint32_t text = 0;  // index into Workbook::strings for text cells
    double value = 0;        // number; 0 or 1 for a boolean; the error's code
};

struct Sheet {
    std::u16string name;
    std::uint8_t visibility = 0;  // 0 shown, 1 hidden, 2 hidden from the menu too
    std::vector<Cell> cells;      // ordered by row, then column, each place once
};

struct Workbook {
    std::vector<std::u16string> strings;
    std::vector<Sheet> sheets;
};

constexpr std::uint32_t maxRows = 65536;
constexpr std::uint16_t maxColumns = 256;
constexpr std::size_t maxCellText = 32767;
constexpr std::size_t maxSheetName = 31;

// The sheet of that name, compared as Excel does, without regard to case;
// null when there is none.
Sheet* findSheet(Workbook& workbook, std::u16string_view name);

// Adds a text to the shared ones; gives its index.
std::uint32_t addString(Workbook& workbook, std::u16string text);

// Puts cells read in any order into row and column order; where a place
// was given twice the later cell wins.
void orderCells(Sheet& sheet);

}  // namespace quelvar::xls
