#pragma once
#include <string>

#include "message/field_map.h"

namespace quelvar {

// Files one record of a switch into its daily files under the data root
// (or <programDir>/rec): a record with COUNT as a text and a CSV line under
// <mac>/new, one without as a text line under <mac>/old, one lacking a
// required field under the err tree. False when its text line could not be
// written (logged with the file and the reason): it must not be
// acknowledged. A record held back by the type filter counts as written.
bool storeRecord(const FieldMap& fields, const std::wstring& mac);

}  // namespace quelvar
