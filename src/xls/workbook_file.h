#pragma once
#include <string>
#include <string_view>

#include "xls/workbook.h"

namespace quelvar::xls {

// A whole Excel 97-2003 file: a compound document whose "Workbook" stream
// holds the workbook's records (FORMAT.md says what is read and written).

enum class FileReadResult {
    ok,
    notCompoundFile,   // no compound document signature: no Excel 97-2003 file at all
    damagedContainer,  // the container is cut short or inconsistent
    olderVersion,      // an Excel 5.0/95 workbook ("Book" stream)
    noWorkbook,        // the container holds no workbook stream
    damagedWorkbook,   // the workbook's records are cut short, inconsistent or of another version
    encrypted,         // protected by a password
};

// Reads every sheet's values. For a damaged workbook `why` says what is
// wrong. It never reads outside `file`, whatever the file holds.
FileReadResult readWorkbookFile(std::string_view file, Workbook& workbook, std::string& why);

// The file of a workbook, in three pieces that are written one after the
// other: the container's bytes before the stream, the stream, and after.
struct WorkbookFile {
    std::string head;
    std::string stream;
    std::string tail;
};
WorkbookFile writeWorkbookFile(const Workbook& workbook);

}  // namespace quelvar::xls
