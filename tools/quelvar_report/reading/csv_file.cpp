#include "quelvar_report/reading/csv_file.h"

#include "platform/codepage.h"
#include "platform/files.h"
#include "quelvar_report/reading/utf8.h"

namespace quelvar::report {
namespace {

constexpr std::size_t largestFile = 16u << 20;

bool isUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const int extra = lead < 0x80 ? 0 : (lead & 0xE0) == 0xC0 ? 1 : (lead & 0xF0) == 0xE0 ? 2 : (lead & 0xF8) == 0xF0 ? 3 : -1;
        if (extra < 0 || (extra == 1 && lead < 0xC2) || i + extra >= text.size()) return false;
        for (int k = 1; k <= extra; ++k)
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
        i += extra + 1;
    }
    return true;
}

std::string gbkToUtf8(std::string_view bytes) {
    std::string out;
    for (const wchar_t c : platform::gbkToWide(bytes)) appendUtf8(out, static_cast<char32_t>(c));
    return out;
}

std::string trimmed(std::string_view text) {
    std::size_t first = 0, last = text.size();
    while (first < last && (text[first] == ' ' || text[first] == '\t')) ++first;
    while (last > first && (text[last - 1] == ' ' || text[last - 1] == '\t')) --last;
    return std::string(text.substr(first, last - first));
}

}  // namespace

Status parseCsv(std::string_view bytes, std::vector<CsvRow>& rows, std::string& failure) {
    std::string converted;
    if (bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);
    else if (!isUtf8(bytes)) {
        converted = gbkToUtf8(bytes);
        bytes = converted;
    }
    rows.clear();
    CsvRow row{1, {}};
    std::string field;
    bool quoted = false;    // inside quotes
    bool wasQuoted = false; // the field had quotes: its blanks are its own
    int line = 1;
    const auto endField = [&] {
        row.fields.push_back(wasQuoted ? field : trimmed(field));
        field.clear();
        wasQuoted = false;
    };
    const auto endRow = [&] {
        endField();
        bool empty = true;
        for (const std::string& value : row.fields) empty = empty && value.empty();
        if (!empty && !row.fields.front().starts_with('#')) rows.push_back(std::move(row));
        row = CsvRow{line, {}};
    };
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (quoted) {
            if (c == '"' && i + 1 < bytes.size() && bytes[i + 1] == '"') {
                field += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                if (c == '\n') ++line;
                field += c;
            }
            continue;
        }
        if (c == '"' && trimmed(field).empty()) {
            field.clear();
            quoted = wasQuoted = true;
        } else if (c == ',') {
            endField();
        } else if (c == '\n' || c == '\r') {
            if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
            ++line;
            endRow();
        } else {
            field += c;
        }
    }
    if (quoted) {
        failure = "line " + std::to_string(row.line) + ": a quote is opened and never closed";
        return Status::error(Status::Code::damaged, "", "", failure);
    }
    if (!field.empty() || !row.fields.empty()) endRow();
    return {};
}

Status readCsvFile(const std::string& path, std::vector<CsvRow>& rows) {
    std::string bytes;
    bool whole = false;
    platform::FileVersion version;
    Status read = platform::readRegularFile(path, largestFile, bytes, whole, version);
    if (!read.ok()) return Status::error(read.code(), "read", path, read.reason());
    if (!whole) return Status::error(Status::Code::unsupported, "read", path, "larger than 16 MiB");
    std::string failure;
    if (!parseCsv(bytes, rows, failure).ok()) return Status::error(Status::Code::damaged, "read", path, failure);
    return {};
}

Status checkHeader(const std::string& path, const std::vector<CsvRow>& rows, const std::vector<std::string>& columns) {
    std::string expected;
    for (const std::string& column : columns) expected += (expected.empty() ? "" : ",") + column;
    bool good = !rows.empty() && rows.front().fields.size() >= columns.size();
    for (std::size_t i = 0; good && i < columns.size(); ++i) good = rows.front().fields[i] == columns[i];
    if (!good)
        return Status::error(Status::Code::damaged, "read", path,
                             "line " + std::to_string(rows.empty() ? 1 : rows.front().line) +
                                 ": the first line must be the header " + expected);
    return {};
}

}  // namespace quelvar::report
