#pragma once
// Long periods from the index's daily figures instead of from every call.
//
// Costs depend on each call's duration and start (tariff bands) and on the
// tariffs in force, so they are worked out call by call once, when a
// switch's day is indexed, and kept per (day, switch, caller, account,
// category, tariff version) under a digest of the tariffs file: a day is
// rated again only when it changes or the tariffs do. People and
// departments come from the directory when asked, per (switch, number, day),
// so a directory that changes needs no rating. A day whose costs are not
// kept for the tariffs in use, and every call that could not be rated, is
// rated from its calls: the answers are always those of rating every call.
#include <sqlite3.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/status.h"
#include "quelvar_report/rating/categories.h"
#include "quelvar_report/rating/directory.h"
#include "quelvar_report/rating/report_data.h"
#include "quelvar_report/rating/tariffs.h"

namespace quelvar::report {

// What kept costs were worked out with: a digest of the tariffs file and of
// `categorySource` (CallCategories::sourceOf: the area code and tele.ini
// that decide the category of a call the file carries the call before for).
std::string tariffsDigest(std::string_view tariffsFile, std::string_view categorySource = {});
Status readTariffsDigest(const std::string& path, std::string& digest, std::string_view categorySource = {});

// Rates every switch's day whose costs are not kept for `digest` and keeps
// them, in one transaction, each in the category it is billed in (by
// `categories`, which `digest` must cover). `daysRated`, when given, tells
// how many.
Status keepCosts(sqlite3* database, const Tariffs& tariffs, const std::string& digest, long long* daysRated = nullptr,
                 const CallCategories* categories = nullptr);

// The calls a question over figures is about: a period and the filters the
// figures can answer (incoming calls are kept as a count per switch and
// day, so an extension's bill is rated from its calls).
struct FigureFilter {
    std::string from, to;  // YYYY-MM-DD, both days count
    std::optional<std::string> switchName;  // as its folder is named (compared without case)
};

// The calls the site pays for in a period, as a bill takes them (incoming
// calls only counted): each kept figure of rated calls to `many`, with one
// call standing for them (its person and department looked up for its day,
// its group by `by`) and their totals; every other call to `each`, rated.
Status billedFigures(sqlite3* database, const FigureFilter& filter, const Tariffs& tariffs, const std::string& digest,
                     const Directory& directory, const std::string& by,
                     const std::function<void(const RatedCall&, const Totals&)>& many,
                     const std::function<void(const RatedCall&)>& each, long long* incoming = nullptr,
                     const CallCategories* categories = nullptr);

// Months by groups: the calls, seconds and cost of each group in each month.
struct MonthlyFigures {
    std::vector<std::string> months;  // YYYY-MM, every month of the period in order
    // Each group with one Totals per month, the most costly over the period first.
    std::vector<std::pair<std::string, std::vector<Totals>>> groups;
    std::vector<Totals> total;        // per month
};

// The billed calls (as billedFigures takes them) of every month that the
// period from..to (YYYY-MM-DD) touches, grouped as a bill groups them by
// `groupBy` (department, person, ext, switch). For a 12-month trend give
// the first day of the first month and the last day of the last.
Status monthlyFigures(sqlite3* database, const std::string& from, const std::string& to, const std::string& groupBy,
                      const Tariffs& tariffs, const std::string& digest, const Directory& directory,
                      MonthlyFigures& out, const CallCategories* categories = nullptr);

}  // namespace quelvar::report
