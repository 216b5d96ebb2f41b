#include "message/field_map.h"

namespace quelvar {

const std::wstring& fieldValue(const FieldMap& fields, std::wstring_view key) {
    static const std::wstring empty;
    const auto found = fields.find(key);
    return found == fields.end() ? empty : found->second;
}

void parseFieldMap(std::wstring_view text, FieldMap& fields) {
    if (text.empty()) return;
    fields.clear();
    constexpr auto none = std::wstring_view::npos;

    // A head exists only when its ':' stands before the first '='; both are
    // searched from the second character on.
    const std::size_t equals = text.find(L'=', 1);
    const std::size_t colon = text.find(L':', 1);
    std::size_t pair = 0;
    if (colon != none && equals != none && colon < equals) {
        fields.insert_or_assign(std::wstring(L"HEAD"), std::wstring(text.substr(0, colon)));
        pair = colon + 1;
    }

    while (pair < text.size()) {
        const std::size_t keyEnd = text.find(L'=', pair + 1);
        if (keyEnd == none) return;
        const std::size_t valueEnd = text.find(L'&', keyEnd + 1);
        const std::size_t valueLength = valueEnd == none ? none : valueEnd - keyEnd - 1;
        fields.insert_or_assign(std::wstring(text.substr(pair, keyEnd - pair)),
                                std::wstring(text.substr(keyEnd + 1, valueLength)));
        if (valueEnd == none) return;
        pair = valueEnd + 1;
    }
}

}  // namespace quelvar
