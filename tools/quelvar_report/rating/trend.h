#pragma once
// This month against the months before: the cost per month and department,
// every call rated as the bill rates it.
#include <sqlite3.h>

#include <string>

#include "platform/status.h"
#include "quelvar_report/rating/categories.h"
#include "quelvar_report/rating/directory.h"
#include "quelvar_report/rating/report_data.h"
#include "quelvar_report/rating/tariffs.h"

namespace quelvar::report {

// The months from `fromMonth` to `toMonth` (YYYY-MM, both count) by the
// department of each call's day; extensions the directory does not list are
// one group, 未登记. Incoming calls are left out, as in the bill.
Status monthlyTrend(sqlite3* database, const std::string& fromMonth, const std::string& toMonth, const Tariffs& tariffs,
                    const Directory& directory, const CallCategories* categories, Trend& out);
// The same months from the costs the index keeps for `costsDigest` (see
// figures.h), rating only what is not kept: the same answer, without rating
// every call of twelve months.
Status monthlyTrend(sqlite3* database, const std::string& fromMonth, const std::string& toMonth, const Tariffs& tariffs,
                    const std::string& costsDigest, const Directory& directory, const CallCategories* categories,
                    Trend& out);

// The month `months` before YYYY-MM ("2026-11", 11 -> "2025-12"); '' for a
// text that is no month.
std::string monthsBefore(const std::string& month, int months);

}  // namespace quelvar::report
