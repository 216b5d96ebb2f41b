#pragma once
// Alerts: what the rules of alerts.csv find in the index as of a moment,
// each raised once (the index's `alerts` table remembers the rule, subject
// and period of every one), and their delivery to the rules' channels.
#include <sqlite3.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/status.h"
#include "quelvar_report/alerting/rules.h"
#include "quelvar_report/notify/notify.h"
#include "quelvar_report/rating/categories.h"
#include "quelvar_report/rating/directory.h"
#include "quelvar_report/rating/tariffs.h"

namespace quelvar::report {

// How far back the rules of calls look from the moment: a long weekend
// without a run still raises the fraud of its first night.
inline constexpr long long alertLookBack = 3 * 86400;

struct Alert {
    std::string rule;     // silent, call, unlisted, long, cost, budget
    std::string ruleKey;  // AlertRule::key
    std::string subject;  // the switch folder, the extension, department:NAME or person:NAME
    std::string period;   // what makes it once
    std::optional<std::string> switchName, ext, number, first, last;
    std::optional<long long> calls, seconds;
    std::optional<Li> cost;
    std::string text;                  // one line, in Chinese
    std::vector<std::string> notify;   // the rule's channels
    // A silence that has ended: `closed` is when a record came again. Raised
    // already, it is closed now; never raised, it is raised closed.
    std::optional<std::string> closed;
    bool closing = false;  // in a run's answer: the closing of one raised before
    long long id = 0;      // alerts.id once recorded
};

struct AlertSources {
    const Tariffs* tariffs = nullptr;
    const Directory* directory = nullptr;
    const CallCategories* categories = nullptr;
};

// Everything the rules find as of `at` (YYYY-MM-DDTHH:MM:SS local): calls
// that started within alertLookBack before it, the month's bill to it, the
// silences as of it; raised before or not.
Status findAlerts(sqlite3* database, const std::vector<AlertRule>& rules, const AlertSources& sources,
                  const std::string& at, std::vector<Alert>& found);

// Keeps the alerts of `found` not raised before, and closes the raised
// silences that ended; each with a delivery to each channel of its rule.
// `fresh` receives what is new: the alerts raised and the silences closed.
// With `dryRun` nothing is written: `fresh` is what would be.
Status recordAlerts(sqlite3* database, std::vector<Alert> found, const std::string& at, bool dryRun,
                    std::vector<Alert>& fresh);

// The alerts still open at `at`: silences not closed, budgets of its month,
// calls within alertLookBack.
Status openAlerts(sqlite3* database, const std::string& at, std::vector<Alert>& open);

// Hands every delivery that is due at `at` to its channel, once: taken, it
// is marked sent; refused, it is tried again after retryDelay, with the
// error kept and a line on `log`. A channel that fails is not tried again
// in the same run, so that one slow receiver costs a run one timeout.
Status deliverDue(sqlite3* database, const std::string& at, const DeliveryOptions& options, std::FILE* log);

// The alert as the JSON object `alerts --format json` lists and a plain
// webhook receives.
std::string alertJson(const Alert& alert);

}  // namespace quelvar::report
