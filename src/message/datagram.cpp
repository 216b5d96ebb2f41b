#include "message/datagram.h"

#include "message/record_syntax.h"
#include "message/split_text.h"

namespace quelvar {

bool isRecordDatagram(std::wstring_view text) {
    constexpr std::wstring_view head = L"RECORD:";
    if (text.size() < head.size()) return false;
    for (std::size_t index = 0; index < head.size(); ++index) {
        const wchar_t c = text[index];
        const wchar_t upper = (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - L'a' + L'A') : c;
        if (upper != head[index]) return false;
    }
    return true;
}

namespace {

template <typename Char>
bool moreLinesThan(std::basic_string_view<Char> text, std::size_t limit) {
    if (!text.empty() && text.back() == Char('\n')) text.remove_suffix(1);
    std::size_t lines = 1;
    for (const Char c : text)
        if (c == Char('\n') && ++lines > limit) return true;
    return lines > limit;
}

}  // namespace

bool hasMoreLinesThan(std::wstring_view text, std::size_t limit) { return moreLinesThan(text, limit); }
bool hasMoreLinesThan(std::string_view text, std::size_t limit) { return moreLinesThan(text, limit); }

void decodeDatagram(std::wstring_view text, Datagram& datagram) {
    datagram.rid = {};
    readRecordSyntax(
        text, [](std::wstring_view) {},
        [&](std::wstring_view key, std::wstring_view value) {
            if (key == L"RID") datagram.rid = value;
        });
    std::vector<std::wstring_view> parts;
    splitText(text, L"\n", parts);
    datagram.lines.resize(parts.size());
    for (std::size_t index = 0; index < parts.size(); ++index) {
        DatagramLine& line = datagram.lines[index];
        line.text = parts[index];
        line.record = Record{};
        parseRecord(line.text, line.record);
    }
}

}  // namespace quelvar
