#pragma once
#include <map>
#include <string>
#include <string_view>

namespace quelvar {

// Record keys mapped to their values. Keys compare exactly and
// case-sensitively; "HEAD" holds the message head.
using FieldMap = std::map<std::wstring, std::wstring, std::less<>>;

// The value of a key, or empty text when the map lacks it.
const std::wstring& fieldValue(const FieldMap& fields, std::wstring_view key);

// Cuts "head:key=value&key=value&..." into the map. An empty text leaves the
// map as it was; otherwise the map is cleared first. Heads, keys and values
// are kept whole, whatever their length.
void parseFieldMap(std::wstring_view text, FieldMap& fields);

}  // namespace quelvar
