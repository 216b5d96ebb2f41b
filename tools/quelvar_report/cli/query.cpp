#include "quelvar_report/cli/query.h"

#include <sqlite3.h>

#include <algorithm>
#include <charconv>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <set>

#include "platform/files.h"
#include "platform/status.h"
#include "quelvar_report/output/bill_render.h"
#include "quelvar_report/rating/bill.h"
#include "quelvar_report/reading/dates.h"
#include "quelvar_report/cli/explain.h"
#include "quelvar_report/output/html_report.h"
#include "quelvar_report/rating/trend.h"
#include "quelvar_report/index/index.h"
#include "quelvar_report/index/index_reader.h"
#include "quelvar_report/reading/log_counts.h"
#include "quelvar_report/output/output.h"
#include "quelvar_report/index/schema.h"
#include "quelvar_report/output/xlsx_report.h"

namespace quelvar::report {
namespace {

// ---- Arguments.

enum class Command { calls, summary, status, bill, explain };

struct Options {
    Command command = Command::calls;
    std::string database;
    std::vector<std::string> roots;
    Format format = Format::table;
    std::optional<std::string> from, to, switchName, extension, number, category;
    std::string by = "category";
    int days = 7;
    // bill and explain
    std::string tariffs, directory;
    bool directoryGiven = false;
    std::string callId;
    std::optional<std::string> output;
    std::optional<std::string> month;  // YYYY-MM or "last"
    bool appendix = false;             // bill --format html: the long lists too
    std::time_t now = 0;
};

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

const std::vector<std::string> groupings = {"switch",  "ext",         "account", "category", "day",
                                            "hour",    "destination", "person",  "department"};

// A switch as given (00:1A:2B:3C:4D:5E) or as its folder is named.
std::string switchFolder(std::string mac) {
    for (char& c : mac)
        if (c == ':' || c == '/' || c == '\\') c = '-';
    return mac;
}

// An empty text when the arguments are good, else what is wrong with them.
std::string parseOptions(const std::vector<std::string>& arguments, Options& options) {
    const bool filters = options.command != Command::status;
    const bool rating = options.command == Command::bill || options.command == Command::explain;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& name = arguments[i];
        if (options.command == Command::explain && !name.starts_with("--") && options.callId.empty()) {
            options.callId = name;
            continue;
        }
        const auto value = [&]() -> const std::string* {
            // An option in the place of the value means the value was left out.
            if (i + 1 >= arguments.size() || arguments[i + 1].starts_with("--")) return nullptr;
            return &arguments[++i];
        };
        const std::string* given = nullptr;
        const auto take = [&](std::optional<std::string>& into) {
            given = value();
            if (given) into = *given;
        };
        if (name == "--db") {
            if ((given = value())) options.database = *given;
        } else if (name == "--format") {
            if ((given = value())) {
                if (*given == "table") options.format = Format::table;
                else if (*given == "csv") options.format = Format::csv;
                else if (*given == "json") options.format = Format::json;
                else if (options.command == Command::bill && *given == "html") options.format = Format::html;
                else if (options.command == Command::bill && *given == "xlsx") options.format = Format::xlsx;
                else
                    return "unknown --format " + *given +
                           (options.command == Command::bill ? " (table, csv, json, html or xlsx)" : " (table, csv or json)");
            }
        } else if (filters && name == "--from") take(options.from);
        else if (filters && name == "--to") take(options.to);
        else if (filters && name == "--switch") take(options.switchName);
        else if (filters && name == "--ext") take(options.extension);
        else if (filters && name == "--number") take(options.number);
        else if (filters && name == "--category") take(options.category);
        else if (options.command == Command::summary && name == "--by") {
            if ((given = value())) {
                if (std::find(groupings.begin(), groupings.end(), *given) == groupings.end())
                    return "unknown --by " + *given +
                           " (switch, ext, account, category, day, hour, destination, person or department)";
                options.by = *given;
            }
        } else if (options.command == Command::bill && name == "--by") {
            if ((given = value())) {
                if (std::find(billGroupings.begin(), billGroupings.end(), *given) == billGroupings.end())
                    return "unknown --by " + *given + " (ext, person, department or switch)";
                options.by = *given;
            }
        } else if (rating && name == "--tariffs") {
            if ((given = value())) options.tariffs = *given;
        } else if ((rating || options.command == Command::summary) && name == "--directory") {
            if ((given = value())) {
                options.directory = *given;
                options.directoryGiven = true;
            }
        } else if (options.command == Command::bill && name == "--month") {
            take(options.month);
        } else if (options.command == Command::bill && name == "--appendix") {
            options.appendix = true;
            continue;
        } else if (name == "--output") {
            take(options.output);
        } else if (options.command == Command::status && name == "--days") {
            if ((given = value()) && (!parseNumber(*given, options.days) || options.days < 1 || options.days > 3660))
                return "--days takes a number of days from 1 to 3660, not " + *given;
        } else if (options.command == Command::status && name == "--root") {
            if ((given = value())) options.roots.push_back(*given);
        } else {
            return "unknown option " + name;
        }
        if (!given) return name + " needs a value";
    }
    if (const std::string wrong = monthPeriod(options); !wrong.empty()) return wrong;
    long from = 0, to = 0;
    if (options.from && !parseDate(*options.from, from)) return "bad date " + *options.from + " (YYYY-MM-DD)";
    if (options.to && !parseDate(*options.to, to)) return "bad date " + *options.to + " (YYYY-MM-DD)";
    if (options.from && options.to && from > to) return "--from " + *options.from + " is after --to " + *options.to;
    if ((options.command == Command::summary || options.command == Command::bill) && (!options.from || !options.to))
        return std::string(options.command == Command::bill ? "bill needs --from and --to, or --month" : "summary needs --from and --to");
    if (options.command == Command::explain && options.format == Format::csv) return "explain writes a table or json";
    if (options.command == Command::explain && options.callId.empty())
        return "explain needs the id of a call, as `quelvar-report calls` shows it";
    if (options.format == Format::xlsx && !options.output) return "--format xlsx needs --output FILE";
    if (options.appendix && options.format != Format::html) return "--appendix is for --format html";
    if (options.output) options.output = outputPath(options);
    if (options.switchName) options.switchName = switchFolder(*options.switchName);
    return {};
}

// ---- The calls a query is about.

struct Filter {
    std::string where;
    std::vector<std::string> values;
};

Filter callFilter(const Options& options) {
    Filter filter{std::string("WHERE ") + notCalls, {}};
    const auto add = [&](const std::string& condition, std::vector<std::string> values) {
        filter.where += " AND " + condition;
        filter.values.insert(filter.values.end(), values.begin(), values.end());
    };
    if (options.from) add(std::string(when) + " >= ?", {*options.from});
    if (options.to) add(std::string(when) + " < date(?, '+1 day')", {*options.to});
    if (options.switchName) add("switch = ? COLLATE NOCASE", {*options.switchName});
    if (options.extension) add("(caller = ? OR account = ?)", {*options.extension, *options.extension});
    if (options.number) add("substr(callee, 1, length(?)) = ?", {*options.number, *options.number});
    if (options.category) add("category = ?", {*options.category});
    return filter;
}

// Rows of the workbook have no switch: a terminal says so; CSV and JSON keep
// the empty name.
std::string switchShown(const std::string& name, Format format) {
    return name.empty() && format == Format::table ? std::string("(workbook)") : name;
}

std::string render(const std::vector<Table>& tables, Format format) {
    return format == Format::csv ? renderCsv(tables) : renderTables(tables);
}

// The answer on its way out: a list of a million calls is not held whole.
class Sink {
public:
    explicit Sink(const Writer& write) : write_(write) {}
    Sink& operator+=(std::string_view text) {
        buffer_.append(text);
        if (buffer_.size() >= (1u << 20)) flush();
        return *this;
    }
    bool flush() {
        if (!buffer_.empty() && ok_) ok_ = write_(buffer_);
        buffer_.clear();
        return ok_;
    }

private:
    const Writer& write_;
    std::string buffer_;
    bool ok_ = true;
};

// ---- calls

Status calls(sqlite3* database, const Options& options, Sink& out) {
    const Filter filter = callFilter(options);
    Statement query(database,
                    "SELECT switch, call_id, account, caller, callee, category, route, start, seconds, legs FROM calls " +
                        filter.where + " ORDER BY " + when + ", switch, call_id");
    query.bind(filter.values);
    Table table{"",
                {{"switch"},
                 {"id", Kind::phone},
                 {"account", Kind::phone},
                 {"caller", Kind::phone},
                 {"callee", Kind::phone},
                 {"category"},
                 {"route"},
                 {"start", Kind::time},
                 {"seconds", Kind::number},
                 {"legs", Kind::number}},
                {}};
    if (options.format == Format::json) out += "{\"calls\":[";
    if (options.format == Format::csv) out += std::string(byteOrderMark) + csvTitles(table.columns);
    bool first = true;
    while (query.step()) {
        std::vector<std::string> row;
        for (int column = 0; column < 10; ++column) row.push_back(query.text(column));
        if (options.format == Format::json) {
            const std::string start = row[7];
            out += std::string(first ? "" : ",") + "\n{\"switch\":" + jsonString(row[0]) + ",\"id\":" + jsonString(row[1]) +
                   ",\"account\":" + jsonString(row[2]) + ",\"caller\":" + jsonString(row[3]) +
                   ",\"callee\":" + jsonString(row[4]) + ",\"category\":" + jsonString(row[5]) +
                   ",\"route\":" + jsonString(row[6]) + ",\"start\":" + jsonStringOrNull(query.null(7) ? nullptr : &start) +
                   ",\"seconds\":" + std::to_string(query.integer(8)) + ",\"legs\":" + std::to_string(query.integer(9)) + "}";
        } else if (options.format == Format::csv) {
            out += csvRow(table.columns, row);
        } else {
            row[0] = switchShown(row[0], options.format);
            table.rows.push_back(std::move(row));
        }
        first = false;
    }
    if (!query.status().ok()) return query.status();
    if (options.format == Format::json) out += "]}\n";
    if (options.format == Format::table)
        out += renderTables({table}) + std::to_string(table.rows.size()) + " calls\n";
    return {};
}

// ---- summary

struct Group {
    std::string name;
    long long calls = 0;
    long long seconds = 0;
    long long longest = 0;
};

std::string groupExpression(const std::string& by) {
    if (by == "switch") return "switch";
    if (by == "ext") return "caller";
    if (by == "account") return "account";
    if (by == "day") return std::string("substr(") + when + ", 1, 10)";
    if (by == "hour") return "COALESCE(substr(start, 12, 2), '')";
    if (by == "destination") return "callee";
    return "category";
}

Status summary(sqlite3* database, const Options& options, const Directory& directory, Sink& out) {
    const Filter filter = callFilter(options);
    std::vector<Group> groups;
    Group total{"(total)"};
    if (options.by == "person" || options.by == "department") {
        // People come from the directory, which SQL does not know: the calls
        // go through the pass that bills use, unrated.
        std::map<std::string, Group> byName;
        const Status passed = rateCalls(database, RatingPass{filter.where, filter.values, false, options.by}, Tariffs(),
                                        directory, [&](const RatedCall& call) {
                                            Group& group = byName[call.group];
                                            group.name = call.group;
                                            ++group.calls;
                                            group.seconds += call.seconds;
                                            group.longest = std::max(group.longest, call.seconds);
                                        });
        if (!passed.ok()) return passed;
        for (auto& [name, group] : byName) groups.push_back(std::move(group));
    } else {
        const std::string order = options.by == "destination" ? "2 DESC, 3 DESC, 1" : "1";
        Statement query(database, "SELECT " + groupExpression(options.by) +
                                      " AS grouped, count(*), sum(seconds), max(seconds) FROM calls " + filter.where +
                                      " GROUP BY grouped ORDER BY " + order);
        query.bind(filter.values);
        while (query.step()) groups.push_back(Group{query.text(0), query.integer(1), query.integer(2), query.integer(3)});
        if (!query.status().ok()) return query.status();
    }
    for (const Group& group : groups) {
        total.calls += group.calls;
        total.seconds += group.seconds;
        total.longest = std::max(total.longest, group.longest);
    }

    Statement top(database, "SELECT callee, count(*), sum(seconds), max(seconds) FROM calls " + filter.where +
                                " GROUP BY callee ORDER BY 2 DESC, 3 DESC, 1 LIMIT 20");
    top.bind(filter.values);
    std::vector<Group> destinations;
    while (top.step()) destinations.push_back(Group{top.text(0), top.integer(1), top.integer(2), top.integer(3)});
    if (!top.status().ok()) return top.status();

    const auto average = [](const Group& group) {
        return decimal(group.calls ? static_cast<double>(group.seconds) / static_cast<double>(group.calls) : 0);
    };
    if (options.format == Format::json) {
        out += "{\"from\":" + jsonString(*options.from) + ",\"to\":" + jsonString(*options.to) +
              ",\"by\":" + jsonString(options.by) + ",\"groups\":[";
        for (std::size_t i = 0; i < groups.size(); ++i)
            out += std::string(i ? "," : "") + "\n{\"group\":" + jsonString(groups[i].name) +
                   ",\"calls\":" + std::to_string(groups[i].calls) + ",\"seconds\":" + std::to_string(groups[i].seconds) +
                   ",\"average_seconds\":" + average(groups[i]) +
                   ",\"longest_seconds\":" + std::to_string(groups[i].longest) + "}";
        out += "],\n\"total\":{\"calls\":" + std::to_string(total.calls) + ",\"seconds\":" +
               std::to_string(total.seconds) + ",\"average_seconds\":" + average(total) +
               ",\"longest_seconds\":" + std::to_string(total.longest) + "},\n\"top_destinations\":[";
        for (std::size_t i = 0; i < destinations.size(); ++i)
            out += std::string(i ? "," : "") + "\n{\"number\":" + jsonString(destinations[i].name) +
                   ",\"calls\":" + std::to_string(destinations[i].calls) +
                   ",\"seconds\":" + std::to_string(destinations[i].seconds) + "}";
        out += "]}\n";
        return {};
    }
    const bool phones = options.by == "ext" || options.by == "account" || options.by == "destination";
    Table table{"Calls from " + *options.from + " to " + *options.to + " by " + options.by,
                {{options.by, phones ? Kind::phone : Kind::text},
                 {"calls", Kind::number},
                 {"minutes", Kind::number},
                 {"seconds", Kind::number},
                 {"average seconds", Kind::number},
                 {"longest seconds", Kind::number}},
                {}};
    groups.push_back(total);
    for (const Group& group : groups)
        table.rows.push_back({options.by == "switch" ? switchShown(group.name, options.format) : group.name, std::to_string(group.calls), decimal(static_cast<double>(group.seconds) / 60),
                              std::to_string(group.seconds), average(group), std::to_string(group.longest)});
    Table topTable{"Top destinations",
                   {{"number", Kind::phone}, {"calls", Kind::number}, {"seconds", Kind::number}},
                   {}};
    for (const Group& destination : destinations)
        topTable.rows.push_back(
            {destination.name, std::to_string(destination.calls), std::to_string(destination.seconds)});
    if (options.format == Format::table) {
        out += renderTables({table, topTable});
        return {};
    }
    out += std::string(byteOrderMark) + csvTitles(table.columns);
    for (const auto& row : table.rows) out += csvRow(table.columns, row);
    out += "\r\n" + csvTitles(topTable.columns);
    for (const auto& row : topTable.rows) out += csvRow(topTable.columns, row);
    return {};
}

// ---- status

struct DayCounts {
    long long records = 0, errRecords = 0, unparsable = 0, repeats = 0;
    std::vector<int> gaps;
};

struct SwitchStatus {
    std::map<std::string, DayCounts> days;
    std::optional<std::string> lastRecord;
    std::vector<int> usualHours;
    long long future = 0, past = 0;
};

std::string hoursText(const std::vector<int>& hours) {
    std::string text;
    for (const int hour : hours) {
        char two[8];
        std::snprintf(two, sizeof two, "%s%02d", text.empty() ? "" : " ", hour);
        text += two;
    }
    return text;
}

std::string hoursJson(const std::vector<int>& hours) {
    std::string text = "[";
    for (std::size_t i = 0; i < hours.size(); ++i) text += (i ? "," : "") + std::to_string(hours[i]);
    return text + "]";
}

// The folders whose log/ is read: those of the roots given, else those of the
// collector's own roots.
std::vector<std::string> logFolders(const Options& options, const std::string& programFolder) {
    std::vector<std::string> folders;
    for (const std::string& root : options.roots.empty() ? defaultRoots(programFolder) : options.roots) {
        const std::string folder = root + "/log";
        if (platform::isFolder(folder) && std::find(folders.begin(), folders.end(), folder) == folders.end())
            folders.push_back(folder);
    }
    return folders;
}

// A switch's usual busy hours need this many days with records among the
// last 28: with fewer, no hour is usual and no gap is told.
constexpr int daysForUsualHours = 3;
constexpr int historyDays = 28;

Status status(sqlite3* database, const Options& options, const std::string& programFolder, std::time_t now,
              Sink& sink) {
    std::string out;
    for (const std::string& root : options.roots)
        if (!platform::isFolder(root))
            return Status::error(Status::Code::notFound, "read", root, "not a folder that can be read");
    std::tm local{};
    localtime_r(&now, &local);
    const long today = daysFromCivil(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
    const std::string first = dateText(today - options.days + 1);
    const std::string last = dateText(today);
    const std::string historyStart = dateText(today - historyDays);
    char clock[16];
    std::snprintf(clock, sizeof clock, "T%02d:%02d:%02d", local.tm_hour, local.tm_min, local.tm_sec);
    const std::string latestPossible = dateText(today + 1) + clock;

    std::map<std::string, SwitchStatus> switches;
    {
        Statement query(database,
                        "SELECT switch, day, sum((flags & 2) = 0), sum((flags & 3) = 1), sum((flags & 2) != 0), "
                        "sum((flags & 6) = 4) FROM calls WHERE day >= ? AND day <= ? GROUP BY switch, day");
        query.bind({first, last});
        while (query.step())
            switches[query.text(0)].days[query.text(1)] =
                DayCounts{query.integer(2), query.integer(3), query.integer(4), query.integer(5), {}};
        if (!query.status().ok()) return query.status();
    }
    {
        Statement query(database,
                        "SELECT switch, max(CASE WHEN start <= ?1 THEN start END), sum(start > ?1), "
                        "sum(start < date(day, '-1 year')) FROM calls WHERE (flags & 2) = 0 "
                        "AND (day >= ?2 OR start > ?1) GROUP BY switch");
        query.bind({latestPossible, historyStart});
        while (query.step()) {
            SwitchStatus& entry = switches[query.text(0)];
            if (!query.null(1)) entry.lastRecord = query.text(1);
            entry.future = query.integer(2);
            entry.past = query.integer(3);
        }
        if (!query.status().ok()) return query.status();
    }
    {
        // Hours with records per switch and day, over the 28 days before
        // today and the days asked for.
        const std::string from = std::min(first, historyStart);
        Statement query(database,
                        "SELECT DISTINCT switch, substr(start, 1, 10), CAST(substr(start, 12, 2) AS INTEGER) FROM calls "
                        "WHERE (flags & 2) = 0 AND start >= ? AND start < date(?, '+1 day')");
        query.bind({from, last});
        std::map<std::string, std::map<std::string, std::set<int>>> hours;
        while (query.step()) hours[query.text(0)][query.text(1)].insert(static_cast<int>(query.integer(2)));
        if (!query.status().ok()) return query.status();
        for (auto& [name, entry] : switches) {
            const auto& byDay = hours[name];
            int daysWithRecords = 0;
            int seen[24] = {};
            for (const auto& [day, dayHours] : byDay) {
                if (day < historyStart || day >= last) continue;
                ++daysWithRecords;
                for (const int hour : dayHours)
                    if (hour >= 0 && hour < 24) ++seen[hour];
            }
            if (daysWithRecords >= daysForUsualHours)
                for (int hour = 0; hour < 24; ++hour)
                    if (seen[hour] * 2 >= daysWithRecords) entry.usualHours.push_back(hour);
            // Before its first record a switch was not there to miss an hour.
            const std::string firstDay = byDay.empty() ? std::string() : byDay.begin()->first;
            for (long day = today - options.days + 1; day <= today; ++day) {
                const std::string date = dateText(day);
                DayCounts& counts = entry.days[date];
                if (date < firstDay) continue;
                const auto found = byDay.find(date);
                for (const int hour : entry.usualHours) {
                    const bool over = day < today || hour < local.tm_hour;
                    if (over && (found == byDay.end() || !found->second.contains(hour))) counts.gaps.push_back(hour);
                }
            }
        }
    }

    // The event log.
    const std::vector<std::string> folders = logFolders(options, programFolder);
    std::vector<std::pair<std::string, long>> notWritten;
    LogCounts total;
    for (long day = today - options.days + 1; day <= today; ++day) {
        const std::string date = dateText(day);
        LogCounts counts;
        for (const std::string& folder : folders) {
            const std::string path = folder + "/" + date.substr(0, 4) + date.substr(5, 2) + date.substr(8, 2) + ".log";
            if (!platform::pathExists(path)) continue;
            const Status read = countLogFile(path, counts);
            if (!read.ok()) return read;
        }
        notWritten.emplace_back(date, counts.notWritten);
        total.notWritten += counts.notWritten;
        for (const auto& [sender, sent] : counts.senders) {
            SenderCounts& sum = total.senders[sender];
            sum.unknown += sent.unknown;
            sum.tooLong += sent.tooLong;
            sum.refused += sent.refused;
        }
    }

    if (options.format == Format::json) {
        out = "{\"from\":" + jsonString(first) + ",\"to\":" + jsonString(last) + ",\"switches\":[";
        bool firstSwitch = true;
        for (const auto& [name, entry] : switches) {
            out += std::string(firstSwitch ? "" : ",") + "\n{\"switch\":" + jsonString(name) + ",\"days\":[";
            firstSwitch = false;
            bool firstDay = true;
            for (const auto& [date, counts] : entry.days) {
                if (date < first || date > last) continue;
                out += std::string(firstDay ? "" : ",") + "\n {\"date\":" + jsonString(date) +
                       ",\"records\":" + std::to_string(counts.records) +
                       ",\"err_records\":" + std::to_string(counts.errRecords) +
                       ",\"unparsable\":" + std::to_string(counts.unparsable) +
                       ",\"repeats\":" + std::to_string(counts.repeats) + ",\"gaps\":" + hoursJson(counts.gaps) + "}";
                firstDay = false;
            }
            out += "],\n \"last_record\":" + jsonStringOrNull(entry.lastRecord ? &*entry.lastRecord : nullptr) +
                   ",\"usual_hours\":" + hoursJson(entry.usualHours) +
                   ",\"future_records\":" + std::to_string(entry.future) +
                   ",\"past_records\":" + std::to_string(entry.past) + "}";
        }
        out += "],\n\"log\":{\"folders\":[";
        for (std::size_t i = 0; i < folders.size(); ++i) out += (i ? "," : "") + jsonString(folders[i]);
        out += "],\"days\":[";
        for (std::size_t i = 0; i < notWritten.size(); ++i)
            out += std::string(i ? "," : "") + "{\"date\":" + jsonString(notWritten[i].first) +
                   ",\"not_written\":" + std::to_string(notWritten[i].second) + "}";
        out += "],\"senders\":[";
        bool firstSender = true;
        for (const auto& [sender, counts] : total.senders) {
            out += std::string(firstSender ? "" : ",") + "\n{\"sender\":" + jsonString(sender) +
                   ",\"unknown\":" + std::to_string(counts.unknown) + ",\"too_long\":" + std::to_string(counts.tooLong) +
                   ",\"refused\":" + std::to_string(counts.refused) + "}";
            firstSender = false;
        }
        out += "]}}\n";
        sink += out;
        return {};
    }

    const auto switchName = [&](const std::string& name) { return switchShown(name, options.format); };
    Table days{"Records by switch and day, " + first + " to " + last,
               {{"switch"},
                {"date"},
                {"records", Kind::number},
                {"err", Kind::number},
                {"unparsable", Kind::number},
                {"repeats", Kind::number},
                {"hours without records"}},
               {}};
    Table perSwitch{"Switches",
                    {{"switch"},
                     {"last record", Kind::time},
                     {"usual hours"},
                     {"future", Kind::number},
                     {"past", Kind::number}},
                    {}};
    for (const auto& [name, entry] : switches) {
        for (const auto& [date, counts] : entry.days)
            if (date >= first && date <= last)
                days.rows.push_back({switchName(name), date, std::to_string(counts.records),
                                     std::to_string(counts.errRecords), std::to_string(counts.unparsable),
                                     std::to_string(counts.repeats), hoursText(counts.gaps)});
        perSwitch.rows.push_back({switchName(name), entry.lastRecord.value_or(""), hoursText(entry.usualHours),
                                  std::to_string(entry.future), std::to_string(entry.past)});
    }
    Table log{"Event log (" + (folders.empty() ? std::string("none found") : folders.front()) +
                  (folders.size() > 1 ? " and " + std::to_string(folders.size() - 1) + " more" : "") + ")",
              {{"date"}, {"records not written", Kind::number}},
              {}};
    for (const auto& [date, count] : notWritten) log.rows.push_back({date, std::to_string(count)});
    Table senders{"Datagrams not taken, by sender",
                  {{"sender"}, {"unknown", Kind::number}, {"too long", Kind::number}, {"refused", Kind::number}},
                  {}};
    for (const auto& [sender, counts] : total.senders)
        senders.rows.push_back({sender, std::to_string(counts.unknown), std::to_string(counts.tooLong),
                                std::to_string(counts.refused)});
    sink += render({days, perSwitch, log, senders}, options.format);
    return {};
}

// An answer written to a file appears whole or not at all: it is written
// beside the file, flushed to the disk and renamed over it at the end; left
// unfinished, it is removed.
class OutputFile {
public:
    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile() {
        if (file_) std::fclose(file_);
        if (!partial_.empty()) std::remove(partial_.c_str());
    }
    // For an answer written here piece by piece.
    Status open(const std::string& path) {
        reserve(path);
        file_ = std::fopen(partial_.c_str(), "wb");
        if (!file_) return Status::error(Status::Code::failed, "write", partial_, std::strerror(errno));
        return {};
    }
    // For a writer of its own (the workbook): the name it is to write.
    std::string reserve(const std::string& path) {
        path_ = path;
        partial_ = path + ".partial";
        return partial_;
    }
    bool write(std::string_view piece) { return file_ && std::fwrite(piece.data(), 1, piece.size(), file_) == piece.size(); }
    Status commit() {
        bool written = false;
        if (file_) {
            written = std::fflush(file_) == 0 && fsync(fileno(file_)) == 0;
            const int failure = errno;
            std::fclose(file_);
            file_ = nullptr;
            errno = failure;
        } else if (const int handle = ::open(partial_.c_str(), O_RDONLY | O_CLOEXEC); handle >= 0) {
            written = fsync(handle) == 0;
            const int failure = errno;
            close(handle);
            errno = failure;
        }
        if (!written || std::rename(partial_.c_str(), path_.c_str()) != 0)
            return Status::error(Status::Code::failed, "write", path_, std::strerror(errno));
        partial_.clear();
        return {};
    }

private:
    std::string path_, partial_;
    std::FILE* file_ = nullptr;
};

// ---- bill

Status bill(sqlite3* database, const Options& options, const Tariffs& tariffs, const Directory& directory,
            std::time_t now, Sink& out) {
    const Filter filter = callFilter(options);
    RatingPass pass{filter.where, filter.values, false, options.by};
    // The site pays for the calls it makes and forwards, not for those it
    // receives: those are only counted.
    long long incomingCalls = 0;
    ReportBuilder builder(*options.from, *options.to, options.by);
    builder.directoryInUse(!directory.empty());
    std::tm local{};
    localtime_r(&now, &local);
    char generated[64];
    std::snprintf(generated, sizeof generated, "%04d-%02d-%02d %02d:%02d", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday, local.tm_hour, local.tm_min);

    if (options.format == Format::xlsx) {
        // The workbook lists the calls in time order; it appears whole or
        // not at all.
        pass.inOrder = true;
        OutputFile file;
        XlsxReport workbook;
        Status result = workbook.open(file.reserve(*options.output));
        if (result.ok())
            result = rateCalls(
                database, pass, tariffs, directory,
                [&](const RatedCall& call) {
                    builder.add(call);
                    workbook.addCall(call);
                },
                &incomingCalls);
        Report report = builder.finish(generated);
        report.bill.incoming = incomingCalls;
        if (result.ok()) result = workbook.finish(report);
        if (result.ok()) result = file.commit();
        return result;
    }

    Status rated = rateCalls(
        database, pass, tariffs, directory, [&](const RatedCall& call) { builder.add(call); }, &incomingCalls);
    if (!rated.ok()) return rated;
    const std::map<std::string, long long> reasons = builder.unratedReasons();
    Report report = builder.finish(generated);
    report.bill.incoming = incomingCalls;
    if (options.format == Format::html) {
        // Twelve months to the period's last, over every call: a filtered
        // bill has no months before to compare with.
        if (!options.switchName && !options.extension && !options.number && !options.category) {
            const std::string last = options.to->substr(0, 7);
            const Status trend =
                monthlyTrend(database, monthsBefore(last, 11), last, tariffs, directory, report.trend);
            if (!trend.ok()) return trend;
        }
        out += renderHtml(report, HtmlOptions{options.appendix});
    }
    else out += renderBill(report.bill, reasons, options.format);
    return {};
}

}  // namespace

bool isQueryCommand(const std::string& command) {
    return command == "calls" || command == "summary" || command == "status" || command == "bill" ||
           command == "explain";
}

int runQuery(const std::string& command, const std::vector<std::string>& arguments,
             const std::string& programFolder, std::time_t now, const Writer& write, std::string& error) {
    Options options;
    options.command = command == "summary"   ? Command::summary
                      : command == "status"  ? Command::status
                      : command == "bill"    ? Command::bill
                      : command == "explain" ? Command::explain
                                             : Command::calls;
    if (options.command == Command::bill) options.by = "ext";
    options.database = programFolder + "/quelvar.db";
    options.tariffs = programFolder + "/tariffs.csv";
    options.directory = programFolder + "/directory.csv";
    options.now = now;
    if (!isQueryCommand(command)) {
        error = "unknown command: " + command;
        return 2;
    }
    if (const std::string wrong = parseOptions(arguments, options); !wrong.empty()) {
        error = wrong;
        return 2;
    }
    Status result;
    Tariffs tariffs;
    Directory directory;
    if (options.command == Command::bill || options.command == Command::explain) {
        if (!platform::pathExists(options.tariffs))
            result = Status::error(Status::Code::notFound, "", "",
                                   "no tariffs at " + options.tariffs +
                                       ": copy tariffs.csv.example beside the program to tariffs.csv and adapt it, "
                                       "or name a file with --tariffs");
        else
            result = Tariffs::read(options.tariffs, tariffs);
    }
    const bool people = options.command == Command::bill || options.command == Command::explain ||
                        (options.command == Command::summary && (options.by == "person" || options.by == "department"));
    if (result.ok() && people && (options.directoryGiven || platform::pathExists(options.directory)))
        result = Directory::read(options.directory, directory);

    sqlite3* database = nullptr;
    OutputFile file;
    const Writer toFile = [&](std::string_view piece) { return file.write(piece); };
    Sink out(options.output ? toFile : write);
    if (result.ok()) result = openIndex(options.database, database);
    if (result.ok() && options.output && options.format != Format::xlsx) result = file.open(*options.output);
    if (result.ok()) {
        if (options.command == Command::calls) result = calls(database, options, out);
        else if (options.command == Command::summary) result = summary(database, options, directory, out);
        else if (options.command == Command::bill) result = bill(database, options, tariffs, directory, now, out);
        else if (options.command == Command::explain) {
            const Filter filter = callFilter(options);
            std::string text;
            result = explainCall(database, options.callId, filter.where, filter.values, tariffs, directory,
                                 options.tariffs, options.format, text);
            out += text;
        } else result = status(database, options, programFolder, now, out);
    }
    sqlite3_close(database);
    if (result.ok() && !out.flush()) result = Status::error(Status::Code::failed, "", "", "the answer could not be written");
    if (result.ok() && options.output && options.format != Format::xlsx) result = file.commit();
    if (!result.ok()) {
        error = result.text();
        if (!error.empty() && error.front() == ':') error = error.substr(2);
        return 2;
    }
    return 0;
}

int runQuery(const std::string& command, const std::vector<std::string>& arguments,
             const std::string& programFolder, std::time_t now, std::string& out, std::string& error) {
    const int status = runQuery(command, arguments, programFolder, now,
                                [&](std::string_view piece) {
                                    out.append(piece);
                                    return true;
                                },
                                error);
    if (status != 0) out.clear();
    return status;
}

}  // namespace quelvar::report
