#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace quelvar {

// The two statements the workbook driver understands:
//   CREATE TABLE "sheet"("column" TEXT, ...)
//   INSERT INTO "sheet"("column", ...) VALUES('value', ...)
// Keywords in any case; names in double quotes (a doubled one stands for
// itself) or bare; values in single quotes, a doubled one standing for one.
struct WorkbookStatement {
    enum class Kind { createSheet, insertRow } kind = Kind::createSheet;
    std::wstring sheet;
    std::vector<std::wstring> columns;
    std::vector<std::wstring> values;  // insertRow only
};

// False for any other text; `statement` is then unspecified.
bool parseWorkbookStatement(std::wstring_view text, WorkbookStatement& statement);

}  // namespace quelvar
