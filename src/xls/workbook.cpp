#include "xls/workbook.h"

#include <algorithm>

namespace quelvar::xls {

namespace {

char16_t upper(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; }

bool sameName(std::u16string_view a, std::u16string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char16_t x, char16_t y) { return upper(x) == upper(y); });
}

bool before(const Cell& a, const Cell& b) { return a.row != b.row ? a.row < b.row : a.column < b.column; }

}  // namespace

Sheet* findSheet(Workbook& workbook, std::u16string_view name) {
    for (Sheet& sheet : workbook.sheets)
        if (sameName(sheet.name, name)) return &sheet;
    return nullptr;
}

std::uint32_t addString(Workbook& workbook, std::u16string text) {
    workbook.strings.push_back(std::move(text));
    return static_cast<std::uint32_t>(workbook.strings.size() - 1);
}

void orderCells(Sheet& sheet) {
    std::vector<Cell>& cells = sheet.cells;
    const auto outOfOrder = [](const Cell& a, const Cell& b) { return !before(a, b); };
    if (std::adjacent_find(cells.begin(), cells.end(), outOfOrder) == cells.end()) return;
    std::stable_sort(cells.begin(), cells.end(), before);
    // Of cells at one place keep the last.
    std::vector<Cell> kept;
    kept.reserve(cells.size());
    for (const Cell& cell : cells) {
        if (!kept.empty() && !before(kept.back(), cell))
            kept.back() = cell;
        else
            kept.push_back(cell);
    }
    cells.swap(kept);
}

}  // namespace quelvar::xls
