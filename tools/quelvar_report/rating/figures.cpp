#include "quelvar_report/rating/figures.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <tuple>
#include <unordered_map>

#include "quelvar_report/index/index_reader.h"
#include "quelvar_report/index/schema.h"
#include "quelvar_report/rating/bill.h"
#include "quelvar_report/reading/dates.h"

namespace quelvar::report {
namespace {

constexpr char separator = '\x1f';

Status execute(sqlite3* database, const char* sql) {
    char* message = nullptr;
    if (sqlite3_exec(database, sql, nullptr, nullptr, &message) == SQLITE_OK) return {};
    const std::string why = message ? message : "failed";
    sqlite3_free(message);
    return Status::error(Status::Code::failed, "keep costs", "", why);
}

// The conditions of a filter over rows that have day, switch, caller and
// account columns, with ? for `values`.
std::string figureConditions(const FigureFilter& filter, const std::string& day, std::vector<std::string>& values,
                             bool months = false) {
    // As a query over calls takes its period, so that a day of no real date
    // (2026-11-31) counts in the same one.
    std::string where = day + " >= ? AND " + day + (months ? " <= ?" : " < date(?, '+1 day')");
    values.push_back(filter.from);
    values.push_back(filter.to);
    if (filter.switchName) {
        where += " AND switch = ? COLLATE NOCASE";
        values.push_back(*filter.switchName);
    }
    return where;
}

// Who is behind a caller and account on a day, looked up once per number,
// or once per number and day where the directory has dated lines for it.
class People {
public:
    explicit People(const Directory& directory) : directory_(directory) {}

    void fill(RatedCall& call) {
        const std::optional<const Person*> undated = lookUp(call);
        put(call, undated ? *undated : directory_.findCaller(call.switchName, call.account, call.caller, call.day));
    }
    // Fills in the person only when no day could give another: gives false
    // for a number whose directory lines are dated.
    bool fillUndated(RatedCall& call) {
        const std::optional<const Person*> undated = lookUp(call);
        if (undated) put(call, *undated);
        return undated.has_value();
    }

private:
    std::optional<const Person*> lookUp(const RatedCall& call) {
        if (directory_.empty()) return nullptr;
        key_.assign(call.switchName).append(1, separator).append(call.account).append(1, separator).append(call.caller);
        auto found = undated_.find(key_);
        if (found == undated_.end()) {
            bool dated = false;
            const Person* looked = directory_.findCaller(call.switchName, call.account, call.caller, call.day, &dated);
            found = undated_.emplace(key_, dated ? std::optional<const Person*>() : looked).first;
        }
        return found->second;
    }
    // As rateCalls puts an outgoing call (the figures keep no incoming
    // call but as a count).
    static void put(RatedCall& call, const Person* person) {
        call.number = call.caller.empty() ? call.account : call.caller;
        call.known = person != nullptr;
        call.person = person ? person->name : call.number;
        call.department = person ? person->department : std::string();
        call.personKey = person ? person->key : call.number;
        call.personId = person ? person->id : std::string();
    }

    const Directory& directory_;
    std::string key_;
    // nullopt: dated, looked up per day.
    std::unordered_map<std::string, std::optional<const Person*>> undated_;
};

std::string dayMoved(const std::string& day, long by) {
    long days = 0;
    parseDate(day, days);
    return dateText(days + by);
}

}  // namespace

std::string tariffsDigest(std::string_view tariffsFile, std::string_view categorySource) {
    // Two FNV-1a runs from different bases: 128 bits. The lengths keep the
    // two parts apart.
    std::string bytes = std::to_string(tariffsFile.size()) + ':';
    bytes.append(tariffsFile).append(std::to_string(categorySource.size())).append(1, ':').append(categorySource);
    std::uint64_t one = 0xcbf29ce484222325ULL, two = 0x84222325cbf29ce4ULL ^ bytes.size();
    for (const char c : bytes) {
        one = (one ^ static_cast<unsigned char>(c)) * 0x100000001b3ULL;
        two = (two ^ static_cast<unsigned char>(c)) * 0x9E3779B97F4A7C15ULL;
        two ^= two >> 29;
    }
    char text[33];
    std::snprintf(text, sizeof text, "%016llx%016llx", static_cast<unsigned long long>(one),
                  static_cast<unsigned long long>(two));
    return text;
}

Status readTariffsDigest(const std::string& path, std::string& digest, std::string_view categorySource) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return Status::error(Status::Code::failed, "read", path, "cannot be opened");
    const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (file.bad()) return Status::error(Status::Code::failed, "read", path, "cannot be read");
    digest = tariffsDigest(bytes, categorySource);
    return {};
}

Status keepCosts(sqlite3* database, const Tariffs& tariffs, const std::string& digest, long long* daysRated,
                 const CallCategories* categories) {
    if (daysRated) *daysRated = 0;
    if (Status begun = execute(database, "BEGIN IMMEDIATE"); !begun.ok()) return begun;
    const auto failed = [&](const Status& status) {
        static_cast<void>(execute(database, "ROLLBACK"));
        return status;
    };
    std::vector<std::pair<std::string, std::string>> days;
    {
        Statement stale(database,
                        "SELECT f.switch, f.filed FROM day_files f LEFT JOIN cost_files c"
                        " ON c.switch = f.switch AND c.filed = f.filed AND c.digest = ?1 WHERE c.digest IS NULL"
                        " ORDER BY f.filed, f.switch");
        stale.bind(1, digest);
        while (stale.step()) days.emplace_back(stale.text(0), stale.text(1));
        if (stale.failed()) return failed(stale.status());
    }
    Statement monthLess(database, monthCostsLess), monthEmptied(database, monthCostsEmptied);
    Statement monthMore(database, monthCostsMore);
    Statement forgetCosts(database, "DELETE FROM day_costs WHERE switch = ?1 AND filed = ?2");
    Statement forgetUnrated(database, "DELETE FROM unrated_calls WHERE switch = ?1 AND filed = ?2");
    // Incoming calls are only counted: their figures as the index has them.
    Statement incoming(database,
                       "INSERT INTO day_costs(day, digest, switch, filed, caller, account, category, version, incoming,"
                       " calls, seconds, cost) SELECT day, ?3, switch, filed, '', '', '', '', 1, sum(calls),"
                       " sum(seconds), 0 FROM day_numbers WHERE switch = ?1 AND filed = ?2 AND incoming = 1"
                       " GROUP BY day");
    Statement insertCost(database,
                         "INSERT INTO day_costs(day, digest, switch, filed, caller, account, category, version,"
                         " incoming, calls, seconds, cost) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, 0, ?9, ?10, ?11)");
    Statement insertUnrated(database,
                            "INSERT OR REPLACE INTO unrated_calls(call, digest, switch, filed) VALUES(?1, ?2, ?3, ?4)");
    Statement kept(database, "INSERT OR REPLACE INTO cost_files(switch, filed, digest) VALUES(?1, ?2, ?3)");
    const std::vector<Statement*> statements = {&monthLess,      &monthEmptied, &forgetCosts, &forgetUnrated, &incoming,
                                                &insertCost,     &insertUnrated, &monthMore,  &kept};
    for (const Statement* statement : statements)
        if (!statement->ready()) return failed(statement->status());
    const Directory nobody;
    struct Key {
        std::string day, caller, account, category, version;
        bool operator<(const Key& other) const {
            return std::tie(day, caller, account, category, version) <
                   std::tie(other.day, other.caller, other.account, other.category, other.version);
        }
    };
    std::map<Key, Totals> figures;
    for (const auto& [switchName, filed] : days) {
        monthLess.bind(1, switchName).bind(2, filed).run();
        monthEmptied.bind(1, switchName).bind(2, filed).run();
        forgetCosts.bind(1, switchName).bind(2, filed).run();
        forgetUnrated.bind(1, switchName).bind(2, filed).run();
        incoming.bind(1, switchName).bind(2, filed).bind(3, digest).run();
        figures.clear();
        std::vector<long long> unrated;
        const Status rated = rateCalls(
            database,
            RatingPass{std::string("WHERE ") + notCalls + " AND switch = ? AND day = ? AND type NOT IN ('IN', 'FI')",
                       {switchName, filed}, false, "ext", categories, ""},
            tariffs, nobody, [&](const RatedCall& call) {
                if (!call.rated) {
                    unrated.push_back(call.id);
                    return;
                }
                figures[Key{call.day, call.caller, call.account, call.category, call.tariffVersion}].add(
                    call.seconds, call.cost, true);
            });
        if (!rated.ok()) return failed(rated);
        for (const auto& [key, totals] : figures) {
            insertCost.bind(1, key.day).bind(2, digest).bind(3, switchName).bind(4, filed).bind(5, key.caller);
            insertCost.bind(6, key.account).bind(7, key.category).bind(8, key.version).bind(9, totals.calls);
            insertCost.bind(10, totals.seconds).bind(11, totals.cost).run();
        }
        for (const long long id : unrated)
            insertUnrated.bind(1, id).bind(2, digest).bind(3, switchName).bind(4, filed).run();
        monthMore.bind(1, switchName).bind(2, filed).run();
        kept.bind(1, switchName).bind(2, filed).bind(3, digest).run();
        for (const Statement* statement : statements)
            if (statement->failed()) return failed(statement->status());
        if (daysRated) ++*daysRated;
    }
    return execute(database, "COMMIT");
}

Status billedFigures(sqlite3* database, const FigureFilter& filter, const Tariffs& tariffs, const std::string& digest,
                     const Directory& directory, const std::string& by,
                     const std::function<void(const RatedCall&, const Totals&)>& many,
                     const std::function<void(const RatedCall&)>& each, long long* incoming,
                     const CallCategories* categories) {
    if (incoming) *incoming = 0;
    long long incomingCalls = 0;
    const auto rate = [&](const std::string& where, const std::vector<std::string>& values) {
        long long left = 0;
        const Status rated =
            rateCalls(database, RatingPass{where, values, false, by, categories, ""}, tariffs, directory, each, &left);
        incomingCalls += left;
        return rated;
    };

    // Days whose costs are not kept for these tariffs: from their calls.
    std::set<std::pair<std::string, std::string>> keptDays;
    {
        Statement kept(database, "SELECT switch, filed FROM cost_files WHERE digest = ?1");
        kept.bind(1, digest);
        while (kept.step()) keptDays.emplace(kept.text(0), kept.text(1));
        if (kept.failed()) return kept.status();
    }
    std::vector<std::pair<std::string, std::string>> unkept;
    {
        std::string where = "first_day < date(?1, '+1 day') AND last_day >= ?2";
        if (filter.switchName) where += " AND switch = ?3 COLLATE NOCASE";
        Statement files(database, "SELECT switch, filed FROM day_files WHERE " + where);
        files.bind(1, filter.to).bind(2, filter.from);
        if (filter.switchName) files.bind(3, *filter.switchName);
        while (files.step())
            if (!keptDays.contains({files.text(0), files.text(1)})) unkept.emplace_back(files.text(0), files.text(1));
        if (files.failed()) return files.status();
    }
    for (const auto& [switchName, filed] : unkept) {
        std::vector<std::string> values{switchName, filed};
        const std::string where = std::string("WHERE ") + notCalls + " AND switch = ? AND day = ? AND " +
                                  figureConditions(filter, std::string("substr(") + when + ", 1, 10)", values);
        if (Status rated = rate(where, values); !rated.ok()) return rated;
    }

    // The kept figures: whole months from month_costs, the days of a month
    // in part, and the numbers whose department depends on the day, from
    // day_costs.
    std::string monthsFrom, monthsTo;  // the whole months, YYYY-MM-DD
    {
        long first = 0, last = 0;
        if (!parseDate(filter.from, first) || !parseDate(filter.to, last))
            return Status::error(Status::Code::failed, "", "", "bad period " + filter.from + " to " + filter.to);
        long start = first;
        while (dateText(start).substr(8) != "01") ++start;
        long end = last;
        while (dateText(end + 1).substr(8) != "01") --end;
        if (start < end) {
            monthsFrom = dateText(start);
            monthsTo = dateText(end);
        }
    }
    People people(directory);
    RatedCall call;
    call.rated = true;
    const auto daysOf = [&](const std::string& from, const std::string& to, const std::string* switchName,
                            const std::string* caller, const std::string* account) {
        FigureFilter part = filter;
        part.from = from;
        part.to = to;
        std::vector<std::string> values;
        std::string where = figureConditions(part, "day", values) + " AND digest = ?";
        values.push_back(digest);
        if (switchName) {
            where += " AND switch = ? AND caller = ? AND account = ? AND incoming = 0";
            values.insert(values.end(), {*switchName, *caller, *account});
        }
        Statement figures(database,
                          "SELECT day, switch, caller, account, category, version, incoming, calls, seconds, cost"
                          " FROM day_costs WHERE " + where);
        figures.bind(values);
        while (figures.step()) {
            if (figures.integer(6) != 0) {
                incomingCalls += figures.integer(7);
                continue;
            }
            call.day.assign(figures.view(0));
            call.switchName.assign(figures.view(1));
            call.caller.assign(figures.view(2));
            call.account.assign(figures.view(3));
            call.category.assign(figures.view(4));
            call.tariffVersion.assign(figures.view(5));
            const Totals totals{figures.integer(7), figures.integer(8), figures.integer(9), 0};
            call.seconds = totals.seconds;
            call.cost = totals.cost;
            people.fill(call);
            call.group = billGroupOf(call, by);
            many(call, totals);
        }
        return figures.status();
    };
    if (monthsFrom.empty()) {
        if (Status read = daysOf(filter.from, filter.to, nullptr, nullptr, nullptr); !read.ok()) return read;
    } else {
        if (filter.from < monthsFrom)
            if (Status read = daysOf(filter.from, dayMoved(monthsFrom, -1), nullptr, nullptr, nullptr); !read.ok())
                return read;
        if (monthsTo < filter.to)
            if (Status read = daysOf(dayMoved(monthsTo, 1), filter.to, nullptr, nullptr, nullptr); !read.ok())
                return read;
        FigureFilter months = filter;
        months.from = monthsFrom.substr(0, 7);
        months.to = monthsTo.substr(0, 7);
        std::vector<std::string> values;
        const std::string where = figureConditions(months, "month", values, true) + " AND digest = ?";
        values.push_back(digest);
        Statement figures(database,
                          "SELECT month, switch, caller, account, category, version, incoming, calls, seconds, cost"
                          " FROM month_costs WHERE " + where);
        figures.bind(values);
        std::set<std::tuple<std::string, std::string, std::string>> dated;
        while (figures.step()) {
            if (figures.integer(6) != 0) {
                incomingCalls += figures.integer(7);
                continue;
            }
            call.day.assign(figures.view(0)).append("-01");
            call.switchName.assign(figures.view(1));
            call.caller.assign(figures.view(2));
            call.account.assign(figures.view(3));
            if (!people.fillUndated(call)) {
                dated.emplace(call.switchName, call.caller, call.account);
                continue;
            }
            call.category.assign(figures.view(4));
            call.tariffVersion.assign(figures.view(5));
            const Totals totals{figures.integer(7), figures.integer(8), figures.integer(9), 0};
            call.seconds = totals.seconds;
            call.cost = totals.cost;
            call.group = billGroupOf(call, by);
            many(call, totals);
        }
        if (figures.failed()) return figures.status();
        for (const auto& [switchName, caller, account] : dated)
            if (Status read = daysOf(monthsFrom, monthsTo, &switchName, &caller, &account); !read.ok()) return read;
    }

    // The calls that could not be rated, one by one, as a bill lists them.
    {
        std::vector<std::string> values{digest};
        const std::string where = std::string("WHERE id IN (SELECT call FROM unrated_calls WHERE digest = ?) AND ") +
                                  notCalls + " AND " +
                                  figureConditions(filter, std::string("substr(") + when + ", 1, 10)", values);
        if (Status rated = rate(where, values); !rated.ok()) return rated;
    }
    if (incoming) *incoming = incomingCalls;
    return {};
}

Status monthlyFigures(sqlite3* database, const std::string& from, const std::string& to, const std::string& groupBy,
                      const Tariffs& tariffs, const std::string& digest, const Directory& directory,
                      MonthlyFigures& out, const CallCategories* categories) {
    out = MonthlyFigures{};
    long first = 0, last = 0;
    if (!parseDate(from, first) || !parseDate(to, last) || first > last)
        return Status::error(Status::Code::failed, "", "", "bad period " + from + " to " + to);
    int year = 0, calendarMonth = 0;
    parseNumber(std::string_view(from).substr(0, 4), year);
    parseNumber(std::string_view(from).substr(5, 2), calendarMonth);
    for (;;) {
        char text[16];
        std::snprintf(text, sizeof text, "%04d-%02d", year, calendarMonth);
        out.months.emplace_back(text);
        if (out.months.back() >= to.substr(0, 7) || out.months.size() > 1200) break;
        if (++calendarMonth > 12) {
            calendarMonth = 1;
            ++year;
        }
    }
    std::map<std::string, std::vector<Totals>> groups;
    const auto add = [&](const RatedCall& call, const Totals& totals) {
        const auto month = std::lower_bound(out.months.begin(), out.months.end(), call.day.substr(0, 7));
        if (month == out.months.end() || *month != call.day.substr(0, 7)) return;
        std::vector<Totals>& row = groups[call.group];
        row.resize(out.months.size());
        row[static_cast<std::size_t>(month - out.months.begin())].add(totals);
    };
    const Status passed = billedFigures(database, FigureFilter{from, to, std::nullopt}, tariffs, digest,
                                        directory, groupBy, add, [&](const RatedCall& call) {
                                            add(call, Totals{1, call.seconds, call.cost, call.rated ? 0 : 1});
                                        }, nullptr, categories);
    if (!passed.ok()) return passed;
    out.total.resize(out.months.size());
    std::vector<std::pair<Li, std::string>> order;
    for (const auto& [name, row] : groups) {
        Li cost = 0;
        for (std::size_t month = 0; month < row.size(); ++month) {
            cost += row[month].cost;
            out.total[month].add(row[month]);
        }
        order.emplace_back(cost, name);
    }
    std::stable_sort(order.begin(), order.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    for (const auto& [cost, name] : order) out.groups.emplace_back(name, std::move(groups[name]));
    return {};
}

}  // namespace quelvar::report
