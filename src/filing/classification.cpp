#include "filing/classification.h"

#include "core/text.h"
#include "platform/files.h"

namespace quelvar {

namespace {

// One read of the list holds at most this many characters.
constexpr std::size_t entryPieceBytes = 31;

bool entryMatches(std::string_view entry, std::string_view number) {
    const std::size_t wildcard = entry.find('x');
    if (wildcard == std::string_view::npos) return entry == number;
    return number.starts_with(entry.substr(0, wildcard));
}

bool isOneOf(wchar_t c, std::wstring_view set) { return set.find(c) != std::wstring_view::npos; }

}  // namespace

bool Classifier::isSpecialNumber(std::string_view number) const {
    std::string contents;
    if (!platform::readFile(specialNumberFile_, contents).ok()) return false;
    // Read as text: CR LF is one line feed.
    std::string text;
    text.reserve(contents.size());
    for (std::size_t index = 0; index < contents.size(); ++index)
        if (!(contents[index] == '\r' && index + 1 < contents.size() && contents[index + 1] == '\n'))
            text.push_back(contents[index]);

    std::size_t position = 0;
    for (;;) {
        std::size_t length = std::min(entryPieceBytes, text.size() - position);
        const std::size_t feed = text.find('\n', position);
        if (feed != std::string::npos && feed < position + length) length = feed - position + 1;
        std::string_view entry(text.data() + position, length);
        position += length;
        // The read met the end of the file when it ran out of text before a
        // line feed or a full piece; the read at the very end is empty.
        const bool metEnd = length == 0 || (length < entryPieceBytes && entry.back() != '\n');
        entry = entry.substr(0, entry.find('\0'));
        const std::size_t kept = entry.find_last_not_of(" \t\r\n\v\f");
        entry = kept == std::string_view::npos ? std::string_view() : entry.substr(0, kept + 1);
        if (entryMatches(entry, number)) return true;
        if (metEnd) return false;
    }
}

std::wstring_view Classifier::classifyNumber(std::wstring_view number) const {
    if (number.starts_with(L"17951")) number.remove_prefix(5);
    if (number.starts_with(L"00")) return L"国际长途";
    if (number.size() == 11 && number[0] == L'1' && isOneOf(number[1], L"3458")) return L"市话";
    if (number.size() == 12 && number[1] == L'1' && isOneOf(number[2], L"3458")) return L"国内长途";
    if (number.starts_with(L'0')) return number.starts_with(areaCode_) ? L"市话" : L"国内长途";
    return isSpecialNumber(toOemText(number)) ? L"特服电话" : L"市话";
}

std::wstring_view Classifier::classifyTeletype(std::wstring_view route, std::wstring_view type,
                                               std::wstring_view callingNumber, std::wstring_view calledNumber) {
    if (route == L"IC")
        lastTeletype_ = L"内线";
    else if (type == L"IN")
        lastTeletype_ = classifyNumber(callingNumber);
    else if (type == L"OU")
        lastTeletype_ = classifyNumber(calledNumber);
    else if (type == L"LO")
        lastTeletype_ = L"内线";
    return lastTeletype_;
}

std::wstring_view callTypeLabel(std::wstring_view type) {
    if (type == L"IN") return L"呼入";
    if (type == L"OU") return L"呼出";
    if (type == L"FI") return L"呼叫转移入";
    if (type == L"FW") return L"呼叫转移出";
    return L"内部通话";
}

std::wstring_view routeLabel(std::wstring_view route) {
    if (route == L"IP") return L"IP中继";
    if (route == L"XO") return L"模拟中继";
    if (route == L"IC") return L"内部";
    return L"总机";
}

}  // namespace quelvar
