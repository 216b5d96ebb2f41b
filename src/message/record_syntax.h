#pragma once
#include <string_view>

namespace quelvar {

// The record syntax, "head:key=value&key=value&...", read the one way every
// reader of it must: `onHead(head)` once when the text has a head, then
// `onPair(key, value)` for each pair in order. A head exists only when its
// ':' stands before the first '='; both are searched from the second
// character on. A key runs to the next '=' searched from its own second
// character (so it is never empty), a value to the next '&' or the end of
// the text; what follows the last '=' without a key is ignored. Nothing
// escapes '&', so a segment without '=' becomes the front of the next key.
template <class OnHead, class OnPair>
void readRecordSyntax(std::wstring_view text, OnHead&& onHead, OnPair&& onPair) {
    constexpr auto none = std::wstring_view::npos;
    if (text.empty()) return;
    const std::size_t equals = text.find(L'=', 1);
    const std::size_t colon = text.find(L':', 1);
    std::size_t pair = 0;
    if (colon != none && equals != none && colon < equals) {
        onHead(text.substr(0, colon));
        pair = colon + 1;
    }
    while (pair < text.size()) {
        const std::size_t keyEnd = text.find(L'=', pair + 1);
        if (keyEnd == none) return;
        const std::size_t valueEnd = text.find(L'&', keyEnd + 1);
        onPair(text.substr(pair, keyEnd - pair),
               text.substr(keyEnd + 1, valueEnd == none ? none : valueEnd - keyEnd - 1));
        if (valueEnd == none) return;
        pair = valueEnd + 1;
    }
}

}  // namespace quelvar
