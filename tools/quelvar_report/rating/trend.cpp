#include "quelvar_report/rating/trend.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <unordered_map>

#include "quelvar_report/index/index_reader.h"
#include "quelvar_report/rating/bill.h"
#include "quelvar_report/rating/figures.h"
#include "quelvar_report/reading/dates.h"

namespace quelvar::report {
namespace {

bool monthParts(const std::string& month, int& year, int& number) {
    return month.size() == 7 && month[4] == '-' && parseNumber(std::string_view(month).substr(0, 4), year) &&
           parseNumber(std::string_view(month).substr(5, 2), number) && number >= 1 && number <= 12;
}

// The most costly in the last month first, 未登记 last.
void sortRows(std::vector<TrendRow>& groups) {
    std::stable_sort(groups.begin(), groups.end(), [](const TrendRow& a, const TrendRow& b) {
        const bool aUnlisted = a.group == unlistedDepartment, bUnlisted = b.group == unlistedDepartment;
        if (aUnlisted != bUnlisted) return bUnlisted;
        if (a.months.back().cost != b.months.back().cost) return a.months.back().cost > b.months.back().cost;
        return a.group < b.group;
    });
}

}  // namespace

std::string monthsBefore(const std::string& month, int months) {
    int year = 0, number = 0;
    if (!monthParts(month, year, number)) return {};
    const int index = year * 12 + (number - 1) - months;
    if (index < 0) return {};
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02d", index / 12, index % 12 + 1);
    return text;
}

Status monthlyTrend(sqlite3* database, const std::string& fromMonth, const std::string& toMonth, const Tariffs& tariffs,
                    const Directory& directory, const CallCategories* categories, Trend& out) {
    out = Trend{};
    int fromYear = 0, fromNumber = 0, toYear = 0, toNumber = 0;
    if (!monthParts(fromMonth, fromYear, fromNumber) || !monthParts(toMonth, toYear, toNumber) || fromMonth > toMonth)
        return Status::error(Status::Code::failed, "trend", fromMonth + " to " + toMonth, "not a run of months");
    std::map<std::string, std::size_t> column;
    for (std::string month = fromMonth; month <= toMonth; month = monthsBefore(month, -1)) {
        column[month] = out.months.size();
        out.months.push_back(month);
    }
    out.total.assign(out.months.size(), Totals{});
    const long last = daysFromCivil(toNumber == 12 ? toYear + 1 : toYear, toNumber == 12 ? 1 : toNumber + 1, 1) - 1;
    const RatingPass pass{
        std::string("WHERE ") + notCalls + " AND " + when + " >= ? AND " + when + " < date(?, '+1 day')",
        {fromMonth + "-01", dateText(last)},
        false,
        "department",
        categories,
        ""};
    std::unordered_map<std::string, std::size_t> rowOf;
    long long incoming = 0;
    const Status rated = rateCalls(
        database, pass, tariffs, directory,
        [&](const RatedCall& call) {
            const auto found = column.find(call.day.substr(0, 7));
            if (found == column.end()) return;
            const std::string group = departmentShown(call);
            auto row = rowOf.find(group);
            if (row == rowOf.end()) {
                row = rowOf.emplace(group, out.groups.size()).first;
                out.groups.push_back(TrendRow{group, std::vector<Totals>(out.months.size())});
            }
            out.groups[row->second].months[found->second].add(call.seconds, call.cost, call.rated);
            out.total[found->second].add(call.seconds, call.cost, call.rated);
        },
        &incoming);
    if (!rated.ok()) return rated;
    sortRows(out.groups);
    return {};
}

Status monthlyTrend(sqlite3* database, const std::string& fromMonth, const std::string& toMonth, const Tariffs& tariffs,
                    const std::string& costsDigest, const Directory& directory, const CallCategories* categories,
                    Trend& out) {
    out = Trend{};
    int fromYear = 0, fromNumber = 0, toYear = 0, toNumber = 0;
    if (!monthParts(fromMonth, fromYear, fromNumber) || !monthParts(toMonth, toYear, toNumber) || fromMonth > toMonth)
        return Status::error(Status::Code::failed, "trend", fromMonth + " to " + toMonth, "not a run of months");
    const long last = daysFromCivil(toNumber == 12 ? toYear + 1 : toYear, toNumber == 12 ? 1 : toNumber + 1, 1) - 1;
    MonthlyFigures figures;
    // By department: departmentShown, 未登记 for what the directory does not list.
    const Status made = monthlyFigures(database, fromMonth + "-01", dateText(last), "department", tariffs, costsDigest,
                                       directory, figures, categories);
    if (!made.ok()) return made;
    out.months = std::move(figures.months);
    out.total = std::move(figures.total);
    for (auto& [group, months] : figures.groups) out.groups.push_back(TrendRow{group, std::move(months)});
    sortRows(out.groups);
    return {};
}

}  // namespace quelvar::report
