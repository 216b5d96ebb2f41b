#pragma once
#include <string>
#include <string_view>

#include "store/workbook.h"
#include "store/workbook_error.h"

namespace quelvar {

// The records of an Excel 97-2003 workbook (BIFF8), the contents of the
// compound document's "Workbook" stream.

// Reads the values of every worksheet: shared and inline text, numbers in
// all their record forms, booleans, errors and formula results. False, with
// the reason, for a stream that is cut short, inconsistent, of another
// version or protected by a password; it never reads outside `stream`.
bool readBiffWorkbook(std::string_view stream, Workbook& workbook, WorkbookError& error);

// Writes the workbook with every cell in the default format, text in the
// shared string table.
std::string writeBiffWorkbook(const Workbook& workbook);

}  // namespace quelvar
