#pragma once
#include <filesystem>
#include <string>

// Reads a workbook with an independent reader, python3-xlrd: "sheet <name>"
// (" hidden" after a hidden one's name), then one line per row, its cells
// parted by "|" and trailing empty cells left off; whole numbers as "#8001",
// others as "#2.5", booleans as "?1", errors as "!7". The reader's complaint
// when it cannot read the file.
std::string readWithXlrd(const std::filesystem::path& workbook);

// Runs a python3 script (Debian's, with xlrd and xlwt) with one argument;
// its exit status, and what it wrote to standard output and error.
int runPython(const std::string& script, const std::string& argument, std::string& output);

// Whether LibreOffice is installed to check workbooks with.
bool haveLibreOffice();

// Converts a file with LibreOffice's filter ("xls:MS Excel 97", "csv", ...)
// into the folder; the converted file's path, or empty when it failed.
std::filesystem::path convertWithLibreOffice(const std::filesystem::path& source, const std::string& filter,
                                             const std::filesystem::path& folder);
