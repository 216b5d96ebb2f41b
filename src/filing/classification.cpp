#include "filing/classification.h"

#include <algorithm>

#include "core/format.h"
#include "core/settings.h"
#include "core/text.h"

namespace quelvar {

namespace {

// One read of the list holds at most this many characters.
constexpr std::size_t entryPieceBytes = 31;

bool isOneOf(wchar_t c, std::wstring_view set) { return set.find(c) != std::wstring_view::npos; }

}  // namespace

Classifier::SpecialNumbers& Classifier::SpecialNumbers::operator=(const SpecialNumbers&) {
    version.reset();
    told.reset();
    taken = false;
    bytes.clear();
    text.clear();
    numbers.clear();
    prefixes.clear();
    longestPrefix = 0;
    return *this;
}

void Classifier::readSpecialNumbers() const {
    platform::FileVersion current;
    if (list_.version && platform::fileVersion(specialNumberFile_, current).ok() && current == *list_.version) return;
    std::string& contents = reading_;
    bool whole = true;
    platform::FileVersion version;
    const Status read = platform::readRegularFile(specialNumberFile_, configurationFileLimit, contents, whole, version);
    if (!read.ok()) {
        // No entry at all: every number is an ordinary one. A file that is
        // there stays refused until it changes.
        list_ = SpecialNumbers();
        if (platform::fileVersion(specialNumberFile_, current).ok()) list_.version = current;
        return;
    }
    if (!whole) {
        // An entry the limit cuts in two would be taken for another.
        contents.resize(contents.rfind('\n') == std::string::npos ? 0 : contents.rfind('\n') + 1);
        if (log_ != nullptr && list_.told != version)
            log_->writeEventLine(formatText(L"WARNING   tele.ini: the file is larger than 1 MiB (%d bytes): only the "
                                            L"entries in its first MiB count\r\n",
                                            static_cast<long long>(version.size)));
        list_.told = version;
    }
    takeSpecialNumbers(contents);
    // Changed within the file system's last tick, it may change again
    // without a new stamp: it is read again until it has settled.
    if (platform::changedLately(version)) list_.version.reset();
    else list_.version = version;
}

void Classifier::takeSpecialNumbers(std::string& contents) const {
    // Read again as it was: the entries stand.
    if (list_.taken && contents == list_.bytes) return;
    // Read as text: CR LF is one line feed.
    std::string text;
    text.reserve(contents.size());
    for (std::size_t index = 0; index < contents.size(); ++index)
        if (!(contents[index] == '\r' && index + 1 < contents.size() && contents[index + 1] == '\n'))
            text.push_back(contents[index]);
    const std::optional<platform::FileVersion> told = list_.told;
    list_ = SpecialNumbers();
    list_.told = told;
    list_.taken = true;
    list_.bytes.swap(contents);
    list_.text = std::move(text);
    const std::string_view all = list_.text;

    std::size_t position = 0;
    for (;;) {
        std::size_t length = std::min(entryPieceBytes, all.size() - position);
        const std::size_t feed = all.find('\n', position);
        if (feed != std::string_view::npos && feed < position + length) length = feed - position + 1;
        std::string_view entry = all.substr(position, length);
        position += length;
        // The read met the end of the file when it ran out of text before a
        // line feed or a full piece; the read at the very end is empty.
        const bool metEnd = length == 0 || (length < entryPieceBytes && entry.back() != '\n');
        entry = entry.substr(0, entry.find('\0'));
        const std::size_t kept = entry.find_last_not_of(" \t\r\n\v\f");
        entry = kept == std::string_view::npos ? std::string_view() : entry.substr(0, kept + 1);
        const std::size_t wildcard = entry.find('x');
        if (wildcard == std::string_view::npos) {
            list_.numbers.push_back(entry);
        } else {
            list_.prefixes.push_back(entry.substr(0, wildcard));
            list_.longestPrefix = std::max(list_.longestPrefix, wildcard);
        }
        if (metEnd) break;
    }
    for (std::vector<std::string_view>* entries : {&list_.numbers, &list_.prefixes}) {
        std::sort(entries->begin(), entries->end());
        entries->erase(std::unique(entries->begin(), entries->end()), entries->end());
    }
}

bool Classifier::isSpecialNumber(std::string_view number) const {
    readSpecialNumbers();
    if (std::binary_search(list_.numbers.begin(), list_.numbers.end(), number)) return true;
    for (std::size_t length = 0; length <= std::min(number.size(), list_.longestPrefix); ++length)
        if (std::binary_search(list_.prefixes.begin(), list_.prefixes.end(), number.substr(0, length))) return true;
    return false;
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
