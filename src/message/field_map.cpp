#include "message/field_map.h"

#include "message/record_syntax.h"

namespace quelvar {

const std::wstring& fieldValue(const FieldMap& fields, std::wstring_view key) {
    static const std::wstring empty;
    const auto found = fields.find(key);
    return found == fields.end() ? empty : found->second;
}

void parseFieldMap(std::wstring_view text, FieldMap& fields) {
    if (text.empty()) return;
    fields.clear();
    const auto set = [&](std::wstring_view key, std::wstring_view value) {
        fields.insert_or_assign(std::wstring(key), std::wstring(value));
    };
    readRecordSyntax(text, [&](std::wstring_view head) { set(L"HEAD", head); }, set);
}

}  // namespace quelvar
