#pragma once
// How answers are shown: a table for the terminal, CSV for Excel, JSON for
// programs. The queries fill tables; JSON is written by each command itself
// because its shape nests.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "quelvar_report/notify/notify.h"

namespace quelvar::report {

enum class Format { table, csv, json, html, xlsx };

// The language of headings and notes: Chinese unless --lang en. JSON keys
// stay English whatever it is.
enum class Lang { zh, en };
inline const char* said(Lang lang, const char* zh, const char* en) { return lang == Lang::en ? en : zh; }

enum class Kind {
    text,
    number,  // an integer or a decimal: right-aligned, unquoted in CSV
    phone,   // digits that must stay text (leading zeros, long numbers)
    time,    // YYYY-MM-DDTHH:MM:SS
};

struct Column {
    std::string title;
    Kind kind = Kind::text;
};

struct Table {
    std::string title;  // shown above the table; not in CSV
    std::vector<Column> columns;
    std::vector<std::vector<std::string>> rows;
};

// Columns a terminal gives the UTF-8 text: East Asian wide characters take
// two, combining marks none, everything else one.
std::size_t displayWidth(std::string_view text);

// Aligned columns, titles underlined; several tables one after the other.
std::string renderTables(const std::vector<Table>& tables);

// RFC 4180 with CR LF and a byte-order mark; several tables are separated by
// an empty line, each with its own header row.
std::string renderCsv(const std::vector<Table>& tables);
// The same a row at a time, for answers too long to hold: the byte-order
// mark, a header row, a row; each row ends in CR LF.
inline constexpr const char* byteOrderMark = "\xEF\xBB\xBF";
std::string csvTitles(const std::vector<Column>& columns);
std::string csvRow(const std::vector<Column>& columns, const std::vector<std::string>& row);
// One CSV field as rendered for its kind.
std::string csvField(std::string_view value, Kind kind);

// Text as UTF-8 that is valid: a byte that starts no UTF-8 character becomes
// U+FFFD. Defined with the delivery's texts (notify/text.h), as jsonString
// (notify.h) is: one definition for a page and a message alike.
std::string validUtf8(std::string_view text);

// What a terminal shows: valid UTF-8 without control characters, which
// would move the cursor and break the columns.
std::string printable(std::string_view text);

// UTF-8 text as GB18030, for a spreadsheet that opens CSV as GBK; false
// when the conversion is not there.
bool toGb18030(std::string_view utf8, std::string& out);

// A JSON string, or null for a missing value.
std::string jsonStringOrNull(const std::string* text);

// Whole numbers as they are, others with one decimal.
std::string decimal(double value);

}  // namespace quelvar::report
