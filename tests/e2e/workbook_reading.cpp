#include "e2e/workbook_reading.h"

#include <unistd.h>

#include "e2e/harness.h"

namespace fs = std::filesystem;

namespace {

// Debian's python, where python3-xlrd is installed, whatever else PATH offers.
const char* const python = "/usr/bin/python3";

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

int runPython(const std::string& script, const std::string& argument, std::string& output) {
    return run(std::string(python) + " -c " + quoted(script) + " " + quoted(argument), std::chrono::seconds(30), output);
}

std::string readWithXlrd(const fs::path& workbook) {
    std::string output;
    return runPython(dumpScript, workbook.string(), output) == 0 ? output : "xlrd failed: " + output;
}

bool haveLibreOffice() { return access("/usr/bin/soffice", X_OK) == 0; }

fs::path convertWithLibreOffice(const fs::path& source, const std::string& filter, const fs::path& folder) {
    // A profile of its own, so that no other office process is in the way.
    const std::string command = "/usr/bin/soffice --headless --norestore -env:UserInstallation=file://" +
                                (folder / "profile").string() + " --convert-to " + quoted(filter) + " --outdir " +
                                quoted(folder.string()) + " " + quoted(source.string());
    std::string output;
    const int status = run(command, std::chrono::seconds(60), output);
    const std::string extension = filter.substr(0, filter.find(':'));
    const fs::path converted = folder / source.filename().replace_extension(extension);
    if (status != 0 || !fs::exists(converted)) return {};
    return converted;
}
