#include "quelvar_report/cli/help.h"

#include <array>
#include <string_view>

namespace quelvar::report {
namespace {

struct CommandHelp {
    std::string_view name;
    std::string_view usage;    // after "quelvar-report "
    std::string_view summary;  // one line
    std::string_view options;  // the lines after it
};

constexpr std::string_view periodOptions =
    "  --from DATE --to DATE     the days, both counted (DATE is YYYY-MM-DD)\n"
    "  --month YYYY-MM|last      a calendar month instead (last: the one before this)\n";

constexpr std::string_view filterOptions =
    "  --switch MAC              one switch (its MAC, with : or -)\n"
    "  --ext NUMBER              one calling extension or account, exactly\n"
    "  --number PREFIX           numbers called that start with PREFIX\n"
    "  --category NAME           one category as filed (市话, 国内长途, ...)\n";

constexpr std::string_view commonOptions =
    "  --db FILE                 the index (default: quelvar.db beside the program)\n"
    "  --output FILE             write the answer there, whole or not at all;\n"
    "                            {month}, {from} and {to} in FILE stand for the period\n";

constexpr std::array<CommandHelp, 6> commands = {{
    {"index", "index [--root DIR]... [--db FILE]",
     "Brings the index up to date with the record files (read only what changed).",
     "  --root DIR                a folder to read (default: the collector's folder, its data root and rec/)\n"
     "  --db FILE                 the index (default: quelvar.db beside the program)\n"},
    {"calls", "calls [PERIOD] [FILTERS] [--format table|csv|json]", "Lists the calls, in time order.", ""},
    {"summary", "summary PERIOD [--by GROUP] [FILTERS] [--directory FILE] [--format table|csv|json]",
     "Calls, minutes, average and longest call per group.",
     "  --by GROUP                switch, ext, account, category (default), day, hour,\n"
     "                            destination, person or department\n"
     "  --directory FILE          who is behind each number (default: directory.csv beside the program)\n"},
    {"status", "status [--days N] [--root DIR]... [--format table|csv|json]",
     "Per switch and day: records filed, under err, unreadable, filed twice, silent hours.",
     "  --days N                  the last N days (default 7)\n"
     "  --root DIR                read the collector's event log under DIR/log too\n"},
    {"bill", "bill PERIOD [--by GROUP] [FILTERS] [--tariffs FILE] [--directory FILE] [--format FORMAT]",
     "What the calls of a period cost, per group and category, by the site's tariffs.",
     "  --by GROUP                ext (default), person, department or switch\n"
     "  --format FORMAT           table, csv, json, html (a page to print) or xlsx (needs --output)\n"
     "  --tariffs FILE            the tariffs (default: tariffs.csv beside the program)\n"
     "  --directory FILE          who is behind each number (default: directory.csv beside the program)\n"},
    {"explain", "explain CALL [PERIOD] [FILTERS] [--tariffs FILE] [--directory FILE] [--format table|json]",
     "How one call's cost was made: its person, legs, tariff version, rule, units and bands.",
     "  CALL                      the call's id as `calls` shows it, or its key (the id before its '-')\n"
     "  --tariffs FILE            the tariffs (default: tariffs.csv beside the program)\n"
     "  --directory FILE          who is behind each number (default: directory.csv beside the program)\n"},
}};

bool takesPeriod(std::string_view name) { return name != "index" && name != "status"; }

}  // namespace

std::string overallHelp() {
    std::string text =
        "quelvar-report: answers from the calls the collector filed.\n"
        "\n"
        "usage: quelvar-report COMMAND [OPTIONS]\n"
        "\n"
        "Commands:\n";
    for (const CommandHelp& command : commands) {
        std::string name(command.name);
        name.resize(10, ' ');
        text += "  " + name + std::string(command.summary) + "\n";
    }
    text +=
        "\n"
        "`quelvar-report help COMMAND` (or COMMAND --help) shows a command's options. PERIOD is\n"
        "--from DATE --to DATE or --month YYYY-MM|last. The index, tariffs.csv and directory.csv are\n"
        "read from beside the program unless named. Exit status 0, or 2 with one line on standard\n"
        "error.\n";
    return text;
}

std::optional<std::string> commandHelp(const std::string& name) {
    for (const CommandHelp& command : commands) {
        if (command.name != name) continue;
        std::string text = "usage: quelvar-report " + std::string(command.usage) + "\n\n" +
                           std::string(command.summary) + "\n\n";
        text += command.options;
        if (takesPeriod(command.name)) text += std::string(periodOptions) + std::string(filterOptions);
        if (command.name != "index") text += commonOptions;
        return text;
    }
    return std::nullopt;
}

std::string usageLines() {
    std::string text;
    for (const CommandHelp& command : commands)
        text += std::string(text.empty() ? "usage: " : "       ") + "quelvar-report " + std::string(command.usage) + "\n";
    return text + "`quelvar-report --help` says more.\n";
}

}  // namespace quelvar::report
