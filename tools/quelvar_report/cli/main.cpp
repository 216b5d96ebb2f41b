// quelvar-report: answers from the filed calls, beside the collector.
#include <sqlite3.h>

#include <cstdio>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files.h"
#include "quelvar_report/index/index.h"
#include "quelvar_report/cli/query.h"
#include "quelvar_report/index/schema.h"

namespace {

using quelvar::Status;

constexpr const char* usage =
    "usage: quelvar-report index [--root DIR]... [--db FILE]\n"
    "       quelvar-report calls [--from DATE] [--to DATE] [--switch MAC] [--ext NUMBER] [--number PREFIX]\n"
    "                            [--category NAME] [--db FILE] [--format table|csv|json]\n"
    "       quelvar-report summary --from DATE --to DATE\n"
    "                              [--by switch|ext|account|category|day|hour|destination|person|department]\n"
    "                              [the filters of calls] [--directory FILE] [--db FILE] [--format table|csv|json]\n"
    "       quelvar-report status [--days N] [--root DIR]... [--db FILE] [--format table|csv|json]\n"
    "       quelvar-report bill --from DATE --to DATE | --month YYYY-MM|last\n"
    "                           [--by ext|person|department|switch] [the filters of calls]\n"
    "                           [--tariffs FILE] [--directory FILE] [--db FILE]\n"
    "                           [--format table|csv|json|html|xlsx] [--output FILE]\n"
    "                           [--unrated] [--per-department (xlsx)]\n"
    "       quelvar-report explain CALL [--switch MAC] [--from DATE] [--to DATE] [--tariffs FILE] [--directory FILE]\n"
    "                              [--db FILE] [--format table|json]\n"
    "calls, summary, bill: [--lang zh|en] (headings, Chinese unless en); --format csv: [--encoding utf-8|gb18030]\n"
    "DATE is YYYY-MM-DD; both ends count. --output FILE writes the answer there (whole, or not at all);\n"
    "{month}, {from} and {to} in FILE stand for the period.\n"
    "tariffs.csv and directory.csv are read from beside the program unless named.\n";

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
        std::fputs(usage, stderr);
        return 2;
    }
    const std::string command = argv[1];
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
    std::string databasePath = programFolder + "/quelvar.db";
    std::vector<std::string> roots;
    for (int index = 2; index < argc; ++index) {
        const std::string_view argument = argv[index];
        const bool hasValue = index + 1 < argc;
        if (argument == "--db" && hasValue) databasePath = argv[++index];
        else if (argument == "--root" && hasValue) roots.emplace_back(argv[++index]);
        else return fail("unknown argument: " + std::string(argument));
    }
    if (command != "index") return fail("unknown command: " + command);
    if (roots.empty()) roots = quelvar::report::defaultRoots(programFolder);

    sqlite3* database = nullptr;
    // One thread uses the connection: no locking on every call.
    if (sqlite3_open_v2(databasePath.c_str(), &database, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK) {
        const std::string why = database ? sqlite3_errmsg(database) : "out of memory";
        sqlite3_close(database);
        return fail("cannot open " + databasePath + ": " + why);
    }
    quelvar::report::IndexReport report;
    const Status updated = quelvar::report::updateIndex(database, roots, report);
    sqlite3_close(database);
    if (!updated.ok()) return fail(updated.text());
    std::printf("%ld files, %ld read, %ld calls added, %ld lines that could not be read\n", report.filesSeen,
                report.filesRead, report.callsAdded, report.unparsableLines);
    return 0;
}
