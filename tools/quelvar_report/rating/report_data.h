#pragma once
// What a bill and a report hold once the calls of a period are rated: the
// rating pass fills these, the renderers (table, CSV, JSON, HTML, XLSX) only
// read them.
#include <array>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quelvar::report {

// Money in whole thousandths of a yuan (厘), so that sums never drift.
using Li = long long;
// Yuan with two decimals, rounded half up ("12.35"); for people.
std::string yuanCents(Li amount);
// Yuan with three decimals, exact ("12.345"); for programs.
std::string yuanExact(Li amount);

// Amounts as shown to the fen so that the parts shown add up to their total
// shown: the total is rounded half up (as yuanCents does), each part is cut
// to the fen and the fen left over go one each to the parts that lost the
// most, the earlier first on a tie (largest remainder). In fen.
std::vector<long long> fenAddingUp(const std::vector<Li>& parts);
// The same against a total shown already (a group's figure, say): the fen
// the cuts leave over, or take away, go by the same remainders.
std::vector<long long> fenAddingUp(const std::vector<Li>& parts, long long totalFen);
long long fenRounded(Li amount);
// Fen as yuan with two decimals ("12.35").
std::string yuanFromFen(long long fen);

// The categories the collector files, in the order bills show them; others
// (as filed) follow in the order of their names.
inline constexpr std::array<std::string_view, 5> knownCategories = {"内线", "市话", "国内长途", "国际长途", "特服电话"};
inline constexpr std::string_view internationalCategory = "国际长途";

struct Totals {
    long long calls = 0;
    long long seconds = 0;
    Li cost = 0;
    long long unrated = 0;  // calls no tariff rule covered: counted, costing nothing
    void add(long long callSeconds, Li callCost, bool rated) {
        ++calls;
        seconds += callSeconds;
        cost += callCost;
        unrated += rated ? 0 : 1;
    }
    void add(const Totals& other) {
        calls += other.calls;
        seconds += other.seconds;
        cost += other.cost;
        unrated += other.unrated;
    }
};

// One call as a bill sees it: a multi-leg call is one call, its seconds the
// sum of its legs'.
struct RatedCall {
    std::string switchName;  // the MAC folder; '' for a workbook row
    std::string callId;
    long long id = 0;        // calls.id in the index
    std::string account;
    std::string caller;
    std::string callee;
    std::string category;    // the one billed: as filed, or from the number where the file carries the call before
    std::string filedCategory;    // the teletype as filed
    bool categoryFromNumber = false;  // `category` is the number's, not the filed one
    bool incoming = false;   // IN or FI: the site's party is the called number
    std::string start;       // YYYY-MM-DDTHH:MM:SS local, '' when the record had no time
    std::string day;         // YYYY-MM-DD it counts for: its start's, else its file's
    long long seconds = 0;
    int legs = 1;
    std::string trunk;       // the first leg's
    std::string route;       // as filed
    std::string number;      // the site's extension (or account) the call is put down to
    std::string person;      // from the directory; the number itself when unknown
    std::string department;  // from the directory, for the call's day; '' when unknown
    bool known = false;      // found in the directory
    std::string personKey;   // who: the same for every line of one person; the number itself when unknown
    std::string personId;    // the directory's id, when it gives one
    bool rated = false;      // a tariff rule covered it
    Li cost = 0;
    std::string tariffVersion;  // valid_from of the tariff version used, when rated
    std::string unratedWhy;     // why not, when not rated
    std::string group;          // the group it is billed to
};

// Extensions the directory does not list: one department group, last; by
// person each is a row of its own with this department.
inline constexpr std::string_view unlistedDepartment = "未登记";

struct BillGroup {
    // An extension, a person, a department or a switch. A person whose name
    // another person of the bill shares has their extensions after it:
    // "张伟 (8101)".
    std::string name;
    std::string department;  // by person: the department of the calls ('' when listed without one, 未登记 when unlisted)
    std::string id;          // by person: the directory's id, when given
    // By person: the extensions the calls were made from; the 未登记 group:
    // the unlisted extensions in it. In order.
    std::vector<std::string> extensions;
    bool unlisted = false;   // the 未登记 group, or by person an unlisted extension
    Totals total;
    std::map<std::string, Totals> byCategory;
};

struct Bill {
    std::string from, to;  // YYYY-MM-DD, both days count
    std::string by;        // ext, person, department or switch
    std::vector<std::string> tariffVersions;  // valid_from of each version used, oldest first
    std::vector<BillGroup> groups;            // the costliest first (or as --sort says), the unlisted last
    Totals total;                             // the sum of the groups', exactly
    std::map<std::string, Totals> byCategory;
    std::vector<std::string> categories;  // the categories met, in the order bills show them
    long long incoming = 0;  // incoming calls of the period: the site does not pay for them, so not billed
};

// A bill's amounts as every format shows them, in fen. The rule: the groups
// add up to the total (fenAddingUp over the groups); within a group, its
// categories add up to the group's figure (fenAddingUp against it); a
// category's total is the sum of its figures in the groups, so that the
// total's categories add up to the total too. Each figure is within a fen
// of its exact amount, a category's total within a fen per group.
struct BillFen {
    long long total = 0;
    std::vector<long long> groups;                        // as bill.groups
    std::vector<std::vector<long long>> groupCategories;  // [group][i]: bill.categories[i], 0 where none
    std::vector<long long> categories;                    // as bill.categories
    bool exact = true;                                    // every amount was a whole fen already: nothing was moved
};
BillFen billFen(const Bill& bill);

// Why calls were not rated, with the key of each (its id as `calls` shows it,
// which `explain` takes), in the order they came.
struct UnratedCalls {
    long long calls = 0;
    std::vector<std::string> keys;
};

// A name with its calls, e.g. a destination or a caller.
struct Ranked {
    std::string name;
    std::string detail;  // a caller's person, when known
    Totals totals;
};

struct CallList {
    long long count = 0;           // how many calls there were
    std::vector<RatedCall> calls;  // the first `listLimit` of them by the list's order
};

// Calls of at least this length are long.
inline constexpr long long longCallSeconds = 30 * 60;
// Calls starting before 08:00, from 18:00, or on a Saturday or Sunday are
// after hours.
inline constexpr int workdayStartHour = 8;
inline constexpr int workdayEndHour = 18;
inline constexpr std::size_t listLimit = 200;
inline constexpr std::size_t topLimit = 20;

// ---- Unusual calls: what the page shows on its first pages, gathered in the
// rating pass.

// Calls longer than this are unusually long; one longer than a day cannot
// be a real call.
inline constexpr long long unusualLongSeconds = 2 * 3600;
inline constexpr long long dayLongSeconds = 24 * 3600;
// A burst: at least burstCalls calls to one number starting within
// burstWindowSeconds of the first of them.
inline constexpr long long burstCalls = 10;
inline constexpr long long burstWindowSeconds = 3600;
inline constexpr std::string_view premiumCategory = "特服电话";
// Satellite networks and the like, charged far above ordinary international
// calls: the numbers of toll fraud.
inline constexpr std::array<std::string_view, 5> riskyPrefixes = {"00870", "00881", "00882", "00883", "00888"};
bool riskyNumber(std::string_view callee);
// How many calls of each unusual kind the page shows; the appendix lists
// up to listLimit.
inline constexpr std::size_t offHoursShown = 15;
inline constexpr std::size_t unusualShown = 10;
inline constexpr std::size_t unratedShown = 10;

// An extension the directory does not list, with what it did.
struct UnlistedCaller {
    std::string number;
    Totals totals;
    std::string first, last;  // starts of its first and last call ('' when none had a time)
};

// The densest hour of calls to one number.
struct Burst {
    std::string callee;
    long long calls = 0;               // in the hour
    std::string first, last;           // starts of the first and last of them
    Li cost = 0;                       // of them
    std::vector<std::string> callers;  // who made them, the most frequent first
    long long periodCalls = 0;         // to the number in the whole period
};

struct UnusualCalls {
    // International, satellite and costing premium-rate calls outside working
    // hours: satellite numbers first (from unlisted extensions before the
    // others), then the most costly.
    CallList offHours;
    // Calls from extensions not in the directory (only with a directory),
    // the most costly extension first.
    bool directoryUsed = false;
    long long unlistedCalls = 0;
    std::vector<UnlistedCaller> unlisted;
    // Calls over unusualLongSeconds, the longest first.
    CallList longCalls;
    // Numbers called in bursts, the densest first.
    std::vector<Burst> bursts;
};

// The cost per month and group over consecutive months.
struct TrendRow {
    std::string group;
    std::vector<Totals> months;  // one per Trend::months
};
struct Trend {
    std::vector<std::string> months;  // YYYY-MM, oldest first
    std::vector<TrendRow> groups;     // the most costly in the last month first
    std::vector<Totals> total;        // one per month
};

struct Report {
    Bill bill;
    std::string generated;  // YYYY-MM-DD HH:MM the report was made
    // Cost per department and category, the most costly department first,
    // 未登记 last.
    std::vector<std::pair<std::string, std::map<std::string, Totals>>> departments;
    // The extensions of 未登记, in order, when a directory was used.
    std::vector<std::string> unlistedExtensions;
    // Every day of the period in order, days without calls included.
    std::vector<std::pair<std::string, Totals>> days;
    // Calls by weekday (0 Monday .. 6 Sunday) and hour of their start.
    std::array<std::array<long long, 24>, 7> heat{};
    std::vector<Ranked> topDestinations;  // by calls, then seconds
    std::vector<Ranked> topCallers;       // by cost, then calls
    CallList longCalls;                   // the longest first
    CallList afterHours;                  // the most costly first
    CallList international;               // the most costly first
    std::map<std::string, UnratedCalls> unrated;  // by why
    UnusualCalls unusual;
    CallList unratedCalls;  // the earliest first
    Trend trend;            // filled by monthlyTrend where a page shows it
};

}  // namespace quelvar::report
