#include "e2e/workbook_reading.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <map>

#include "e2e/harness.h"

namespace fs = std::filesystem;

namespace {

std::string program(const char* variable, const char* debians) {
    const char* named = std::getenv(variable);
    return named != nullptr && *named != '\0' ? named : debians;
}

std::string python() { return program("QUELVAR_TEST_PYTHON", "/usr/bin/python3"); }

const char* const dumpScript = R"(
import sys, xlrd
book = xlrd.open_workbook(sys.argv[1])
out = []
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
sys.stdout.buffer.write(('\n'.join(out) + '\n').encode('utf-8'))
)";

std::string quoted(const std::string& text) {
    std::string result = "'";
    for (const char c : text) {
        if (c == '\'')
            result += "'\\''";
        else
            result += c;
    }
    return result + "'";
}

// Runs a shell command; its standard output and error, and its status.
int run(const std::string& command, std::chrono::seconds limit, std::string& output) {
    const CommandOutcome outcome = runCommand(command, limit);
    output = outcome.output;
    return outcome.status;
}

}  // namespace

void requirePythonModule(const std::string& module) {
    // Asked once a module: the answer holds for the whole run.
    static std::map<std::string, std::string> missing;
    if (!missing.contains(module)) {
        std::string output;
        const int status = run(quoted(python()) + " -c " + quoted("import " + module), std::chrono::seconds(30), output);
        // The last line tells why: python3's ImportError, or the shell's "not found".
        while (!output.empty() && output.back() == '\n') output.pop_back();
        const std::string why = output.substr(output.rfind('\n') + 1);
        missing[module] = status == 0 ? "" : why.empty() ? "status " + std::to_string(status) : why;
    }
    if (!missing[module].empty())
        GTEST_SKIP() << "python3 with " << module << " is not installed: " << python() << " says " << missing[module];
}

int runPython(const std::string& script, const std::string& argument, std::string& output) {
    return run(quoted(python()) + " -c " + quoted(script) + " " + quoted(argument), std::chrono::seconds(30), output);
}

std::string readWithXlrd(const fs::path& workbook) {
    requirePythonModule("xlrd");
    std::string output;
    return runPython(dumpScript, workbook.string(), output) == 0 ? output : "xlrd failed: " + output;
}

std::string libreOffice() { return program("QUELVAR_TEST_SOFFICE", "/usr/bin/soffice"); }

bool haveLibreOffice() { return access(libreOffice().c_str(), X_OK) == 0; }

fs::path convertWithLibreOffice(const fs::path& source, const std::string& filter, const fs::path& folder) {
    // A profile of its own, so that no other office process is in the way.
    const std::string command = quoted(libreOffice()) + " --headless --norestore -env:UserInstallation=file://" +
                                (folder / "profile").string() + " --convert-to " + quoted(filter) + " --outdir " +
                                quoted(folder.string()) + " " + quoted(source.string());
    std::string output;
    const int status = run(command, std::chrono::seconds(60), output);
    const std::string extension = filter.substr(0, filter.find(':'));
    const fs::path converted = folder / source.filename().replace_extension(extension);
    if (status != 0 || !fs::exists(converted)) return {};
    return converted;
}
