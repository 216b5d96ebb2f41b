#include "core/address_range.h"

namespace quelvar {

namespace {

// A decimal number of one to three digits up to `largest`, read from the front.
bool readNumber(std::string_view& text, unsigned largest, unsigned& value) {
    std::size_t digits = 0;
    value = 0;
    while (digits < text.size() && digits < 3 && text[digits] >= '0' && text[digits] <= '9')
        value = value * 10 + static_cast<unsigned>(text[digits++] - '0');
    text.remove_prefix(digits);
    return digits > 0 && value <= largest;
}

}  // namespace

bool parseAddressRange(std::string_view text, AddressRange& range) {
    std::uint32_t address = 0;
    for (int part = 0; part < 4; ++part) {
        unsigned number = 0;
        if (part > 0) {
            if (text.empty() || text.front() != '.') return false;
            text.remove_prefix(1);
        }
        if (!readNumber(text, 255, number)) return false;
        address = address << 8 | number;
    }
    unsigned prefix = 32;
    if (!text.empty()) {
        if (text.front() != '/') return false;
        text.remove_prefix(1);
        if (!readNumber(text, 32, prefix) || !text.empty()) return false;
    }
    range.mask = prefix == 0 ? 0 : ~std::uint32_t{0} << (32 - prefix);
    range.network = address & range.mask;
    return true;
}

std::string addressRangeText(const AddressRange& range) {
    unsigned prefix = 0;
    for (std::uint32_t mask = range.mask; mask != 0; mask <<= 1) ++prefix;
    std::string text;
    for (int shift = 24; shift >= 0; shift -= 8) {
        text += std::to_string(range.network >> shift & 0xFF);
        text += shift > 0 ? "." : "/";
    }
    return text + std::to_string(prefix);
}

}  // namespace quelvar
