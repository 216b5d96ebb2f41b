#pragma once
#include <cstdio>
#include <string>
#include <string_view>

#include "support/temp_folder.h"
#include "xls/workbook_file.h"

namespace quelvar::xls {

// The workbook's UTF-16 text as UTF-8.
inline std::string utf8Of(std::u16string_view text) {
    std::string out;
    for (std::size_t index = 0; index < text.size(); ++index) {
        char32_t code = text[index];
        if (code >= 0xD800 && code < 0xDC00 && index + 1 < text.size())
            code = 0x10000 + ((code - 0xD800) << 10) + (static_cast<char32_t>(text[++index]) - 0xDC00);
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return out;
}

// A workbook as text, read by the collector's own reader: "sheet <name>"
// and then one line per row (rows without cells too), cells parted by "|";
// numbers start with "#", booleans with "?", errors with "!".
inline std::string dumpWorkbook(const Workbook& workbook) {
    std::string out;
    for (const Sheet& sheet : workbook.sheets) {
        out += "sheet " + utf8Of(sheet.name) + (sheet.visibility != 0 ? " hidden\n" : "\n");
        std::uint32_t row = 0;
        std::uint16_t column = 0;
        for (const Cell& cell : sheet.cells) {
            for (; row < cell.row; ++row, column = 0) out += "\n";
            for (; column < cell.column; ++column) out += "|";
            char number[40];
            switch (cell.kind) {
                case CellKind::text:
                    out += utf8Of(workbook.strings[cell.text]);
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
    Workbook workbook;
    std::string why;
    switch (readWorkbookFile(readBytes(path), workbook, why)) {
        case FileReadResult::ok: return dumpWorkbook(workbook);
        case FileReadResult::damagedWorkbook: return "damaged workbook: " + why;
        default: return "no workbook";
    }
}

// The whole file of a workbook at once.
inline std::string workbookFileBytes(const Workbook& workbook) {
    const WorkbookFile file = writeWorkbookFile(workbook);
    return file.head + file.stream + file.tail;
}

}  // namespace quelvar::xls
