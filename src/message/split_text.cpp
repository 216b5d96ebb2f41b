#include "message/split_text.h"

namespace quelvar {

std::size_t splitText(std::wstring_view text, std::wstring_view delimiters, std::vector<std::wstring_view>& parts) {
    parts.clear();
    std::size_t position = 0;
    while (position < text.size()) {
        // One delimiter, as the datagram's line feed, is one search.
        const std::size_t delimiter = delimiters.size() == 1 ? text.find(delimiters[0], position)
                                                             : text.find_first_of(delimiters, position);
        if (delimiter == std::wstring_view::npos) {
            parts.emplace_back(text.substr(position));
            break;
        }
        parts.emplace_back(text.substr(position, delimiter - position));
        position = delimiter + 1;
    }
    return parts.size();
}

}  // namespace quelvar
