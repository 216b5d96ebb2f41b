#include "core/numbers.h"

#include <limits>

namespace quelvar {

namespace {

template <class Char>
long long readLeadingInteger(std::basic_string_view<Char> text) {
    std::size_t position = 0;
    auto isSpace = [](Char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; };
    while (position < text.size() && isSpace(text[position])) ++position;
    bool negative = false;
    if (position < text.size() && (text[position] == '+' || text[position] == '-')) negative = text[position++] == '-';
    constexpr long long largest = std::numeric_limits<long long>::max();
    long long value = 0;
    for (; position < text.size() && text[position] >= '0' && text[position] <= '9'; ++position) {
        const int digit = static_cast<int>(text[position] - '0');
        value = value > (largest - digit) / 10 ? largest : value * 10 + digit;
    }
    return negative ? -value : value;
}

}  // namespace

long long leadingInteger(std::wstring_view text) { return readLeadingInteger(text); }

long long leadingInteger(std::string_view text) { return readLeadingInteger(text); }

}  // namespace quelvar
