#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace quelvar::xls::biff {

// Pieces of the workbook stream as biff_write.cpp writes them, for adding
// rows in place (append.h): to know a workbook of its own, and to add rows
// as its writer would.

// The globals from their BOF up to the first BOUNDSHEET.
std::string globalsHead();
// A worksheet from its BOF up to its DIMENSIONS.
std::string worksheetHead();

void putRowRecord(std::string& out, std::uint32_t rowNumber, unsigned firstColumn, unsigned endColumn);
// A LABEL record: a text cell in the default cell format, its text (at
// most 255 characters) in the record itself.
void putLabelRecord(std::string& out, std::uint32_t rowNumber, std::uint16_t column, std::u16string_view text);

}  // namespace quelvar::xls::biff
