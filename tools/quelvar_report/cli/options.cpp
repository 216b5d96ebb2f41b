#include "quelvar_report/cli/options.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <array>
#include <memory>

#include "quelvar_report/rating/bill.h"
#include "quelvar_report/reading/dates.h"

namespace quelvar::report {
namespace {

const std::vector<std::string> summaryGroupings = {"switch",      "ext",    "account",    "category", "day",  "hour",
                                                   "destination", "person", "department", "trunk",    "route"};

struct CommandInfo {
    const char* name;
    Command command;
    const char* what;
};
constexpr std::array<CommandInfo, 8> commandInfo = {{
    {"index", Command::index, "Brings the index up to date with the record files (reads only what changed)."},
    {"calls", Command::calls, "Lists the calls, in time order."},
    {"summary", Command::summary, "Calls, minutes, average and longest call per group."},
    {"status", Command::status, "Per switch and day: records filed, under err, unreadable, filed twice, silent hours."},
    {"bill", Command::bill, "What the calls of a period cost, per group and category, by the site's tariffs."},
    {"explain", Command::explain, "How one call's cost was made: its person, legs, tariff version, rule, units, bands."},
    {"alerts", Command::alerts, "What the rules of alerts.csv find, each told once and delivered to its channels."},
    {"watch", Command::watch, "index, alerts and their deliveries every --every seconds, until stopped (a service)."},
}};

bool isAlerting(Command command) { return command == Command::alerts || command == Command::watch; }

bool takesPeriod(Command command) {
    return command != Command::index && command != Command::status && !isAlerting(command);
}

void text(CLI::App* app, const std::string& name, std::optional<std::string>& into, const std::string& type,
          const std::string& help) {
    app->add_option_function<std::string>(name, [&into](const std::string& value) { into = value; }, help)
        ->type_name(type);
}

// One of `names`; said in the option's help already.
CLI::Validator oneOf(std::vector<std::string> names) {
    return CLI::Validator(
        [names](std::string& value) -> std::string {
            if (std::find(names.begin(), names.end(), value) != names.end()) return {};
            std::string list;
            for (const std::string& name : names) list += (list.empty() ? "" : ", ") + name;
            return value + " is none of " + list;
        },
        "");
}

// Every command with its options, bound to `options` (the format as given
// to `format`).
std::unique_ptr<CLI::App> commandLine(Options& options, std::string& format, std::string& lang,
                                      std::string& encoding) {
    auto app = std::make_unique<CLI::App>("quelvar-report: answers from the calls the collector filed.",
                                          "quelvar-report");
    app->set_help_flag();
    app->require_subcommand(1);
    app->get_formatter()->column_width(32);
    for (const CommandInfo& info : commandInfo) {
        CLI::App* command = app->add_subcommand(info.name, info.what);
        command->set_help_flag();
        // Unknown options are told by parseOptions, in its own words.
        command->allow_extras();
        const Command kind = info.command;
        if (kind == Command::explain)
            command->add_option("CALL", options.callId,
                                "the call's id as `calls` shows it, or its key (the id before its '-')");
        if (kind == Command::index || kind == Command::status || isAlerting(kind))
            command->add_option("--root", options.roots,
                                kind != Command::status
                                    ? "a folder to read, as often as needed (default: the collector's folder, its "
                                      "data root and rec/)"
                                    : "a collector's folder whose log/ to read too, as often as needed")
                ->type_name("DIR")
                ->allow_extra_args(false);
        if (kind == Command::index)
            command->add_flag("--rebuild", options.rebuild,
                              "make the index anew from the files (a damaged one); it is replaced only once whole");
        if (kind == Command::status)
            command->add_option("--days", options.days, "the last N days (default 7)")
                ->type_name("N")
                ->check(CLI::Range(1, 3660));
        if (takesPeriod(kind)) {
            text(command, "--from", options.from, "DATE", "the first day (YYYY-MM-DD)");
            text(command, "--to", options.to, "DATE", "the last day, counted too");
            text(command, "--month", options.month, "YYYY-MM|last", "a calendar month (last: the one before this)");
            text(command, "--switch", options.switchName, "MAC", "one switch, its MAC with : or -");
            text(command, "--ext", options.extension, "NUMBER", "one calling extension or account, exactly");
            text(command, "--number", options.number, "PREFIX", "the numbers called that start with PREFIX");
            text(command, "--category", options.category, "NAME",
                 kind == Command::calls ? "one category as filed (市话, 国内长途, ...)"
                                        : "one category as billed (a forwarded call's from its own number)");
        }
        if (kind == Command::summary)
            command->add_option("--by", options.by, "switch, ext, account, category (default), day, hour, "
                                                    "destination, person, department, trunk or route")
                ->type_name("GROUP")
                ->check(oneOf(summaryGroupings));
        if (kind == Command::bill)
            command->add_option("--by", options.by, "ext (default), person, department, switch, trunk or route")
                ->type_name("GROUP")
                ->check(oneOf(billGroupings));
        if (kind == Command::bill)
            command->add_option("--sort", options.sort, "cost (default), calls or name: the groups' order; 未登记 last")
                ->type_name("ORDER")
                ->check(oneOf(billSortings));
        if (kind == Command::bill || kind == Command::explain)
            command->add_option("--tariffs", options.tariffs, "the tariffs (default: tariffs.csv beside the program)")
                ->type_name("FILE");
        if (isAlerting(kind)) {
            command
                ->add_option_function<std::string>(
                    "--tariffs",
                    [&options](const std::string& value) {
                        options.tariffs = value;
                        options.tariffsGiven = true;
                    },
                    "what calls cost, for cost and budget rules (default: tariffs.csv beside the program)")
                ->type_name("FILE");
            command->add_option("--rules", options.rules, "the rules (default: alerts.csv beside the program)")
                ->type_name("FILE");
            command->add_option("--sendmail", options.sendmail, "the program mail goes through (default /usr/sbin/sendmail)")
                ->type_name("PATH");
        }
        if (kind == Command::alerts) {
            text(command, "--at", options.at, "\"YYYY-MM-DD HH:MM\"", "evaluate as of this moment instead of now");
            command->add_flag("--again", options.again, "tell the alerts still open again too (printed, not delivered)");
            command->add_flag("--dry-run", options.dryRun, "print what would be raised: deliver and record nothing");
        }
        if (kind == Command::watch)
            command->add_option("--every", options.every, "seconds between runs (default 30)")
                ->type_name("N")
                ->check(CLI::Range(1, 86400));
        if (kind == Command::index)
            command
                ->add_option("--tariffs", options.tariffs,
                             "keep the costs of the days read for these tariffs (default: tariffs.csv beside the "
                             "program, when there is one); a file named here must be readable")
                ->type_name("FILE");
        if (kind == Command::summary || kind == Command::bill || kind == Command::explain || isAlerting(kind))
            command
                ->add_option_function<std::string>(
                    "--directory",
                    [&options](const std::string& value) {
                        options.directory = value;
                        options.directoryGiven = true;
                    },
                    "who is behind each number (default: directory.csv beside the program)")
                ->type_name("FILE");
        if (kind == Command::bill) {
            command->add_flag("--unrated", options.unratedList,
                              "the calls no tariff rule covered, one by one, with why (table, csv or json)");
            command->add_flag("--appendix", options.appendix,
                              "html: the bill per group, every chart and the long lists after the month's pages");
            command->add_flag("--per-department", options.perDepartment,
                              "xlsx: a sheet per department, to hand on, with a line for its head's signature");
        }
        if (kind == Command::calls || kind == Command::summary || kind == Command::bill)
            command->add_option("--lang", lang, "the headings: zh, Chinese (default), or en")
                ->type_name("zh|en")
                ->check(oneOf({"zh", "en"}));
        if (kind != Command::index && kind != Command::explain && !isAlerting(kind))
            command->add_option("--encoding", encoding, "csv: utf-8 (default, with a byte-order mark) or gb18030")
                ->type_name("utf-8|gb18030")
                ->check(oneOf({"utf-8", "gb18030"}));
        if (kind != Command::index && kind != Command::watch) {
            const std::vector<std::string> formats =
                kind == Command::bill                                 ? std::vector<std::string>{"table", "csv", "json", "html", "xlsx"}
                : kind == Command::explain || kind == Command::alerts ? std::vector<std::string>{"table", "json"}
                                           : std::vector<std::string>{"table", "csv", "json"};
            std::string names;
            for (const std::string& name : formats) names += (names.empty() ? "" : "|") + name;
            command->add_option("--format", format,
                                kind == Command::bill ? "html is a page to print; xlsx a workbook (needs --output)"
                                                      : "table (default), for the terminal")
                ->type_name(names)
                ->check(oneOf(formats));
        }
        command->add_option("--db", options.database, "the index (default: quelvar.db beside the program)")
            ->type_name("FILE");
        if (kind != Command::index && !isAlerting(kind))
            text(command, "--output", options.output, "FILE",
                 "write the answer there, whole or not at all; {month}, {from} and {to} stand for the period");
        // An option in the place of a value means the value was left out.
        const CLI::Validator noOption(
            [](std::string& value) -> std::string {
                return value.starts_with("--") ? "a value is missing before " + value : std::string();
            },
            "");
        for (CLI::Option* option : command->get_options())
            if (option->get_expected_max() > 0) option->check(noOption);
    }
    return app;
}

// --month: a calendar month, or "last" for the one before today's.
std::string monthPeriod(Options& options) {
    if (!options.month) return {};
    if (options.from || options.to) return "--month and --from/--to name the period twice";
    int year = 0, month = 0;
    if (*options.month == "last") {
        std::tm local{};
        localtime_r(&options.now, &local);
        year = local.tm_year + 1900;
        month = local.tm_mon;  // 0 is last December
        if (month == 0) {
            month = 12;
            --year;
        }
    } else if (options.month->size() != 7 || (*options.month)[4] != '-' ||
               !parseNumber(options.month->substr(0, 4), year) || !parseNumber(options.month->substr(5, 2), month) ||
               month < 1 || month > 12) {
        return "bad --month " + *options.month + " (YYYY-MM, or last)";
    }
    const long first = daysFromCivil(year, month, 1);
    const long next = month == 12 ? daysFromCivil(year + 1, 1, 1) : daysFromCivil(year, month + 1, 1);
    options.from = dateText(first);
    options.to = dateText(next - 1);
    return {};
}

// {from}, {to} and {month} in --output, so that a schedule can name its files.
std::string outputPath(const Options& options) {
    std::string path = *options.output;
    const auto replace = [&](const std::string& name, const std::string& value) {
        for (std::size_t at = path.find(name); at != std::string::npos; at = path.find(name, at + value.size()))
            path.replace(at, name.size(), value);
    };
    replace("{from}", options.from.value_or(""));
    replace("{to}", options.to.value_or(""));
    replace("{month}", options.from ? options.from->substr(0, 7) : std::string());
    return path;
}

// A switch as given (00:1A:2B:3C:4D:5E) or as its folder is named.
std::string switchFolder(std::string mac) {
    for (char& c : mac)
        if (c == ':' || c == '/' || c == '\\') c = '-';
    return mac;
}

// What the parser says, in one line and without its class name.
std::string oneLine(std::string text) {
    std::replace(text.begin(), text.end(), '\n', ' ');
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

}  // namespace

std::string parseOptions(const std::string& name, const std::vector<std::string>& arguments, Options& options) {
    const auto found = std::find_if(commandInfo.begin(), commandInfo.end(),
                                    [&](const CommandInfo& info) { return name == info.name; });
    if (found == commandInfo.end()) return "unknown command: " + name + " (quelvar-report --help lists them)";
    options.command = found->command;
    if (options.by.empty()) options.by = options.command == Command::bill ? "ext" : "category";
    std::string format, lang, encoding;
    const std::unique_ptr<CLI::App> app = commandLine(options, format, lang, encoding);
    // CLI11 takes the arguments last first.
    std::vector<std::string> reversed(arguments.rbegin(), arguments.rend());
    reversed.push_back(name);
    CLI::App* command = app->get_subcommand(name);
    try {
        app->parse(reversed);
    } catch (const CLI::ParseError& error) {
        return oneLine(error.what());
    }
    if (const std::vector<std::string> extra = command->remaining(); !extra.empty()) {
        const auto option = std::find_if(extra.begin(), extra.end(), [](const std::string& x) { return x.starts_with("-"); });
        return option != extra.end() ? "unknown option " + *option + " (quelvar-report help " + name + " lists them)"
                                     : "unexpected argument " + extra.front();
    }
    if (format == "csv") options.format = Format::csv;
    else if (format == "json") options.format = Format::json;
    else if (format == "html") options.format = Format::html;
    else if (format == "xlsx") options.format = Format::xlsx;
    if (lang == "en") options.lang = Lang::en;
    options.gb18030 = encoding == "gb18030";

    if (const std::string wrong = monthPeriod(options); !wrong.empty()) return wrong;
    long from = 0, to = 0;
    if (options.from && !parseDate(*options.from, from)) return "bad date " + *options.from + " (YYYY-MM-DD)";
    if (options.to && !parseDate(*options.to, to)) return "bad date " + *options.to + " (YYYY-MM-DD)";
    if (options.from && options.to && from > to) return "--from " + *options.from + " is after --to " + *options.to;
    if ((options.command == Command::summary || options.command == Command::bill) && (!options.from || !options.to))
        return name + " needs --from and --to, or --month";
    if (options.command == Command::explain && options.callId.empty())
        return "explain needs the id of a call, as `quelvar-report calls` shows it";
    if (options.format == Format::xlsx && !options.output) return "--format xlsx needs --output FILE";
    if (options.gb18030 && options.format != Format::csv) return "--encoding gb18030 is for --format csv";
    if (options.unratedList && options.format != Format::table && options.format != Format::csv &&
        options.format != Format::json)
        return "bill --unrated writes a table, csv or json";
    if (options.perDepartment && options.format != Format::xlsx) return "--per-department is for --format xlsx";
    if (options.appendix && options.format != Format::html) return "--appendix is for --format html";
    if (options.at) {
        // "YYYY-MM-DD HH:MM" (or with seconds), as a moment of the index.
        std::string moment = *options.at;
        if (moment.size() == 16) moment += ":00";
        if (moment.size() > 10 && moment[10] == ' ') moment[10] = 'T';
        long long seconds = 0;
        if (!parseMoment(moment, seconds)) return "bad --at " + *options.at + " (\"YYYY-MM-DD HH:MM\")";
        options.at = moment;
    }
    if (options.output) options.output = outputPath(options);
    if (options.switchName) options.switchName = switchFolder(*options.switchName);
    return {};
}

std::string overallHelp() {
    std::string text = "quelvar-report: answers from the calls the collector filed.\n\n"
                       "usage: quelvar-report COMMAND [OPTIONS]\n\nCommands:\n";
    for (const CommandInfo& info : commandInfo) {
        std::string command = info.name;
        command.resize(10, ' ');
        text += "  " + command + info.what + "\n";
    }
    return text +
           "\n`quelvar-report help COMMAND` (or COMMAND --help) shows a command's options. A period is\n"
           "--from DATE --to DATE or --month YYYY-MM|last. The index, tariffs.csv and directory.csv are\n"
           "read from beside the program unless named. Exit status 0, or 2 with one line on standard\n"
           "error.\n";
}

std::optional<std::string> commandHelp(const std::string& name) {
    Options options;
    std::string format, lang, encoding;
    const std::unique_ptr<CLI::App> app = commandLine(options, format, lang, encoding);
    for (const CommandInfo& info : commandInfo) {
        if (name != info.name) continue;
        return app->get_subcommand(name)->help("quelvar-report");
    }
    return std::nullopt;
}

std::string usageLines() {
    return "usage: quelvar-report COMMAND [OPTIONS]\n"
           "(commands: index, calls, summary, status, bill, explain, alerts, watch)\n"
           "`quelvar-report --help` says more.\n";
}

}  // namespace quelvar::report
