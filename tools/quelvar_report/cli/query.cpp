#include "quelvar_report/cli/query.h"

#include <sqlite3.h>

#include <algorithm>
#include <charconv>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <random>
#include <set>

#include "platform/files.h"
#include "platform/status.h"
#include "quelvar_report/alerting/silence.h"
#include "quelvar_report/output/bill_render.h"
#include "quelvar_report/rating/bill.h"
#include "quelvar_report/rating/figures.h"
#include "quelvar_report/reading/dates.h"
#include "quelvar_report/cli/explain.h"
#include "quelvar_report/cli/options.h"
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

// ---- The calls a query is about.

struct Filter {
    std::string where;
    std::vector<std::string> values;
};

// `ratedCategory`: --category is the category a call is billed in, which
// the rating pass decides; it is left to the pass.
Filter callFilter(const Options& options, bool ratedCategory = false) {
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
    if (options.category && !ratedCategory) add("category = ?", {*options.category});
    return filter;
}

// Rows of the workbook have no switch: a terminal says so; CSV and JSON keep
// the empty name.
std::string switchShown(const std::string& name, Format format) {
    return name.empty() && format == Format::table ? std::string("(workbook)") : name;
}

std::string jsonStrings(const std::vector<std::string>& texts) {
    std::string out = "[";
    for (const std::string& text : texts) out += (out.size() > 1 ? "," : "") + jsonString(text);
    return out + "]";
}

std::string render(const std::vector<Table>& tables, Format format) {
    return format == Format::csv ? renderCsv(tables) : renderTables(tables);
}

// The answer on its way out: a list of a million calls is not held whole.
// Pieces are whole rows, so a flush never splits a character.
class Sink {
public:
    explicit Sink(const Writer& write) : write_(write) {}
    Sink& operator+=(std::string_view text) {
        buffer_.append(text);
        if (buffer_.size() >= (1u << 20)) flush();
        return *this;
    }
    bool flush() {
        if (!buffer_.empty() && ok_ && gb18030_) {
            // GB18030 has no byte-order mark a GBK reader would take.
            if (!started_ && buffer_.starts_with(byteOrderMark)) buffer_.erase(0, 3);
            std::string converted;
            ok_ = toGb18030(buffer_, converted);
            buffer_ = std::move(converted);
        }
        started_ = true;
        if (!buffer_.empty() && ok_) ok_ = write_(buffer_);
        buffer_.clear();
        return ok_;
    }
    void toGb18030Encoding() { gb18030_ = true; }

private:
    const Writer& write_;
    std::string buffer_;
    bool ok_ = true;
    bool gb18030_ = false;
    bool started_ = false;
};

// ---- calls

Status calls(sqlite3* database, const Options& options, Sink& out) {
    const Filter filter = callFilter(options);
    Statement query(database,
                    "SELECT switch, call_id, account, caller, callee, category, route, start, seconds, legs FROM calls " +
                        filter.where + " ORDER BY " + when + ", switch, call_id");
    query.bind(filter.values);
    const Lang lang = options.lang;
    Table table{"",
                {{said(lang, "交换机", "switch")},
                 {said(lang, "编号", "id"), Kind::phone},
                 {said(lang, "账号", "account"), Kind::phone},
                 {said(lang, "主叫", "caller"), Kind::phone},
                 {said(lang, "被叫", "callee"), Kind::phone},
                 {said(lang, "类别", "category")},
                 {said(lang, "路由", "route")},
                 {said(lang, "开始时间", "start"), Kind::time},
                 {said(lang, "时长(秒)", "seconds"), Kind::number},
                 {said(lang, "段数", "legs"), Kind::number}},
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
        out += renderTables({table}) + (lang == Lang::en ? std::to_string(table.rows.size()) + " calls\n"
                                                         : "共 " + std::to_string(table.rows.size()) + " 次通话\n");
    return {};
}

// ---- summary

struct Group {
    std::string name;
    long long calls = 0;
    long long seconds = 0;
    long long longest = 0;
    std::string department;               // by person
    std::vector<std::string> extensions;  // by person, and the 未登记 group
    bool unlisted = false;
    void add(long long callSeconds) {
        ++calls;
        seconds += callSeconds;
        longest = std::max(longest, callSeconds);
    }
};

std::string summaryHeading(const std::string& by, Lang lang) {
    if (by == "switch") return said(lang, "交换机", "switch");
    if (by == "ext") return said(lang, "分机", "ext");
    if (by == "account") return said(lang, "账号", "account");
    if (by == "category") return said(lang, "类别", "category");
    if (by == "day") return said(lang, "日期", "day");
    if (by == "hour") return said(lang, "小时", "hour");
    if (by == "destination") return said(lang, "被叫号码", "destination");
    if (by == "person") return said(lang, "姓名", "person");
    if (by == "department") return said(lang, "部门", "department");
    if (by == "trunk") return said(lang, "中继", "trunk");
    if (by == "route") return said(lang, "路由", "route");
    return by;
}

std::string groupExpression(const std::string& by) {
    if (by == "switch") return "switch";
    // An incoming call is the called extension's.
    if (by == "ext") return "CASE WHEN type IN ('IN', 'FI') THEN callee ELSE caller END";
    if (by == "account") return "account";
    if (by == "day") return std::string("substr(") + when + ", 1, 10)";
    if (by == "hour") return "COALESCE(substr(start, 12, 2), '')";
    if (by == "destination") return "callee";
    if (by == "trunk") return "trunk";
    if (by == "route") return "route";
    return "category";
}

// The groups of a summary from the daily figures, when they can answer it:
// no filter there that needs single calls. Gives false when they cannot.
bool summaryFromFigures(sqlite3* database, const Options& options, std::vector<Group>& groups, Status& status) {
    // Not by ext (an incoming call is the called extension's, which the
    // figures do not keep) nor by category (a call the file carries the call
    // before for is in its number's, not the filed one).
    static const std::set<std::string> byNumbers = {"switch", "account", "day"};
    const bool lines = options.by == "trunk" || options.by == "route";
    if ((!lines && !byNumbers.contains(options.by)) || options.number || options.category ||
        (lines && options.extension))
        return false;
    // As callFilter takes the period, so that a day of no real date counts alike.
    std::string where = "day >= ? AND day < date(?, '+1 day')";
    std::vector<std::string> values{*options.from, *options.to};
    if (options.switchName) {
        where += " AND switch = ? COLLATE NOCASE";
        values.push_back(*options.switchName);
    }
    if (options.extension) {
        where += " AND (caller = ? OR account = ?)";
        values.insert(values.end(), {*options.extension, *options.extension});
    }
    const std::string grouped = options.by == "ext" ? "caller" : options.by;
    Statement query(database, "SELECT " + grouped + " AS grouped, sum(calls), sum(seconds), max(longest) FROM " +
                                  (lines ? "day_lines" : "day_numbers") + " WHERE " + where +
                                  " GROUP BY grouped ORDER BY 1");
    query.bind(values);
    while (query.step()) groups.push_back(Group{query.text(0), query.integer(1), query.integer(2), query.integer(3), {}, {}, false});
    status = query.status();
    return true;
}

// A call's group in a summary that goes through the rating pass.
std::string summaryGroupOf(const RatedCall& call, const std::string& by) {
    if (by == "switch") return call.switchName;
    if (by == "ext") return call.number;
    if (by == "account") return call.account;
    if (by == "day") return call.day;
    if (by == "hour") return call.start.size() >= 13 ? call.start.substr(11, 2) : std::string();
    if (by == "destination") return call.callee;
    if (by == "trunk") return call.trunk;
    if (by == "route") return call.route;
    if (by == "person" || by == "department") return call.group;
    return call.category;
}

Status summary(sqlite3* database, const Options& options, const Directory& directory,
               const CallCategories& categories, Sink& out) {
    // People come from the directory, and where the file carries the call
    // before a call's category from its number, which SQL knows neither of:
    // those calls go through the pass that bills use, unrated.
    const bool rated = options.by == "person" || options.by == "department" || options.by == "category" ||
                       options.category.has_value();
    const Filter filter = callFilter(options, rated);
    std::vector<Group> groups;
    Group total;
    total.name = "(total)";
    std::vector<Group> destinations;
    if (rated) {
        std::map<std::string, Group> byName;
        std::map<std::string, std::set<std::string>> numbers;
        std::map<std::string, std::string> people;
        std::map<std::string, Group> byDestination;
        const RatingPass pass{filter.where, filter.values, false, options.by == "person" ? "person" : "department",
                              &categories, options.category.value_or("")};
        const Status passed = rateCalls(database, pass, Tariffs(), directory, [&](const RatedCall& call) {
            const std::string key = summaryGroupOf(call, options.by);
            Group& group = byName[key];
            if (group.calls == 0) {
                group.name = options.by == "person" ? call.person : key;
                group.department = call.known ? call.department : std::string(unlistedDepartment);
                group.unlisted = !call.known && (options.by == "person" || options.by == "department");
                people[key] = call.personKey;
            }
            group.add(call.seconds);
            if ((options.by == "person" || group.unlisted) && !call.number.empty()) numbers[key].insert(call.number);
            Group& destination = byDestination[call.callee];
            destination.name = call.callee;
            destination.add(call.seconds);
        });
        if (!passed.ok()) return passed;
        std::vector<BillGroup> named;
        std::vector<std::string> who;
        for (auto& [key, group] : byName) {
            group.extensions.assign(numbers[key].begin(), numbers[key].end());
            named.push_back(BillGroup{group.name, group.department, "", group.extensions, group.unlisted, {}, {}});
            who.push_back(people[key]);
        }
        if (options.by == "person") nameNamesakes(named, who);
        std::size_t i = 0;
        for (auto& [key, group] : byName) {
            group.name = named[i++].name;
            groups.push_back(std::move(group));
        }
        const auto byCalls = [](const Group& a, const Group& b) {
            if (a.calls != b.calls) return a.calls > b.calls;
            if (a.seconds != b.seconds) return a.seconds > b.seconds;
            return a.name < b.name;
        };
        if (options.by == "destination") std::sort(groups.begin(), groups.end(), byCalls);
        else
            std::stable_sort(groups.begin(), groups.end(), [](const Group& a, const Group& b) {
                if (a.unlisted != b.unlisted) return b.unlisted;
                return a.name != b.name ? a.name < b.name : a.department < b.department;
            });
        for (auto& [number, destination] : byDestination) destinations.push_back(std::move(destination));
        std::sort(destinations.begin(), destinations.end(), byCalls);
        if (destinations.size() > 20) destinations.resize(20);
    } else if (Status read; summaryFromFigures(database, options, groups, read)) {
        if (!read.ok()) return read;
        Statement top(database, "SELECT callee, count(*), sum(seconds), max(seconds) FROM calls " + filter.where +
                                    " GROUP BY callee ORDER BY 2 DESC, 3 DESC, 1 LIMIT 20");
        top.bind(filter.values);
        while (top.step()) destinations.push_back(Group{top.text(0), top.integer(1), top.integer(2), top.integer(3), {}, {}, false});
        if (!top.status().ok()) return top.status();
    } else {
        const std::string order = options.by == "destination" ? "2 DESC, 3 DESC, 1" : "1";
        Statement query(database, "SELECT " + groupExpression(options.by) +
                                      " AS grouped, count(*), sum(seconds), max(seconds) FROM calls " + filter.where +
                                      " GROUP BY grouped ORDER BY " + order);
        query.bind(filter.values);
        while (query.step()) groups.push_back(Group{query.text(0), query.integer(1), query.integer(2), query.integer(3), {}, {}, false});
        if (!query.status().ok()) return query.status();
        Statement top(database, "SELECT callee, count(*), sum(seconds), max(seconds) FROM calls " + filter.where +
                                    " GROUP BY callee ORDER BY 2 DESC, 3 DESC, 1 LIMIT 20");
        top.bind(filter.values);
        while (top.step()) destinations.push_back(Group{top.text(0), top.integer(1), top.integer(2), top.integer(3), {}, {}, false});
        if (!top.status().ok()) return top.status();
    }
    for (const Group& group : groups) {
        total.calls += group.calls;
        total.seconds += group.seconds;
        total.longest = std::max(total.longest, group.longest);
    }

    const auto average = [](const Group& group) {
        return decimal(group.calls ? static_cast<double>(group.seconds) / static_cast<double>(group.calls) : 0);
    };
    if (options.format == Format::json) {
        out += "{\"from\":" + jsonString(*options.from) + ",\"to\":" + jsonString(*options.to) +
              ",\"by\":" + jsonString(options.by) + ",\"groups\":[";
        for (std::size_t i = 0; i < groups.size(); ++i)
            out += std::string(i ? "," : "") + "\n{\"group\":" + jsonString(groups[i].name) +
                   (options.by == "person" ? ",\"department\":" + jsonString(groups[i].department) : std::string()) +
                   ",\"calls\":" + std::to_string(groups[i].calls) + ",\"seconds\":" + std::to_string(groups[i].seconds) +
                   ",\"average_seconds\":" + average(groups[i]) +
                   ",\"longest_seconds\":" + std::to_string(groups[i].longest) +
                   (options.by == "person" || groups[i].unlisted ? ",\"extensions\":" + jsonStrings(groups[i].extensions)
                                                                 : std::string()) +
                   "}";
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
    const bool person = options.by == "person";
    const Lang lang = options.lang;
    const std::string byHeading = summaryHeading(options.by, lang);
    Table table{lang == Lang::en ? "Calls from " + *options.from + " to " + *options.to + " by " + options.by
                                 : "通话统计 " + *options.from + " 至 " + *options.to + "，按" + byHeading,
                {{byHeading, phones ? Kind::phone : Kind::text},
                 {said(lang, "通话次数", "calls"), Kind::number},
                 {said(lang, "时长(分)", "minutes"), Kind::number},
                 {said(lang, "时长(秒)", "seconds"), Kind::number},
                 {said(lang, "平均时长(秒)", "average seconds"), Kind::number},
                 {said(lang, "最长(秒)", "longest seconds"), Kind::number}},
                {}};
    total.name = said(lang, "合计", "(total)");
    if (person) table.columns.insert(table.columns.begin() + 1, Column{said(lang, "部门", "department")});
    groups.push_back(total);
    for (const Group& group : groups) {
        table.rows.push_back({options.by == "switch" ? switchShown(group.name, options.format) : group.name, std::to_string(group.calls), decimal(static_cast<double>(group.seconds) / 60),
                              std::to_string(group.seconds), average(group), std::to_string(group.longest)});
        if (person) table.rows.back().insert(table.rows.back().begin() + 1, &group == &groups.back() ? "" : group.department);
    }
    std::string unlisted;
    for (const Group& group : groups)
        if (group.unlisted && !person)
            for (const std::string& number : group.extensions) unlisted += (unlisted.empty() ? "" : ", ") + number;
    if (!unlisted.empty()) table.title += "; " + std::string(unlistedDepartment) + ": " + unlisted;
    Table topTable{said(lang, "最常拨打的号码", "Top destinations"),
                   {{said(lang, "号码", "number"), Kind::phone},
                    {said(lang, "通话次数", "calls"), Kind::number},
                    {said(lang, "时长(秒)", "seconds"), Kind::number}},
                   {}};
    for (const Group& destination : destinations)
        topTable.rows.push_back(
            {destination.name, std::to_string(destination.calls), std::to_string(destination.seconds)});
    if (options.format == Format::table) {
        out += renderTables({table, topTable});
        return {};
    }
    // One table a CSV file: the top numbers are `summary --by destination`.
    out += renderCsv({table});
    return {};
}

// ---- The page's alerts

// The alerts of the page's period, as `alerts` left them in the index; none
// when the index has no alerts table (alerts were never evaluated with it).
Status pageAlerts(sqlite3* database, const std::string& from, const std::string& to,
                  std::optional<PageAlerts>& alerts) {
    alerts.reset();
    {
        Statement table(database, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'alerts'");
        const bool present = table.step();
        if (table.failed()) return table.status();
        if (!present) return {};
    }
    // Raised in the period, or a silence raised before and still open in it.
    const std::string inPeriod =
        " FROM alerts WHERE (raised >= ?1 AND raised < date(?2, '+1 day')) OR "
        "(rule = 'silent' AND raised < ?1 AND (closed IS NULL OR closed >= ?1))";
    PageAlerts found;
    Statement counts(database,
                     "SELECT rule, count(*)" + inPeriod +
                         " GROUP BY rule ORDER BY CASE rule WHEN 'silent' THEN 1 WHEN 'call' THEN 2 WHEN 'unlisted' "
                         "THEN 3 WHEN 'long' THEN 4 WHEN 'cost' THEN 5 WHEN 'budget' THEN 6 ELSE 7 END, rule");
    counts.bind({from, to});
    while (counts.step()) {
        found.byRule.emplace_back(counts.text(0), counts.integer(1));
        found.count += counts.integer(1);
    }
    if (counts.failed()) return counts.status();
    Statement rows(database, "SELECT rule, subject, raised, COALESCE(closed, ''), text" + inPeriod +
                                 " ORDER BY rule = 'silent' AND closed IS NULL DESC, raised, id LIMIT " +
                                 std::to_string(listLimit));
    rows.bind({from, to});
    while (rows.step())
        found.listed.push_back(PageAlert{rows.text(0), rows.text(1), rows.text(2), rows.text(3), rows.text(4)});
    if (rows.failed()) return rows.status();
    alerts = std::move(found);
    return {};
}

// ---- status

struct DayCounts {
    long long records = 0, errRecords = 0, unparsable = 0, repeats = 0;
    long long impossibleTimes = 0, longerThanADay = 0;  // records left unrated for it
    std::vector<int> gaps;
    bool missed = false;  // a usual day over without any record
};

// A record that no bill charges for what it says (its start no real time,
// longer than a day), or a file named for no real day: to be looked at.
struct Suspect {
    std::string switchName, day, callId, file;
    long long line = 0;
    std::string what;
};

constexpr std::size_t suspectsListed = 50;

struct SwitchStatus {
    std::map<std::string, DayCounts> days;
    std::optional<std::string> lastRecord;
    Habits habits;
    const Silence* open = nullptr;  // the silence it is in now
    long long future = 0, past = 0;
    // What the switch is doing: dead (quiet for longer than it ever was),
    // silent, ok, or learning (too young for usual hours or days).
    const char* state() const {
        if (open) return open->dead ? "dead" : "silent";
        return habits.usualHours.empty() && !habits.daysLearned ? "learning" : "ok";
    }
};

// The silences `status` shows: more than this within usual hours.
constexpr std::chrono::hours statusSilenceLimit{2};

std::string weekdaysText(const std::vector<int>& weekdays) {
    static const char* const names[] = {"", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
    if (weekdays.size() == 7) return "every day";
    std::string text;
    for (const int day : weekdays) text.append(text.empty() ? "" : " ").append(names[day]);
    return text;
}

// The days a silence missed, short: a dead switch misses many.
std::string daysText(const std::vector<std::string>& days) {
    if (days.size() > 3) return days.front() + " .. " + days.back() + " (" + std::to_string(days.size()) + " days)";
    std::string text;
    for (const std::string& day : days) text.append(text.empty() ? "" : " ").append(day);
    return text;
}

std::string clockText(long long seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%lldh%02lld", seconds / 3600, seconds / 60 % 60);
    return text;
}

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

// The last record and the records stamped out of range are looked for in
// the files of this many days.
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
                        "sum((flags & 6) = 4), sum((flags & 6) = 0 AND (flags & " + std::to_string(impossibleTime) +
                            ") != 0), sum((flags & 6) = 0 AND seconds > " + std::to_string(longestRatedSeconds) +
                            ") FROM calls WHERE day >= ? AND day <= ? GROUP BY switch, day");
        query.bind({first, last});
        while (query.step())
            switches[query.text(0)].days[query.text(1)] =
                DayCounts{query.integer(2), query.integer(3), query.integer(4), query.integer(5),
                          query.integer(6), query.integer(7), {}};
        if (!query.status().ok()) return query.status();
    }
    std::vector<Suspect> suspects;
    long long suspectCount = 0;
    {
        Statement query(database,
                        "SELECT switch, day, call_id, file, line, (flags & " + std::to_string(impossibleTime) +
                            ") != 0 FROM calls WHERE day >= ? AND day <= ? AND (flags & 6) = 0 AND ((flags & " +
                            std::to_string(impossibleTime) + ") != 0 OR seconds > " +
                            std::to_string(longestRatedSeconds) + ") ORDER BY day, switch, file, line");
        query.bind({first, last});
        while (query.step())
            if (++suspectCount <= static_cast<long long>(suspectsListed))
                suspects.push_back(Suspect{query.text(0), query.text(1), query.text(2), query.text(3),
                                           query.integer(4),
                                           query.integer(5) ? std::string(impossibleStartTime)
                                                            : std::string(longerThanADay)});
        if (!query.status().ok()) return query.status();
        // The files: their day is only in their name.
        Statement files(database, "SELECT path, switch, day FROM files WHERE day IS NOT NULL ORDER BY path");
        long days = 0;
        while (files.step())
            if (!parseDate(files.view(2), days)) {
                ++suspectCount;
                suspects.push_back(Suspect{files.text(1), files.text(2), "", files.text(0), 0, "named for no real day"});
            }
        if (!files.status().ok()) return files.status();
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
    // Each switch's habits and silences; the silences shown are those still
    // open and those holding a usual day of the days asked for.
    std::vector<Silence> silences;
    {
        std::vector<Habits> habits;
        const Status found =
            findSilences(database, "*", statusSilenceLimit, localMoment(now), silences, first + "T00:00:00", &habits);
        if (!found.ok()) return found;
        for (Habits& habit : habits) {
            SwitchStatus& entry = switches[habit.switchName];
            if (!entry.lastRecord) entry.lastRecord = habit.lastRecord;
            entry.habits = std::move(habit);
        }
        std::erase_if(silences, [&](Silence& silence) {
            std::erase_if(silence.missedDays, [&](const std::string& day) { return day < first || day > last; });
            return silence.end && silence.missedDays.empty();
        });
        for (const Silence& silence : silences) {
            SwitchStatus& entry = switches[silence.switchName];
            if (!silence.end) entry.open = &silence;
            for (const std::string& day : silence.missedDays) entry.days[day].missed = true;
        }
    }
    {
        // Hours with records per switch and day of the days asked for.
        Statement query(database,
                        "SELECT DISTINCT switch, substr(start, 1, 10), CAST(substr(start, 12, 2) AS INTEGER) FROM calls "
                        "WHERE (flags & 2) = 0 AND start >= ? AND start < date(?, '+1 day')");
        query.bind({first, last});
        std::map<std::string, std::map<std::string, std::set<int>>> hours;
        while (query.step()) hours[query.text(0)][query.text(1)].insert(static_cast<int>(query.integer(2)));
        if (!query.status().ok()) return query.status();
        for (auto& [name, entry] : switches) {
            const auto& byDay = hours[name];
            const Habits& habits = entry.habits;
            for (long day = today - options.days + 1; day <= today; ++day) {
                const std::string date = dateText(day);
                DayCounts& counts = entry.days[date];
                // None before its first record, nor on a day it does not usually file.
                const auto found = byDay.find(date);
                for (const int hour : habits.usualHoursOn(day)) {
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
        out = "{\"from\":" + jsonString(first) + ",\"to\":" + jsonString(last) + ",\"silences\":[";
        for (std::size_t i = 0; i < silences.size(); ++i) {
            const Silence& silence = silences[i];
            out += std::string(i ? "," : "") + "\n{\"switch\":" + jsonString(silence.switchName) +
                   ",\"since\":" + jsonString(silence.start) +
                   ",\"until\":" + jsonStringOrNull(silence.end ? &*silence.end : nullptr) +
                   ",\"dead\":" + (silence.dead ? "true" : "false") +
                   ",\"usual_seconds\":" + std::to_string(silence.usualSeconds) + ",\"missed_days\":" +
                   jsonStrings(silence.missedDays) + "}";
        }
        out += "],\n\"switches\":[";
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
                       ",\"repeats\":" + std::to_string(counts.repeats) +
                       ",\"impossible_times\":" + std::to_string(counts.impossibleTimes) +
                       ",\"longer_than_a_day\":" + std::to_string(counts.longerThanADay) +
                       ",\"gaps\":" + hoursJson(counts.gaps) + ",\"missed\":" + (counts.missed ? "true" : "false") +
                       "}";
                firstDay = false;
            }
            out += "],\n \"last_record\":" + jsonStringOrNull(entry.lastRecord ? &*entry.lastRecord : nullptr) +
                   ",\"state\":" + jsonString(entry.state()) +
                   ",\"usual_hours\":" + hoursJson(entry.habits.usualHours) +
                   ",\"usual_days\":" + hoursJson(entry.habits.usualWeekdays) +
                   ",\"future_records\":" + std::to_string(entry.future) +
                   ",\"past_records\":" + std::to_string(entry.past) + "}";
        }
        out += "],\n\"suspects\":{\"count\":" + std::to_string(suspectCount) + ",\"listed\":[";
        for (std::size_t i = 0; i < suspects.size(); ++i) {
            const Suspect& suspect = suspects[i];
            out += std::string(i ? "," : "") + "\n{\"switch\":" + jsonString(suspect.switchName) +
                   ",\"day\":" + jsonString(suspect.day) + ",\"call_id\":" + jsonString(suspect.callId) +
                   ",\"file\":" + jsonString(suspect.file) + ",\"line\":" + std::to_string(suspect.line) +
                   ",\"why\":" + jsonString(suspect.what) + "}";
        }
        out += "]},\n\"log\":{\"folders\":[";
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
                {"bad times", Kind::number},
                {"over a day", Kind::number},
                {"hours without records"}},
               {}};
    Table perSwitch{"Switches",
                    {{"switch"},
                     {"state"},
                     {"last record", Kind::time},
                     {"usual hours"},
                     {"usual days"},
                     {"future", Kind::number},
                     {"past", Kind::number}},
                    {}};
    for (const auto& [name, entry] : switches) {
        const bool dead = entry.open && entry.open->dead;
        for (const auto& [date, counts] : entry.days) {
            if (date < first || date > last) continue;
            const std::string without = dead && date > entry.open->start.substr(0, 10) ? std::string("dead")
                                        : counts.missed                                 ? std::string("whole day")
                                                                                        : hoursText(counts.gaps);
            days.rows.push_back({switchName(name), date, std::to_string(counts.records),
                                 std::to_string(counts.errRecords), std::to_string(counts.unparsable),
                                 std::to_string(counts.repeats), std::to_string(counts.impossibleTimes),
                                 std::to_string(counts.longerThanADay), without});
        }
        perSwitch.rows.push_back({switchName(name), entry.state(), entry.lastRecord.value_or(""),
                                  hoursText(entry.habits.usualHours), weekdaysText(entry.habits.usualWeekdays),
                                  std::to_string(entry.future), std::to_string(entry.past)});
    }
    // First of all, what needs someone now.
    Table silent{"Silences: usual hours without a record for more than " +
                     std::to_string(statusSilenceLimit.count()) + " hours, or usual days without any",
                 {{"switch"},
                  {"state"},
                  {"since", Kind::time},
                  {"until", Kind::time},
                  {"usual hours silent"},
                  {"usual days missed"}},
                 {}};
    for (const Silence& silence : silences)
        silent.rows.push_back({switchName(silence.switchName),
                               silence.end ? "heard again" : silence.dead ? "dead" : "silent", silence.start,
                               silence.end.value_or(""), clockText(silence.usualSeconds),
                               daysText(silence.missedDays)});
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
    std::vector<Table> tables{silent, days, perSwitch, log, senders};
    if (!suspects.empty()) {
        Table listed{"Records and files to look at: bills leave such records unrated" +
                         (suspectCount > static_cast<long long>(suspects.size())
                              ? " (the first " + std::to_string(suspects.size()) + " of " + std::to_string(suspectCount) + ")"
                              : std::string()),
                     {{"switch"}, {"date"}, {"call"}, {"file"}, {"line", Kind::number}, {"why"}},
                     {}};
        for (const Suspect& suspect : suspects)
            listed.rows.push_back({switchName(suspect.switchName), suspect.day, suspect.callId, suspect.file,
                                   suspect.line ? std::to_string(suspect.line) : std::string(), suspect.what});
        tables.insert(tables.begin() + 3, std::move(listed));
    }
    sink += render(tables, options.format);
    return {};
}

// An answer written to a file appears whole or not at all: it is written
// beside the file, flushed to the disk and renamed over it at the end; left
// unfinished, it is removed. The file beside is made anew, never opened
// through a link or over a file that was there (another user may have put
// one in its place to have it overwritten).
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
        const int handle = create(path);
        if (handle < 0) return failure_;
        file_ = fdopen(handle, "wb");
        if (!file_) {
            close(handle);
            return Status::error(Status::Code::failed, "write", partial_, std::strerror(errno));
        }
        return {};
    }
    // For a writer of its own (the workbook): the name it is to write, made
    // empty here; '' with the reason in failure() when it cannot be.
    std::string reserve(const std::string& path) {
        const int handle = create(path);
        if (handle < 0) return {};
        close(handle);
        return partial_;
    }
    const Status& failure() const { return failure_; }
    bool write(std::string_view piece) { return file_ && std::fwrite(piece.data(), 1, piece.size(), file_) == piece.size(); }
    Status commit() {
        bool written = false;
        if (file_) {
            written = std::fflush(file_) == 0 && fsync(fileno(file_)) == 0;
            const int failure = errno;
            std::fclose(file_);
            file_ = nullptr;
            errno = failure;
        } else if (const int handle = ::open(partial_.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC); handle >= 0) {
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
    // FILE.partial, or when a file or link is in its way (one left by a run
    // that was killed, or planted) FILE.partial.<random>: always a new file.
    int create(const std::string& path) {
        path_ = path;
        std::random_device random;
        for (int attempt = 0; attempt < 16; ++attempt) {
            std::string name = path + ".partial";
            if (attempt > 0) {
                char suffix[16];
                std::snprintf(suffix, sizeof suffix, ".%08x", static_cast<unsigned>(random()));
                name += suffix;
            }
            const int handle = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
            if (handle >= 0) {
                partial_ = name;
                return handle;
            }
            if (errno != EEXIST) {
                failure_ = Status::error(Status::Code::failed, "write", name, std::strerror(errno));
                return -1;
            }
        }
        failure_ = Status::error(Status::Code::exists, "write", path, "no new name beside it for the file being written");
        return -1;
    }

    std::string path_, partial_;
    std::FILE* file_ = nullptr;
    Status failure_;
};

// The answer must not take the place of the index it is read from.
Status outputBesideIndex(const std::string& output, const std::string& database) {
    struct stat out {}, index {};
    if (stat(output.c_str(), &out) == 0 && stat(database.c_str(), &index) == 0 && out.st_dev == index.st_dev &&
        out.st_ino == index.st_ino)
        return Status::error(Status::Code::exists, "write", output, "that is the index: name another file");
    return {};
}

// ---- bill

// bill --unrated: the calls no tariff rule covered, one row each, in time
// order; each id is one `explain` takes.
Status unratedCalls(sqlite3* database, const Options& options, const Tariffs& tariffs, const Directory& directory,
                    const CallCategories& categories, Sink& out) {
    const Filter filter = callFilter(options, true);
    const std::vector<Column> columns = unratedColumns(options.lang);
    Table table{said(options.lang, "未计费的通话", "Calls not rated"), columns, {}};
    long long count = 0, incoming = 0;
    if (options.format == Format::csv) out += std::string(byteOrderMark) + csvTitles(columns);
    if (options.format == Format::json) out += "{\"unrated_calls\":[";
    const Status rated = rateCalls(
        database,
        RatingPass{filter.where, filter.values, true, options.by, &categories, options.category.value_or("")}, tariffs,
        directory,
        [&](const RatedCall& call) {
            if (call.rated) return;
            if (options.format == Format::csv) {
                out += csvRow(columns, unratedRow(call));
            } else if (options.format == Format::json) {
                out += std::string(count ? "," : "") + "\n{\"key\":" + jsonString(call.callId) +
                       ",\"switch\":" + jsonString(call.switchName) + ",\"start\":" + jsonString(call.start) +
                       ",\"caller\":" + jsonString(call.caller) + ",\"person\":" + jsonString(call.person) +
                       ",\"department\":" + jsonString(call.department) + ",\"callee\":" + jsonString(call.callee) +
                       ",\"category\":" + jsonString(call.category) + ",\"seconds\":" + std::to_string(call.seconds) +
                       ",\"why\":" + jsonString(call.unratedWhy) + "}";
            } else {
                std::vector<std::string> row = unratedRow(call);
                row[1] = switchShown(row[1], options.format);
                table.rows.push_back(std::move(row));
            }
            ++count;
        },
        &incoming);  // not billed, so not unrated either
    if (!rated.ok()) return rated;
    if (options.format == Format::json) out += "]}\n";
    if (options.format == Format::table)
        out += renderTables({table}) + (options.lang == Lang::en ? std::to_string(count) + " calls not rated\n"
                                                                 : "共 " + std::to_string(count) + " 次通话未计费\n");
    return {};
}

Status bill(sqlite3* database, const Options& options, const Tariffs& tariffs, const std::string& tariffsDigest,
            const Directory& directory, const CallCategories& categories, std::time_t now, Sink& out,
            std::vector<std::string>& notes) {
    if (options.unratedList) return unratedCalls(database, options, tariffs, directory, categories, out);
    const Filter filter = callFilter(options, true);
    RatingPass pass{filter.where, filter.values, false, options.by, &categories, options.category.value_or("")};
    // The site pays for the calls it makes and forwards, not for those it
    // receives: those are only counted.
    long long incomingCalls = 0;
    ReportBuilder builder(*options.from, *options.to, options.by, options.sort);
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
        workbook.setLook(options.lang, options.perDepartment);
        const std::string partial = file.reserve(*options.output);
        Status result = partial.empty() ? file.failure() : workbook.open(partial);
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

    // A bill that lists no single call (not the page) is summed from the
    // daily figures where no filter needs single calls.
    static const std::set<std::string> byFigures = {"ext", "person", "department", "switch"};
    const bool figures = options.format != Format::html && byFigures.contains(options.by) && !options.number &&
                         !options.category && !options.extension;
    Status rated =
        figures ? billedFigures(database, FigureFilter{*options.from, *options.to, options.switchName},
                                tariffs, tariffsDigest, directory, options.by,
                                [&](const RatedCall& call, const Totals& totals) { builder.addFigures(call, totals); },
                                [&](const RatedCall& call) { builder.add(call); }, &incomingCalls, &categories)
                : rateCalls(
                      database, pass, tariffs, directory, [&](const RatedCall& call) { builder.add(call); },
                      &incomingCalls);
    if (!rated.ok()) return rated;
    Report report = builder.finish(generated);
    report.bill.incoming = incomingCalls;
    if (options.format == Format::html) {
        // Twelve months to the period's last, over every call: a filtered
        // bill has no months before to compare with.
        if (!options.switchName && !options.extension && !options.number && !options.category) {
            const std::string last = options.to->substr(0, 7);
            // From the costs the index keeps: the same months without rating a year of calls.
            const Status trend = monthlyTrend(database, monthsBefore(last, 11), last, tariffs, tariffsDigest, directory,
                                              &categories, report.trend);
            if (!trend.ok()) return trend;
        }
        HtmlOptions html{options.appendix, std::nullopt};
        if (const Status alerts = pageAlerts(database, *options.from, *options.to, html.alerts); !alerts.ok())
            return alerts;
        out += renderHtml(report, html);
    } else {
        out += renderBill(report.bill, report.unrated, options.format, options.lang, &notes);
    }
    return {};
}

}  // namespace

bool isQueryCommand(const std::string& command) {
    return command == "calls" || command == "summary" || command == "status" || command == "bill" ||
           command == "explain";
}

int runQuery(const std::string& command, const std::vector<std::string>& arguments, const std::string& programFolder,
             std::time_t now, const Writer& write, std::string& error, std::vector<std::string>* notes) {
    Options options;
    options.database = programFolder + "/quelvar.db";
    options.tariffs = programFolder + "/tariffs.csv";
    options.directory = programFolder + "/directory.csv";
    options.now = now;
    if (!isQueryCommand(command)) {
        error = "unknown command: " + command + " (quelvar-report --help lists them)";
        return 2;
    }
    if (const std::string wrong = parseOptions(command, arguments, options); !wrong.empty()) {
        error = wrong;
        return 2;
    }
    Status result;
    Tariffs tariffs;
    std::string tariffsDigest;
    Directory directory;
    // Calls are classified as the collector beside the tool classifies them.
    const CallCategories categories = CallCategories::ofProgramFolder(programFolder);
    if (options.command == Command::bill || options.command == Command::explain) {
        if (!platform::pathExists(options.tariffs))
            result = Status::error(Status::Code::notFound, "", "",
                                   "no tariffs at " + options.tariffs +
                                       ": copy tariffs.csv.example beside the program to tariffs.csv and adapt it, "
                                       "or name a file with --tariffs");
        else
            result = Tariffs::read(options.tariffs, tariffs);
        if (result.ok())
            result = readTariffsDigest(options.tariffs, tariffsDigest, CallCategories::sourceOf(programFolder));
    }
    const bool people = options.command == Command::bill || options.command == Command::explain ||
                        (options.command == Command::summary && (options.by == "person" || options.by == "department"));
    if (result.ok() && people && (options.directoryGiven || platform::pathExists(options.directory)))
        result = Directory::read(options.directory, directory);

    sqlite3* database = nullptr;
    OutputFile file;
    const Writer toFile = [&](std::string_view piece) { return file.write(piece); };
    Sink out(options.output ? toFile : write);
    if (result.ok() && options.output) result = outputBesideIndex(*options.output, options.database);
    if (options.gb18030) out.toGb18030Encoding();
    std::vector<std::string> csvNotes;
    if (result.ok()) result = openIndex(options.database, database);
    if (result.ok() && options.output && options.format != Format::xlsx) result = file.open(*options.output);
    if (result.ok()) {
        if (options.command == Command::calls) result = calls(database, options, out);
        else if (options.command == Command::summary) result = summary(database, options, directory, categories, out);
        else if (options.command == Command::bill)
            result = bill(database, options, tariffs, tariffsDigest, directory, categories, now, out, csvNotes);
        else if (options.command == Command::explain) {
            const Filter filter = callFilter(options);
            std::string text;
            result = explainCall(database, options.callId, filter.where, filter.values, tariffs, directory, categories,
                                 options.tariffs, options.format, text);
            out += text;
        } else result = status(database, options, programFolder, now, out);
    }
    sqlite3_close(database);
    if (result.ok() && !out.flush()) result = Status::error(Status::Code::failed, "", "", "the answer could not be written");
    if (result.ok() && options.output && options.format != Format::xlsx) result = file.commit();
    if (result.ok() && notes) *notes = std::move(csvNotes);
    if (!result.ok()) {
        error = result.text();
        if (!error.empty() && error.front() == ':') error = error.substr(2);
        return 2;
    }
    return 0;
}

int runQuery(const std::string& command, const std::vector<std::string>& arguments, const std::string& programFolder,
             std::time_t now, std::string& out, std::string& error, std::vector<std::string>* notes) {
    const int status = runQuery(
        command, arguments, programFolder, now,
        [&](std::string_view piece) {
            out.append(piece);
            return true;
        },
        error, notes);
    if (status != 0) out.clear();
    return status;
}

}  // namespace quelvar::report
