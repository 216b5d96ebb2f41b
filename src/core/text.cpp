#include "core/text.h"

#include "platform/codepage.h"

namespace quelvar {

std::string toGbk(std::wstring_view text) { return platform::wideToGbk(text); }

std::wstring fromGbk(std::string_view bytes) { return platform::gbkToWide(bytes); }

std::string toOemText(std::wstring_view text) {
    std::string oem = platform::wideToOem(text);
    const std::size_t ansiLength = platform::wideToAnsi(text).size();
    if (oem.size() > ansiLength) oem.resize(ansiLength);
    return oem;
}

std::string toAnsi(std::wstring_view text) { return platform::wideToAnsi(text); }

std::wstring fromAnsi(std::string_view bytes) { return platform::ansiToWide(bytes); }

}  // namespace quelvar
