// quelvar-report: answers from the filed calls, beside the collector.
#include <sqlite3.h>

#include <cstdio>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files.h"
#include "quelvar_report/index/index.h"
#include "quelvar_report/cli/alerts.h"
#include "quelvar_report/cli/options.h"
#include "quelvar_report/rating/categories.h"
#include "quelvar_report/rating/figures.h"
#include "quelvar_report/rating/tariffs.h"
#include "quelvar_report/cli/query.h"
#include "quelvar_report/index/schema.h"

namespace {

using quelvar::Status;

// The costs of the days indexed, kept for bills over long periods. The
// tariffs beside the program are used when they can be read; tariffs named
// with --tariffs (`named`) must be.
Status keepCosts(sqlite3* database, const std::string& named, const std::string& programFolder) {
    const std::string path = named.empty() ? programFolder + "/tariffs.csv" : named;
    if (named.empty() && !quelvar::platform::pathExists(path)) return {};
    quelvar::report::Tariffs tariffs;
    std::string digest;
    Status read = quelvar::report::Tariffs::read(path, tariffs);
    // Calls are classified as the collector beside the tool classifies them.
    if (read.ok())
        read =
            quelvar::report::readTariffsDigest(path, digest, quelvar::report::CallCategories::sourceOf(programFolder));
    if (!read.ok()) return named.empty() ? Status() : read;
    const quelvar::report::CallCategories categories = quelvar::report::CallCategories::ofProgramFolder(programFolder);
    return quelvar::report::keepCosts(database, tariffs, digest, nullptr, &categories);
}

int fail(const std::string& message) {
    std::fprintf(stderr, "quelvar-report: %s\n", message.c_str());
    return 2;
}

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs(quelvar::report::usageLines().c_str(), stderr);
        return 2;
    }
    const std::string command = argv[1];
    const auto isHelp = [](std::string_view argument) { return argument == "--help" || argument == "-h"; };
    if (isHelp(command) || command == "help") {
        if (argc == 2) return std::fputs(quelvar::report::overallHelp().c_str(), stdout) < 0 ? 2 : 0;
        const auto text = quelvar::report::commandHelp(argv[2]);
        if (!text || argc > 3)
            return fail(text ? "help takes one command" : "unknown command: " + std::string(argv[2]));
        return std::fputs(text->c_str(), stdout) < 0 ? 2 : 0;
    }
    for (int index = 2; index < argc; ++index) {
        if (!isHelp(argv[index])) continue;
        const auto text = quelvar::report::commandHelp(command);
        if (!text) return fail("unknown command: " + command + " (quelvar-report --help lists them)");
        return std::fputs(text->c_str(), stdout) < 0 ? 2 : 0;
    }
    const std::string programFolder = folderOf(quelvar::platform::executablePath());
    if (quelvar::report::isQueryCommand(command)) {
        std::string error;
        std::vector<std::string> notes;
        const int status = quelvar::report::runQuery(
            command, std::vector<std::string>(argv + 2, argv + argc), programFolder, std::time(nullptr),
            [](std::string_view piece) { return std::fwrite(piece.data(), 1, piece.size(), stdout) == piece.size(); },
            error, &notes);
        if (status != 0) return fail(error);
        for (const std::string& note : notes) std::fprintf(stderr, "%s\n", note.c_str());
        return std::fflush(stdout) == 0 ? 0 : fail("the answer could not be written");
    }
    if (quelvar::report::isAlertsCommand(command)) {
        std::string out, error;
        const int status = quelvar::report::runAlerts(command, std::vector<std::string>(argv + 2, argv + argc),
                                                      programFolder, std::time(nullptr), out, error, stderr);
        if (status != 0) return fail(error);
        return std::fwrite(out.data(), 1, out.size(), stdout) == out.size() && std::fflush(stdout) == 0
                   ? 0
                   : fail("the answer could not be written");
    }
    quelvar::report::Options options;
    options.database = programFolder + "/quelvar.db";
    if (const std::string wrong =
            quelvar::report::parseOptions(command, std::vector<std::string>(argv + 2, argv + argc), options);
        !wrong.empty())
        return fail(wrong);
    if (options.command != quelvar::report::Command::index) return fail("unknown command: " + command);
    std::vector<std::string>& roots = options.roots;
    const std::string& databasePath = options.database;
    const bool rebuild = options.rebuild;
    if (roots.empty()) roots = quelvar::report::defaultRoots(programFolder);

    quelvar::report::IndexReport report;
    if (rebuild) {
        Status rebuilt = quelvar::report::rebuildIndex(databasePath, roots, report);
        if (rebuilt.ok()) {
            sqlite3* database = nullptr;
            if (sqlite3_open_v2(databasePath.c_str(), &database, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX,
                                nullptr) != SQLITE_OK)
                rebuilt = Status::error(Status::Code::failed, "index", databasePath,
                                        database ? sqlite3_errmsg(database) : "out of memory");
            else
                rebuilt = keepCosts(database, options.tariffs, programFolder);
            sqlite3_close(database);
        }
        if (!rebuilt.ok()) return fail(rebuilt.text());
        if (!report.alertsLost.empty()) std::fprintf(stderr, "quelvar-report: %s\n", report.alertsLost.c_str());
        std::printf("made anew: %ld files, %ld calls, %ld lines that could not be read\n", report.filesRead,
                    report.callsAdded, report.unparsableLines);
        return 0;
    }
    sqlite3* database = nullptr;
    // One thread uses the connection: no locking on every call.
    if (sqlite3_open_v2(databasePath.c_str(), &database,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
        const std::string why = database ? sqlite3_errmsg(database) : "out of memory";
        sqlite3_close(database);
        return fail("cannot open " + databasePath + ": " + why);
    }
    Status updated = quelvar::report::updateIndex(database, roots, report);
    if (updated.ok()) updated = keepCosts(database, options.tariffs, programFolder);
    sqlite3_close(database);
    if (!updated.ok()) return fail(updated.text());
    std::printf("%ld files, %ld read, %ld calls added, %ld lines that could not be read\n", report.filesSeen,
                report.filesRead, report.callsAdded, report.unparsableLines);
    return 0;
}
