#pragma once
#include <string>

#include "message/field_map.h"

namespace quelvar {

// Files one record of a switch into its daily record files. False when the
// record could not be written and must not be acknowledged.
bool storeRecord(const FieldMap& fields, const std::wstring& mac);

}  // namespace quelvar
