#pragma once
#include <cstdio>
#include <string>

#include "core/text.h"
#include "store/biff_workbook.h"
#include "store/compound_file.h"
#include "store/utf16.h"
#include "support/temp_folder.h"

namespace quelvar {

// A workbook as text, read by the collector's own reader: "sheet <name>"
// and then one line per row (rows without cells too), cells parted by "|";
// numbers start with "#", booleans with "?", errors with "!".
inline std::string dumpWorkbook(const Workbook& workbook) {
    std::string out;
    for (const Sheet& sheet : workbook.sheets) {
        out += "sheet " + toAnsi(fromUtf16(sheet.name)) + (sheet.visibility != 0 ? " hidden\n" : "\n");
        std::uint32_t row = 0;
        std::uint16_t column = 0;
        for (const Cell& cell : sheet.cells) {
            for (; row < cell.row; ++row, column = 0) out += "\n";
            for (; column < cell.column; ++column) out += "|";
            char number[40];
            switch (cell.kind) {
                case CellKind::text:
                    out += toAnsi(fromUtf16(workbook.strings[cell.text]));
                    break;
                case CellKind::number:
                    std::snprintf(number, sizeof number, "#%.17g", cell.value);
                    out += number;
                    break;
                case CellKind::boolean:
                case CellKind::error:
                    std::snprintf(number, sizeof number, "%c%d", cell.kind == CellKind::boolean ? '?' : '!',
                                  static_cast<int>(cell.value));
                    out += number;
                    break;
            }
        }
        if (!sheet.cells.empty()) out += "\n";
    }
    return out;
}

inline std::string dumpWorkbookFile(const std::filesystem::path& path) {
    std::string stream;
    if (readCompoundStream(readBytes(path), u"Workbook", stream) != CompoundReadResult::ok) return "no workbook";
    Workbook workbook;
    WorkbookError error;
    if (!readBiffWorkbook(stream, workbook, error)) return "damaged workbook: " + toAnsi(error.message);
    return dumpWorkbook(workbook);
}

}  // namespace quelvar
