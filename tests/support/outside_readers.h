#pragma once
// Workbooks read by programs of others, for tests outside the end-to-end
// suite (which has its own, e2e/workbook_reading.h): python3-xlrd, and
// LibreOffice to convert them first. Each answers an empty map where the
// program is missing, with `why` saying so.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace outside {

// Every workbook as xlrd reads it: "sheet <name>", then one line per row,
// its cells parted by "|" and trailing empty cells left off; whole numbers
// as "#8001", booleans as "?1", errors as "!7".
inline const char* const xlrdScript = R"(
import sys, xlrd
for path in sys.argv[1:]:
    out = ['== ' + path]
    try:
        book = xlrd.open_workbook(path)
        for sheet in book.sheets():
            out.append('sheet ' + sheet.name + (' hidden' if sheet.visibility else ''))
            for r in range(sheet.nrows):
                cells = []
                for cell in sheet.row(r):
                    if cell.ctype == xlrd.XL_CELL_NUMBER:
                        cells.append('#%d' % cell.value if cell.value == int(cell.value) else '#' + repr(cell.value))
                    elif cell.ctype == xlrd.XL_CELL_BOOLEAN:
                        cells.append('?%d' % cell.value)
                    elif cell.ctype == xlrd.XL_CELL_ERROR:
                        cells.append('!%d' % cell.value)
                    else:
                        cells.append(cell.value)
                out.append('|'.join(cells).rstrip('|'))
    except Exception as error:
        out.append('xlrd failed: %s' % error)
    sys.stdout.buffer.write(('\n'.join(out) + '\n').encode('utf-8'))
)";

inline std::string quoted(const std::string& text) {
    std::string result = "'";
    for (const char c : text) result += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return result + "'";
}

inline int run(const std::string& command, std::string& output) {
    output.clear();
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) return -1;
    char buffer[65536];
    for (std::size_t count; (count = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, count);
    return pclose(pipe);
}

inline std::string python() {
    const char* named = std::getenv("QUELVAR_TEST_PYTHON");
    return named != nullptr && *named != '\0' ? named : "/usr/bin/python3";
}

// The files' dumps by path.
inline std::map<std::string, std::string> readWithXlrd(const std::vector<std::filesystem::path>& files,
                                                       std::string& why) {
    std::string output;
    if (run(quoted(python()) + " -c 'import xlrd'", output) != 0) {
        why = "python3 with xlrd is not installed: " + output;
        return {};
    }
    std::string command = "timeout 300 " + quoted(python()) + " -c " + quoted(xlrdScript);
    for (const auto& file : files) command += " " + quoted(file.string());
    if (run(command, output) != 0) {
        why = "xlrd ended badly: " + output;
        return {};
    }
    std::map<std::string, std::string> dumps;
    std::string* current = nullptr;
    for (std::size_t start = 0; start < output.size();) {
        const std::size_t end = output.find('\n', start);
        const std::string line = output.substr(start, end - start);
        start = end == std::string::npos ? output.size() : end + 1;
        if (line.starts_with("== ")) current = &dumps[line.substr(3)];
        else if (current != nullptr) *current += line + "\n";
    }
    return dumps;
}

inline std::string libreOffice() {
    const char* named = std::getenv("QUELVAR_TEST_SOFFICE");
    return named != nullptr && *named != '\0' ? named : "/usr/bin/soffice";
}

// Saves every file again as LibreOffice's Excel 97-2003 workbook into
// `folder`; the converted files by their source's path.
inline std::map<std::string, std::filesystem::path> convertWithLibreOffice(
    const std::vector<std::filesystem::path>& files, const std::filesystem::path& folder, std::string& why) {
    if (!std::filesystem::exists(libreOffice())) {
        why = "LibreOffice (" + libreOffice() + ") is not installed";
        return {};
    }
    // A profile of its own, so that no other office process is in the way.
    std::string command = "timeout 600 " + quoted(libreOffice()) +
                          " --headless --norestore -env:UserInstallation=file://" + (folder / "profile").string() +
                          " --convert-to " + quoted("xls:MS Excel 97") + " --outdir " + quoted((folder / "out").string());
    for (const auto& file : files) command += " " + quoted(file.string());
    std::string output;
    if (run(command, output) != 0) {
        why = "LibreOffice ended badly: " + output;
        return {};
    }
    std::map<std::string, std::filesystem::path> converted;
    for (const auto& file : files) {
        const std::filesystem::path result = folder / "out" / file.filename();
        if (std::filesystem::exists(result)) converted[file.string()] = result;
    }
    return converted;
}

}  // namespace outside
