#pragma once
#include <filesystem>
#include <string>

// The outside programs: Debian's python3 with python3-xlrd and python3-xlwt,
// whatever else PATH offers, and LibreOffice; QUELVAR_TEST_PYTHON and
// QUELVAR_TEST_SOFFICE name others. A test that needs one that is not there
// skips, saying which.

// Skips the test unless python3 can import the module.
void requirePythonModule(const std::string& module);

// Reads a workbook with an independent reader, python3-xlrd: "sheet <name>"
// (" hidden" after a hidden one's name), then one line per row, its cells
// parted by "|" and trailing empty cells left off; whole numbers as "#8001",
// others as "#2.5", booleans as "?1", errors as "!7". The reader's complaint
// when it cannot read the file. Skips the test without xlrd.
std::string readWithXlrd(const std::filesystem::path& workbook);

// Runs a python3 script with one argument; its exit status, and what it
// wrote to standard output and error.
int runPython(const std::string& script, const std::string& argument, std::string& output);

// Whether LibreOffice is installed to check workbooks with, and where.
bool haveLibreOffice();
std::string libreOffice();

// Converts a file with LibreOffice's filter ("xls:MS Excel 97", "csv", ...)
// into the folder; the converted file's path, or empty when it failed.
std::filesystem::path convertWithLibreOffice(const std::filesystem::path& source, const std::string& filter,
                                             const std::filesystem::path& folder);
