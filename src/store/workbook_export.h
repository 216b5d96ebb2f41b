#pragma once
#include <string>

#include "core/time.h"
#include "message/field_map.h"

namespace quelvar {

// Files a record without a MAC as one row of the month's workbook
// <programDir>/rec[/<origin>]/<YYYY><MM>.xls, in the sheet of its day. A
// failure is one "ERROR   XLS-..." line in the event log.
void exportToWorkbook(const FieldMap& fields, const std::wstring& programDir, const std::wstring& origin);

// The same at a given moment of the clock.
void exportToWorkbook(const FieldMap& fields, const std::wstring& programDir, const std::wstring& origin,
                      const CalendarTime& now);

}  // namespace quelvar
