#pragma once
#include <string>

#include "message/field_map.h"

namespace quelvar {

// Files a record without a MAC as one row of the month's workbook.
void exportToWorkbook(const FieldMap& fields, const std::wstring& programDir, const std::wstring& origin);

}  // namespace quelvar
