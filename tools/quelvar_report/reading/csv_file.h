#pragma once
// The CSV files people keep for quelvar-report (the directory, the
// tariffs): as Excel saves them. "CSV UTF-8" has a byte-order mark; plain
// "CSV" on a Chinese Windows is GBK, so a file that is not UTF-8 is read as
// GBK rather than garbled.
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

namespace quelvar::report {

struct CsvRow {
    int line = 0;  // where the row starts, from 1
    std::vector<std::string> fields;  // UTF-8, surrounding blanks taken off
};

// RFC 4180: commas, double quotes around a field that holds commas, quotes
// (doubled) or line breaks; CR LF or LF. Rows with nothing in them, and rows
// whose first field starts with '#', are left out (notes to the reader).
// Fails on a quote left open.
Status parseCsv(std::string_view bytes, std::vector<CsvRow>& rows, std::string& failure);

// Reads `path` whole (a regular file of at most 16 MiB) and parses it; a
// failure names the file and, where it can, the line.
Status readCsvFile(const std::string& path, std::vector<CsvRow>& rows);

// The header row must name these columns in this order; extra columns after
// them are allowed (a note column, say).
Status checkHeader(const std::string& path, const std::vector<CsvRow>& rows, const std::vector<std::string>& columns);

}  // namespace quelvar::report
