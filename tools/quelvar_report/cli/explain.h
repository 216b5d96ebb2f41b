#pragma once
// How one call's cost was made: its category (and where the file carries the
// call before's, why the number's instead), the tariff version, the rule,
// the first period, the units and the bands they started in.
#include <sqlite3.h>

#include <string>
#include <vector>

#include "platform/status.h"
#include "quelvar_report/rating/categories.h"
#include "quelvar_report/rating/directory.h"
#include "quelvar_report/output/output.h"
#include "quelvar_report/rating/tariffs.h"

namespace quelvar::report {

// Explains every call whose id (as `calls` shows it) or key (the id before
// its '-') is `callId`, among the calls `where` selects; notFound when there
// is none.
Status explainCall(sqlite3* database, const std::string& callId, const std::string& where,
                   const std::vector<std::string>& values, const Tariffs& tariffs, const Directory& directory,
                   const CallCategories& categories, const std::string& tariffsPath, Format format, std::string& out);

}  // namespace quelvar::report
