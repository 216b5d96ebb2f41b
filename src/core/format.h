#pragma once
#include <initializer_list>
#include <string>
#include <string_view>
#include <type_traits>

namespace quelvar {

// One argument of a printf-style format: a whole number or a text of the
// format's own character type.
template <class Char>
struct FormatArgument {
    bool isText = false;
    long long number = 0;
    std::basic_string_view<Char> text;

    template <class Integer, std::enable_if_t<std::is_integral_v<Integer>, int> = 0>
    FormatArgument(Integer value) : number(static_cast<long long>(value)) {}
    FormatArgument(std::basic_string_view<Char> value) : isText(true), text(value) {}
    FormatArgument(const std::basic_string<Char>& value) : isText(true), text(value) {}
    FormatArgument(const Char* value) : isText(true), text(value) {}
};

// printf-style formatting with no length limit: flags "-", "0", "+", " ",
// width and precision (also as "*"), conversions d i u x X o c s %. "%s"
// takes a text of the format's character type; a width pads without
// cutting, a precision cuts text.
std::wstring formatList(std::wstring_view format, std::initializer_list<FormatArgument<wchar_t>> arguments);
std::string formatList(std::string_view format, std::initializer_list<FormatArgument<char>> arguments);

template <class... Arguments>
std::wstring formatText(std::wstring_view format, const Arguments&... arguments) {
    return formatList(format, {FormatArgument<wchar_t>(arguments)...});
}

// The same for 8-bit text: widths count bytes.
template <class... Arguments>
std::string formatBytes(std::string_view format, const Arguments&... arguments) {
    return formatList(format, {FormatArgument<char>(arguments)...});
}

}  // namespace quelvar
