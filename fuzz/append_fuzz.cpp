// Rows added in place to a workbook file as it may lie on disk: whatever the
// file holds, a file that takes rows in place (for any of its sheets, which
// may move to the end of the stream) reads afterwards with every cell it had
// and the new rows below, and takes further rows in place.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "xls/append.h"
#include "xls/workbook_file.h"

namespace {

using namespace quelvar::xls;

std::string text(const Workbook& workbook, const Cell& cell) {
    if (cell.kind != CellKind::text) {
        char bytes[sizeof cell.value];
        std::memcpy(bytes, &cell.value, sizeof bytes);
        return std::string(1, static_cast<char>(cell.kind)) + std::string(bytes, sizeof bytes);
    }
    const std::u16string& value = workbook.strings[cell.text];
    return std::string(reinterpret_cast<const char*>(value.data()), value.size() * 2);
}

// The cells of each sheet, as comparable text, row by row.
std::vector<std::vector<std::string>> cellsOf(const Workbook& workbook) {
    std::vector<std::vector<std::string>> sheets;
    for (const Sheet& sheet : workbook.sheets) {
        std::vector<std::string>& cells = sheets.emplace_back();
        cells.push_back(std::string(reinterpret_cast<const char*>(sheet.name.data()), sheet.name.size() * 2));
        for (const Cell& cell : sheet.cells)
            cells.push_back(std::to_string(cell.row) + ":" + std::to_string(cell.column) + "=" + text(workbook, cell));
    }
    return sheets;
}

std::string applied(std::string file, const std::vector<FileEdit>& edits, std::uint64_t size) {
    for (const FileEdit& edit : edits) {
        if (file.substr(std::min<std::size_t>(edit.offset, file.size()), edit.bytes.size()) != edit.before)
            __builtin_trap();
        if (edit.offset + edit.bytes.size() > file.size()) file.resize(edit.offset + edit.bytes.size(), '\0');
        file.replace(edit.offset, edit.bytes.size(), edit.bytes);
    }
    if (file.size() != size) __builtin_trap();
    return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string file(reinterpret_cast<const char*>(data), size);
    Workbook workbook;
    std::string why;
    AppendSite site;
    if (readWorkbookFile(file, workbook, why) != FileReadResult::ok || !AppendSite::find(file, workbook, site)) return 0;
    // Rows from the file's last bytes: some narrow, some wide, some empty cells.
    std::vector<std::vector<RowCell>> rows(1 + data[size - 1] % 3);
    for (std::size_t r = 0; r < rows.size(); ++r)
        for (std::uint16_t column = 0; column < 8; ++column) {
            const std::uint8_t seed = data[(size - 1 - r * 8 - column) % size];
            if (seed % 5 == 0) continue;
            rows[r].push_back({static_cast<std::uint16_t>(column * (1 + seed % 3)),
                               std::u16string(seed % 40, static_cast<char16_t>(seed % 2 ? u'数' + seed : u'a' + seed % 26))});
        }
    std::string changed = file;
    std::vector<std::vector<std::string>> expected = cellsOf(workbook);
    const FileReader read = [&changed](std::uint64_t offset, std::size_t count, std::string& bytes) {
        if (offset > changed.size() || count > changed.size() - offset) return false;
        bytes = changed.substr(offset, count);
        return true;
    };
    for (int time = 0; time < 2; ++time) {
        if (site.sheetCount() == 0) return 0;
        // Any sheet, from the file's first byte: an earlier one moves.
        const std::size_t sheet = (data[0] + time) % site.sheetCount();
        std::vector<FileEdit> edits;
        std::uint64_t newSize = 0;
        const std::uint32_t first = site.nextRow(sheet);
        if (site.append({SheetRows{sheet, rows}}, read, edits, newSize) != AppendSite::Result::added) return 0;
        changed = applied(changed, edits, newSize);
        Workbook after;
        if (readWorkbookFile(changed, after, why) != FileReadResult::ok) __builtin_trap();
        // The new rows are their sheet's last cells.
        std::uint32_t row = first;
        std::vector<std::string> added;
        for (const std::vector<RowCell>& cells : rows) {
            if (cells.empty()) continue;
            for (const RowCell& cell : cells)
                added.push_back(std::to_string(row) + ":" + std::to_string(cell.column) + "=" +
                                std::string(reinterpret_cast<const char*>(cell.text.data()), cell.text.size() * 2));
            ++row;
        }
        expected[sheet].insert(expected[sheet].end(), added.begin(), added.end());
        if (cellsOf(after) != expected) __builtin_trap();
        AppendSite again;
        if (!AppendSite::find(changed, after, again) || again.nextRow(sheet) != site.nextRow(sheet)) __builtin_trap();
    }
    return 0;
}
