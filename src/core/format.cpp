#include "core/format.h"


namespace quelvar {

namespace {

struct Conversion {
    bool leftAlign = false;
    bool zeroPad = false;
    bool plusSign = false;
    bool spaceSign = false;
    long long width = -1;
    long long precision = -1;
};

template <class Char>
void pad(std::basic_string<Char>& out, long long count, Char filler) {
    if (count > 0) out.append(static_cast<std::size_t>(count), filler);
}

template <class Char>
void appendField(std::basic_string<Char>& out, const Conversion& conversion, std::basic_string_view<Char> body) {
    const long long gap = conversion.width - static_cast<long long>(body.size());
    if (!conversion.leftAlign) pad(out, gap, Char(' '));
    out.append(body);
    if (conversion.leftAlign) pad(out, gap, Char(' '));
}

template <class Char>
void appendNumber(std::basic_string<Char>& out, const Conversion& conversion, long long value, Char kind) {
    const bool isSigned = kind == Char('d') || kind == Char('i');
    unsigned long long magnitude = 0;
    std::basic_string<Char> sign;
    if (isSigned) {
        magnitude = value < 0 ? 0ULL - static_cast<unsigned long long>(value) : static_cast<unsigned long long>(value);
        if (value < 0) sign = Char('-');
        else if (conversion.plusSign) sign = Char('+');
        else if (conversion.spaceSign) sign = Char(' ');
    } else {
        // Unsigned conversions see the value as the 32 bits of an int.
        magnitude = static_cast<unsigned int>(value);
    }
    const unsigned base = (kind == Char('x') || kind == Char('X')) ? 16 : kind == Char('o') ? 8 : 10;
    const char* digitsOf = kind == Char('X') ? "0123456789ABCDEF" : "0123456789abcdef";
    std::basic_string<Char> digits;
    for (unsigned long long rest = magnitude; rest != 0; rest /= base)
        digits.insert(digits.begin(), Char(digitsOf[rest % base]));
    if (conversion.precision < 0 && digits.empty()) digits = Char('0');
    if (static_cast<long long>(digits.size()) < conversion.precision)
        digits.insert(0, static_cast<std::size_t>(conversion.precision - static_cast<long long>(digits.size())), Char('0'));
    if (conversion.zeroPad && !conversion.leftAlign && conversion.precision < 0) {
        const long long gap = conversion.width - static_cast<long long>(sign.size() + digits.size());
        if (gap > 0) digits.insert(0, static_cast<std::size_t>(gap), Char('0'));
    }
    appendField(out, conversion, std::basic_string_view<Char>(sign + digits));
}

template <class Char>
std::basic_string<Char> format(std::basic_string_view<Char> text, std::initializer_list<FormatArgument<Char>> list) {
    const FormatArgument<Char>* arguments = list.begin();
    const std::size_t argumentCount = list.size();
    std::size_t next = 0;
    // A missing or mismatched argument reads as 0 or empty text: a wrong
    // format must never read beyond what was passed.
    auto number = [&]() -> long long {
        if (next >= argumentCount) return 0;
        const auto& argument = arguments[next++];
        return argument.isText ? 0 : argument.number;
    };
    auto words = [&]() -> std::basic_string_view<Char> {
        if (next >= argumentCount) return {};
        const auto& argument = arguments[next++];
        return argument.isText ? argument.text : std::basic_string_view<Char>();
    };

    std::basic_string<Char> out;
    out.reserve(text.size() + 64);
    std::size_t position = 0;
    while (position < text.size()) {
        const Char current = text[position];
        if (current != Char('%')) {
            out.push_back(current);
            ++position;
            continue;
        }
        const std::size_t start = position++;
        Conversion conversion;
        for (; position < text.size(); ++position) {
            const Char flag = text[position];
            if (flag == Char('-')) conversion.leftAlign = true;
            else if (flag == Char('0')) conversion.zeroPad = true;
            else if (flag == Char('+')) conversion.plusSign = true;
            else if (flag == Char(' ')) conversion.spaceSign = true;
            else break;
        }
        auto readCount = [&]() -> long long {
            if (position < text.size() && text[position] == Char('*')) {
                ++position;
                return number();
            }
            long long value = 0;
            while (position < text.size() && text[position] >= Char('0') && text[position] <= Char('9')) {
                if (value < 1000000000) value = value * 10 + (text[position] - Char('0'));
                ++position;
            }
            return value;
        };
        if (position < text.size() && (text[position] == Char('*') || (text[position] >= Char('1') && text[position] <= Char('9')))) {
            conversion.width = readCount();
            if (conversion.width < 0) {
                conversion.leftAlign = true;
                conversion.width = -conversion.width;
            }
        }
        if (position < text.size() && text[position] == Char('.')) {
            ++position;
            conversion.precision = readCount();
            if (conversion.precision < 0) conversion.precision = -1;
        }
        while (position < text.size() && (text[position] == Char('l') || text[position] == Char('h') ||
                                          text[position] == Char('z') || text[position] == Char('j') ||
                                          text[position] == Char('t') || text[position] == Char('L')))
            ++position;
        if (position >= text.size()) {
            out.append(text.substr(start));
            break;
        }
        const Char kind = text[position++];
        switch (static_cast<char32_t>(kind)) {
            case U'%':
                out.push_back(Char('%'));
                break;
            case U'd': case U'i': case U'u': case U'x': case U'X': case U'o':
                appendNumber(out, conversion, number(), kind);
                break;
            case U'c': {
                const Char single = static_cast<Char>(number());
                appendField(out, conversion, std::basic_string_view<Char>(&single, 1));
                break;
            }
            case U's': {
                std::basic_string_view<Char> value = words();
                if (conversion.precision >= 0 && static_cast<std::size_t>(conversion.precision) < value.size())
                    value = value.substr(0, static_cast<std::size_t>(conversion.precision));
                appendField(out, conversion, value);
                break;
            }
            default:
                out.append(text.substr(start, position - start));
                break;
        }
    }
    return out;
}

}  // namespace

std::wstring formatList(std::wstring_view text, std::initializer_list<FormatArgument<wchar_t>> arguments) {
    return format<wchar_t>(text, arguments);
}

std::string formatList(std::string_view text, std::initializer_list<FormatArgument<char>> arguments) {
    return format<char>(text, arguments);
}

}  // namespace quelvar
