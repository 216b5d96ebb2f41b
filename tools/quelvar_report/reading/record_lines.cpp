#include "quelvar_report/reading/record_lines.h"

#include <mutex>
#include <unordered_map>
#include <vector>

#include "core/text.h"
#include "quelvar_report/reading/utf8.h"

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

void assignWithoutPadding(std::string& out, std::string_view rid) {
    std::size_t zeros = 0;
    while (zeros + 1 < rid.size() && rid[zeros] == '0' && rid[zeros + 1] >= '0' && rid[zeros + 1] <= '9') ++zeros;
    assignUtf8FromGbk(out, rid.substr(zeros));
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
    const auto next = [&](std::string& value, std::size_t width) { assignUtf8FromGbk(value, columns.column(width)); };
    assignWithoutPadding(line.rid, columns.column(19));
    if (kind == LineKind::mergedText) {
        next(line.account, 15);
        next(line.caller, 24);
        next(line.count, 2);
        next(line.callee, 24);
        next(line.category, 0);
        columns.skipBlanks();
        next(line.type, 4);
        next(line.route, 4);
        next(line.start, 12);
        next(line.end, 12);
        next(line.duration, 5);
        next(line.trunk, 32);
        return complete(line) ? LineRead::record : LineRead::unparsable;
    }
    next(line.caller, 24);
    next(line.callee, 24);
    // The teletype column: 12 characters and a blank from the encrypted
    // mode's writer, 16 bytes and three blanks from the plain mode's.
    const std::size_t categoryStart = columns.position();
    next(line.category, 0);
    columns.skipBlanks();
    line.plainLayout = columns.cellsSince(categoryStart) != 13 && columns.position() - categoryStart == 19;
    next(line.type, 2);
    next(line.start, line.plainLayout ? 12 : 16);
    next(line.end, 12);
    next(line.duration, 5);
    next(line.route, 2);
    next(line.trunk, 32);
    next(line.account, 15);
    return complete(line) ? LineRead::record : LineRead::unparsable;
}

LineRead readCsv(std::string_view bytes, FiledLine& line) {
    thread_local std::vector<std::string_view> values;
    values.clear();
    for (std::size_t start = 0;;) {
        const std::size_t comma = bytes.find(',', start);
        values.push_back(trimmed(bytes.substr(start, comma == std::string_view::npos ? comma : comma - start)));
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
    if (values.size() != 11) return LineRead::unparsable;
    assignWithoutPadding(line.rid, values[0]);
    std::string* const fields[] = {&line.account, &line.caller, &line.callee, &line.category, &line.type,
                                   &line.route,   &line.start,  &line.end,    &line.duration, &line.trunk};
    for (std::size_t index = 0; index < 10; ++index) assignUtf8FromGbk(*fields[index], values[index + 1]);
    return complete(line) ? LineRead::record : LineRead::unparsable;
}

}  // namespace

LineRead readRecordLine(LineKind kind, std::string_view bytes, long lineNumber, FiledLine& line) {
    line.plainLayout = false;
    for (std::string* field : {&line.rid, &line.account, &line.caller, &line.callee, &line.count, &line.category,
                               &line.type, &line.route, &line.start, &line.end, &line.duration, &line.trunk})
        field->clear();
    if (blankOnly(bytes)) return LineRead::blank;
    if (lineNumber == 1 && bytes.starts_with('#')) return LineRead::header;
    if (lineNumber == 2 && kind != LineKind::legText && isColumnTitles(bytes)) return LineRead::header;
    return kind == LineKind::mergedCsv ? readCsv(bytes, line) : readText(kind, bytes, line);
}

std::string utf8FromGbk(std::string_view bytes) {
    std::string out;
    assignUtf8FromGbk(out, bytes);
    return out;
}

void assignUtf8FromGbk(std::string& out, std::string_view bytes) {
    bool ascii = true;
    for (const char c : bytes) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (ascii) {
        out.assign(bytes);
        return;
    }
    // Few distinct non-ASCII values recur (the teletypes, the labels).
    thread_local std::unordered_map<std::string, std::string> known;
    const std::string key(bytes);
    if (const auto found = known.find(key); found != known.end()) {
        out = found->second;
        return;
    }
    {
        // The conversion's state is one for the process.
        static std::mutex converting;
        const std::lock_guard lock(converting);
        out = utf8FromWide(fromGbk(bytes));
    }
    if (known.size() < 4096) known.emplace(key, out);
}

std::string utf8FromWide(std::wstring_view text) {
    std::string out;
    for (const wchar_t c : text) appendUtf8(out, static_cast<char32_t>(c));
    return out;
}

std::optional<std::string> isoTime(std::string_view time) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (time.size() != 12 || !digits(time, 0, year) || !digits(time, 2, month) || !digits(time, 4, day) ||
        !digits(time, 6, hour) || !digits(time, 8, minute) || !digits(time, 10, second))
        return std::nullopt;
    static constexpr int lengths[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12 || day < 1 || day > lengths[month - 1] || (month == 2 && day == 29 && year % 4 != 0) ||
        hour > 23 || minute > 59 || second > 59)
        return std::nullopt;
    std::string text = "20YY-MM-DDThh:mm:ss";
    for (const auto& [from, to] : {std::pair{0, 2}, {2, 5}, {4, 8}, {6, 11}, {8, 14}, {10, 17}}) {
        text[static_cast<std::size_t>(to)] = time[static_cast<std::size_t>(from)];
        text[static_cast<std::size_t>(to) + 1] = time[static_cast<std::size_t>(from) + 1];
    }
    return text;
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
