#include "quelvar_report/record_lines.h"

#include <mutex>
#include <unordered_map>
#include <vector>

#include "core/text.h"

namespace quelvar::report {

namespace {

// Walks a line column by column. A cell is what a writer counted when it
// padded: a character of the wide text (a GBK double byte is one) for the
// encrypted mode's writer, a byte for the plain mode's.
class Columns {
public:
    Columns(std::string_view bytes, bool byCharacter) : bytes_(bytes), byCharacter_(byCharacter) {}

    bool atEnd() const { return position_ >= bytes_.size(); }
    std::size_t position() const { return position_; }
    std::size_t cellsSince(std::size_t from) const {
        std::size_t cells = 0;
        for (std::size_t at = from; at < position_; at += cellLength(at)) ++cells;
        return cells;
    }

    // A column `width` cells wide and the blank after it; a value that ran
    // over goes on to the next blank. Width 0 reads a word: nothing when a
    // blank stands first.
    std::string_view column(std::size_t width) {
        const std::size_t start = position_;
        for (std::size_t cell = 0; cell < width && !atEnd(); ++cell) position_ += cellLength(position_);
        while (!atEnd() && bytes_[position_] != ' ') position_ += cellLength(position_);
        std::string_view value = bytes_.substr(start, position_ - start);
        while (!value.empty() && value.back() == ' ') value.remove_suffix(1);
        if (!atEnd()) ++position_;
        return value;
    }

    void skipBlanks() {
        while (!atEnd() && bytes_[position_] == ' ') ++position_;
    }

private:
    std::size_t cellLength(std::size_t at) const {
        const auto byte = static_cast<unsigned char>(bytes_[at]);
        return byCharacter_ && byte >= 0x81 && byte != 0xFF && at + 1 < bytes_.size() ? 2 : 1;
    }

    std::string_view bytes_;
    bool byCharacter_;
    std::size_t position_ = 0;
};

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    return text;
}

std::string withoutPadding(std::string_view rid) {
    std::size_t zeros = 0;
    while (zeros + 1 < rid.size() && rid[zeros] == '0' && rid[zeros + 1] >= '0' && rid[zeros + 1] <= '9') ++zeros;
    return std::string(rid.substr(zeros));
}

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

bool blankOnly(std::string_view bytes) { return trimmed(bytes).empty(); }

bool digits(std::string_view text, std::size_t at, int& value) {
    if (at + 2 > text.size() || text[at] < '0' || text[at] > '9' || text[at + 1] < '0' || text[at + 1] > '9')
        return false;
    value = (text[at] - '0') * 10 + (text[at + 1] - '0');
    return true;
}

// The header's second line: the column titles of the text and the CSV.
bool isColumnTitles(std::string_view bytes) {
    static const std::string csvTitle = " " + toGbk(L"编号");
    return bytes.starts_with(" Call-ID") || bytes.starts_with(csvTitle);
}

bool complete(const FiledLine& line) {
    return !line.rid.empty() && !line.type.empty() && !line.start.empty() && !line.duration.empty() &&
           !line.route.empty();
}

LineRead readText(LineKind kind, std::string_view bytes, FiledLine& line) {
    Columns columns(bytes, true);
    const auto next = [&](std::size_t width) { return utf8FromGbk(columns.column(width)); };
    line.rid = withoutPadding(columns.column(19));
    if (kind == LineKind::mergedText) {
        line.account = next(15);
        line.caller = next(24);
        line.count = next(2);
        line.callee = next(24);
        line.category = next(0);
        columns.skipBlanks();
        line.type = next(4);
        line.route = next(4);
        line.start = next(12);
        line.end = next(12);
        line.duration = next(5);
        line.trunk = next(32);
        return complete(line) ? LineRead::record : LineRead::unparsable;
    }
    line.caller = next(24);
    line.callee = next(24);
    // The teletype column: 12 characters and a blank from the encrypted
    // mode's writer, 16 bytes and three blanks from the plain mode's.
    const std::size_t categoryStart = columns.position();
    line.category = next(0);
    columns.skipBlanks();
    line.plainLayout = columns.cellsSince(categoryStart) != 13 && columns.position() - categoryStart == 19;
    line.type = next(2);
    line.start = next(line.plainLayout ? 12 : 16);
    line.end = next(12);
    line.duration = next(5);
    line.route = next(2);
    line.trunk = next(32);
    line.account = next(15);
    return complete(line) ? LineRead::record : LineRead::unparsable;
}

LineRead readCsv(std::string_view bytes, FiledLine& line) {
    std::vector<std::string_view> values;
    for (std::size_t start = 0;;) {
        const std::size_t comma = bytes.find(',', start);
        values.push_back(trimmed(bytes.substr(start, comma == std::string_view::npos ? comma : comma - start)));
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
    if (values.size() != 11) return LineRead::unparsable;
    line.rid = withoutPadding(values[0]);
    line.account = utf8FromGbk(values[1]);
    line.caller = utf8FromGbk(values[2]);
    line.callee = utf8FromGbk(values[3]);
    line.category = utf8FromGbk(values[4]);
    line.type = utf8FromGbk(values[5]);
    line.route = utf8FromGbk(values[6]);
    line.start = utf8FromGbk(values[7]);
    line.end = utf8FromGbk(values[8]);
    line.duration = utf8FromGbk(values[9]);
    line.trunk = utf8FromGbk(values[10]);
    return complete(line) ? LineRead::record : LineRead::unparsable;
}

}  // namespace

LineRead readRecordLine(LineKind kind, std::string_view bytes, long lineNumber, FiledLine& line) {
    line = FiledLine{};
    if (blankOnly(bytes)) return LineRead::blank;
    if (lineNumber == 1 && bytes.starts_with('#')) return LineRead::header;
    if (lineNumber == 2 && kind != LineKind::legText && isColumnTitles(bytes)) return LineRead::header;
    return kind == LineKind::mergedCsv ? readCsv(bytes, line) : readText(kind, bytes, line);
}

std::string utf8FromGbk(std::string_view bytes) {
    bool ascii = true;
    for (const char c : bytes) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (ascii) return std::string(bytes);
    // Few distinct non-ASCII values recur (the teletypes, the labels).
    static std::mutex guard;
    static std::unordered_map<std::string, std::string> known;
    const std::lock_guard lock(guard);
    if (const auto found = known.find(std::string(bytes)); found != known.end()) return found->second;
    std::string out;
    for (const wchar_t c : fromGbk(bytes)) appendUtf8(out, static_cast<char32_t>(c));
    if (known.size() < 4096) known.emplace(bytes, out);
    return out;
}

std::optional<std::string> isoTime(std::string_view time) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (time.size() != 12 || !digits(time, 0, year) || !digits(time, 2, month) || !digits(time, 4, day) ||
        !digits(time, 6, hour) || !digits(time, 8, minute) || !digits(time, 10, second))
        return std::nullopt;
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 59) return std::nullopt;
    char text[20];
    std::snprintf(text, sizeof text, "20%02d-%02d-%02dT%02d:%02d:%02d", year, month, day, hour, minute, second);
    return std::string(text);
}

std::string_view callKeyOf(std::string_view rid) { return rid.substr(0, rid.find('-')); }

std::string_view legOf(std::string_view rid) {
    const std::size_t dash = rid.find('-');
    return dash == std::string_view::npos ? std::string_view() : rid.substr(dash + 1);
}

std::string_view typeLabel(std::string_view type) {
    if (type == "IN") return "呼入";
    if (type == "OU") return "呼出";
    if (type == "FI") return "呼叫转移入";
    if (type == "FW") return "呼叫转移出";
    return "内部通话";
}

std::string_view routeLabelOf(std::string_view route) {
    if (route == "IP") return "IP中继";
    if (route == "XO") return "模拟中继";
    if (route == "IC") return "内部";
    return "总机";
}

}  // namespace quelvar::report
