#pragma once
#include <map>
#include <string>
#include <string_view>

namespace quelvar {

// Every key of a record text mapped to its value, compared exactly and
// case-sensitively; "HEAD" holds the head. The collector itself reads
// records as Record (message/record.h); this whole map serves the tools and
// the tests.
using FieldMap = std::map<std::wstring, std::wstring, std::less<>>;

// The value of a key, or empty text when the map lacks it.
const std::wstring& fieldValue(const FieldMap& fields, std::wstring_view key);

// Cuts "head:key=value&key=value&..." into the map. An empty text leaves the
// map as it was; otherwise the map is cleared first.
void parseFieldMap(std::wstring_view text, FieldMap& fields);

}  // namespace quelvar
