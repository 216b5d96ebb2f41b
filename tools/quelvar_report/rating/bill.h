#pragma once
// Bills: the calls of a period rated by the site's tariffs, put down to the
// people of its directory, summed per group. One pass over the index rates
// every call and hands it on; what the bill, the report and the workbook
// need is gathered from that pass.
#include <sqlite3.h>

#include <functional>
#include <map>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/status.h"
#include "quelvar_report/rating/categories.h"
#include "quelvar_report/rating/directory.h"
#include "quelvar_report/rating/number_tally.h"
#include "quelvar_report/rating/report_data.h"
#include "quelvar_report/rating/tariffs.h"

namespace quelvar::report {

inline const std::vector<std::string> billGroupings = {"ext", "person", "department", "switch", "trunk", "route"};
// How a bill's groups are ordered (the unlisted always last): the costliest
// first, the most calls first, or by name.
inline const std::vector<std::string> billSortings = {"cost", "calls", "name"};

struct RatingPass {
    std::string where;                // WHERE ... over calls, with ? for `values`
    std::vector<std::string> values;
    bool inOrder = false;             // hand the calls on in time order (costs a sort)
    std::string by = "ext";           // what a call's group is
    // How calls the file carries the previous teletype for are classified;
    // nullptr: with no area code and no special numbers.
    const CallCategories* categories = nullptr;
    std::string category;             // only calls billed in this category; '' for all
};

// Rates every call the pass selects and hands each to `each`. With
// `incomingLeftOut`, incoming calls (IN, and forwarded in FI), which the site
// does not pay for, are counted there instead of handed on.
Status rateCalls(sqlite3* database, const RatingPass& pass, const Tariffs& tariffs, const Directory& directory,
                 const std::function<void(const RatedCall&)>& each, long long* incomingLeftOut = nullptr);

// Gathers a bill and a report from rated calls.
class ReportBuilder {
public:
    // `sort`: one of billSortings.
    ReportBuilder(std::string from, std::string to, std::string by, std::string sort = "cost");
    void add(const RatedCall& call);
    // Calls alike, as the daily figures keep them: `call` stands for them
    // all (its cost is theirs together). They count in the bill, its groups,
    // departments and days, but in none of the report's lists.
    void addFigures(const RatedCall& call, const Totals& totals);
    // `generated`: when the report is made, YYYY-MM-DD HH:MM.
    Report finish(const std::string& generated);

    // Whether calls come with a directory: only then are extensions that it
    // does not list unusual.
    void directoryInUse(bool inUse) { report_.unusual.directoryUsed = inUse; }

    // Why calls were not rated, with how many each.
    const std::map<std::string, long long>& unratedReasons() const { return unratedReasons_; }

private:
    struct Kept {
        long long key1 = 0, key2 = 0;
        RatedCall call;
    };
    static void keep(std::vector<Kept>& list, long long key1, long long key2, const RatedCall& call);

    // The unusual calls and the unrated ones, one by one.
    void addUnusual(const RatedCall& call);
    void finishUnusual(Report& report);

    Report report_;
    std::string sort_;
    std::unordered_map<std::string, BillGroup> groups_;
    // By person, and for the 未登记 group: the extensions of a group, and
    // by person who it is.
    std::unordered_map<std::string, std::set<std::string>> groupNumbers_;
    std::unordered_map<std::string, std::string> groupPeople_;
    std::map<std::string, std::map<std::string, Totals>> departments_;
    std::map<std::string, Totals> days_;
    NumberTally destinations_;
    std::unordered_map<std::string, Ranked> callers_;
    std::map<std::string, long long> versions_;
    std::map<std::string, long long> unratedReasons_;
    std::map<std::string, UnratedCalls> unrated_;  // a short key a call: a month's thousands take little
    std::vector<Kept> long_, afterHours_, international_;
    std::vector<Kept> offHours_, veryLong_, firstUnrated_;
    std::set<std::string> unlistedExtensions_;
    std::unordered_map<std::string, UnlistedCaller> unlisted_;
    // Every timed call by its number, small: a month of calls is held.
    struct ToNumber {
        long long at = 0;  // seconds since 1970-01-01 of the calls' own clock
        Li cost = 0;
        std::size_t caller = 0;  // in callerNames_
    };
    std::unordered_map<std::string, std::vector<ToNumber>> toNumbers_;
    std::unordered_map<std::string, std::size_t> callerIndex_;
    std::vector<std::string> callerNames_;
};

// The department a call is counted for in reports: its person's on its
// day, "(no department)" for someone listed without one, and 未登记 for a
// number the directory does not know.
std::string departmentShown(const RatedCall& call);

// Groups in the order a bill shows them: by `sort` (one of billSortings),
// then by name and department; the unlisted last.
void sortGroups(std::vector<BillGroup>& groups, const std::string& sort);

// By person: a name two people of `groups` share gets their extensions
// after it, so that each row says who it is. `people[i]` is who groups[i] is.
void nameNamesakes(std::vector<BillGroup>& groups, const std::vector<std::string>& people);

// The group a call is billed to by `by` (ext, person, department, switch,
// trunk or route).
std::string billGroupOf(const RatedCall& call, const std::string& by);

}  // namespace quelvar::report
