#include "quelvar_report/output/output.h"

#include <iconv.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "quelvar_report/reading/utf8.h"

namespace quelvar::report {
namespace {

constexpr char32_t replacement = 0xFFFD;

// The character at `at`, and how many bytes it takes; a byte that starts no
// valid UTF-8 character is one U+FFFD.
char32_t nextCharacter(std::string_view text, std::size_t at, std::size_t& length) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    length = 1;
    if (lead < 0x80) return lead;
    std::size_t count = 0;
    char32_t value = 0;
    char32_t least = 0;
    if ((lead & 0xE0) == 0xC0) count = 1, value = lead & 0x1F, least = 0x80;
    else if ((lead & 0xF0) == 0xE0) count = 2, value = lead & 0x0F, least = 0x800;
    else if ((lead & 0xF8) == 0xF0) count = 3, value = lead & 0x07, least = 0x10000;
    else return replacement;
    if (at + count >= text.size()) return replacement;
    for (std::size_t i = 1; i <= count; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) return replacement;
        value = (value << 6) | (byte(at + i) & 0x3F);
    }
    // Overlong forms, surrogates and values past Unicode are no characters.
    if (value < least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return replacement;
    length = count + 1;
    return value;
}

bool wide(char32_t c) {
    return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0x303E) || (c >= 0x3041 && c <= 0x33FF) ||
           (c >= 0x3400 && c <= 0x4DBF) || (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xA000 && c <= 0xA4CF) ||
           (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F) ||
           (c >= 0xFF00 && c <= 0xFF60) || (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x1F300 && c <= 0x1F64F) ||
           (c >= 0x20000 && c <= 0x3FFFD);
}

bool zeroWidth(char32_t c) {
    return (c >= 0x0300 && c <= 0x036F) || (c >= 0x200B && c <= 0x200F) || (c >= 0xFE00 && c <= 0xFE0F);
}

// Shown in the table: times with a space, which reads better than the T.
std::string shown(const std::string& value, Kind kind) {
    std::string text = printable(value);
    if (kind == Kind::time && text.size() > 10 && text[10] == 'T') text[10] = ' ';
    return text;
}

void pad(std::string& out, std::size_t count) { out.append(count, ' '); }

bool allDigits(std::string_view value) {
    if (value.empty()) return false;
    for (const char c : value)
        if (c < '0' || c > '9') return false;
    return true;
}

// -12, 3.5: what a number column writes unquoted.
bool plainNumber(std::string_view value) {
    if (value.starts_with('-')) value.remove_prefix(1);
    const std::size_t point = value.find('.');
    return allDigits(value.substr(0, point)) && (point == std::string_view::npos || allDigits(value.substr(point + 1)));
}

}  // namespace

std::string printable(std::string_view text) {
    std::string out;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t length = 0;
        const char32_t c = nextCharacter(text, at, length);
        appendUtf8(out, c < 0x20 || c == 0x7F ? U'?' : c);
        at += length;
    }
    return out;
}

std::size_t displayWidth(std::string_view text) {
    std::size_t width = 0;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t length = 0;
        const char32_t c = nextCharacter(text, at, length);
        at += length;
        if (!zeroWidth(c)) width += wide(c) ? 2 : 1;
    }
    return width;
}

std::string renderTables(const std::vector<Table>& tables) {
    std::string out;
    for (const Table& table : tables) {
        if (!out.empty()) out += '\n';
        if (!table.title.empty()) out.append(printable(table.title)).append("\n");
        std::vector<std::size_t> widths;
        for (const Column& column : table.columns) widths.push_back(displayWidth(column.title));
        std::vector<std::vector<std::string>> cells;
        for (const auto& row : table.rows) {
            auto& shownRow = cells.emplace_back();
            for (std::size_t i = 0; i < table.columns.size(); ++i) {
                shownRow.push_back(shown(i < row.size() ? row[i] : std::string(), table.columns[i].kind));
                widths[i] = std::max(widths[i], displayWidth(shownRow.back()));
            }
        }
        const auto line = [&](const std::vector<std::string>& values, bool titles) {
            std::string text;
            for (std::size_t i = 0; i < values.size(); ++i) {
                const std::size_t gap = widths[i] - displayWidth(values[i]);
                const bool right = !titles && table.columns[i].kind == Kind::number;
                if (i > 0) text += "  ";
                if (right) pad(text, gap);
                text += values[i];
                if (!right && i + 1 < values.size()) pad(text, gap);
            }
            while (!text.empty() && text.back() == ' ') text.pop_back();
            out.append(text).append("\n");
        };
        std::vector<std::string> titles;
        std::vector<std::string> rules;
        for (std::size_t i = 0; i < table.columns.size(); ++i) {
            titles.push_back(printable(table.columns[i].title));
            rules.emplace_back(widths[i], '-');
        }
        line(titles, true);
        line(rules, true);
        for (const auto& row : cells) line(row, false);
        if (table.rows.empty()) out += "(none)\n";
    }
    return out;
}

std::string csvField(std::string_view value, Kind kind) {
    std::string text = validUtf8(value);
    if (kind == Kind::number && plainNumber(text)) return text;
    // Excel turns digits into a number: leading zeros go, more than 11 digits
    // show as 1.39E+12 and a + goes. The formula ="..." is text to Excel.
    const bool plus = text.size() > 1 && text[0] == '+' && allDigits(std::string_view(text).substr(1));
    if (kind == Kind::phone && (plus || (allDigits(text) && (text[0] == '0' || text.size() > 11))))
        return "\"=\"\"" + text + "\"\"\"";
    // What a spreadsheet would take for a formula (values come from the
    // network: =HYPERLINK(...), +1+cmd|...) is kept text by a leading '.
    if (!text.empty() && std::string_view("=+-@\t\r").find(text[0]) != std::string_view::npos) text.insert(0, 1, '\'');
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + '"';
}

std::string csvTitles(const std::vector<Column>& columns) {
    std::string line;
    for (std::size_t i = 0; i < columns.size(); ++i) line.append(i ? "," : "").append(csvField(columns[i].title, Kind::text));
    return line + "\r\n";
}

std::string csvRow(const std::vector<Column>& columns, const std::vector<std::string>& row) {
    std::string line;
    for (std::size_t i = 0; i < columns.size(); ++i)
        line.append(i ? "," : "").append(csvField(i < row.size() ? row[i] : "", columns[i].kind));
    return line + "\r\n";
}

std::string renderCsv(const std::vector<Table>& tables) {
    std::string out = byteOrderMark;
    bool first = true;
    for (const Table& table : tables) {
        if (!first) out += "\r\n";
        first = false;
        out += csvTitles(table.columns);
        for (const auto& row : table.rows) out += csvRow(table.columns, row);
    }
    return out;
}

bool toGb18030(std::string_view utf8, std::string& out) {
    iconv_t converter = iconv_open("GB18030", "UTF-8");
    if (converter == reinterpret_cast<iconv_t>(-1)) return false;
    const std::string valid = validUtf8(utf8);
    std::string converted(valid.size() * 2 + 16, '\0');  // at most 4 bytes for 3 or 4 of UTF-8, 2 for 2
    char* in = const_cast<char*>(valid.data());
    std::size_t inLeft = valid.size();
    char* to = converted.data();
    std::size_t toLeft = converted.size();
    const bool done = iconv(converter, &in, &inLeft, &to, &toLeft) != static_cast<std::size_t>(-1) && inLeft == 0;
    iconv_close(converter);
    if (!done) return false;
    converted.resize(converted.size() - toLeft);
    out += converted;
    return true;
}

std::string jsonStringOrNull(const std::string* text) { return text ? jsonString(*text) : "null"; }

std::string decimal(double value) {
    const double rounded = std::round(value * 10) / 10;
    char text[64];
    if (rounded == std::floor(rounded)) std::snprintf(text, sizeof text, "%.0f", rounded);
    else std::snprintf(text, sizeof text, "%.1f", rounded);
    return text;
}

}  // namespace quelvar::report
