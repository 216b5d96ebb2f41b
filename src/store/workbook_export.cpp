#include "store/workbook_export.h"

namespace quelvar {

void exportToWorkbook(const FieldMap&, const std::wstring&, const std::wstring&) {}

}  // namespace quelvar
