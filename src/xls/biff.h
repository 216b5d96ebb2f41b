#pragma once
#include <string>
#include <string_view>

#include "xls/workbook.h"

namespace quelvar::xls {

// The records of an Excel 97-2003 workbook (BIFF8): the contents of the
// compound document's "Workbook" stream.

enum class BiffReadResult { ok, damaged, encrypted };

// Reads the values of every worksheet: shared and inline text, numbers in
// all their record forms, booleans, errors and formula results. For a stream
// that is cut short, inconsistent, of another version or protected by a
// password, `why` says what is wrong. It never reads outside `stream`.
BiffReadResult readBiffWorkbook(std::string_view stream, Workbook& workbook, std::string& why);

// Writes the workbook with every cell in the default format, text in the
// shared string table.
std::string writeBiffWorkbook(const Workbook& workbook);

}  // namespace quelvar::xls
