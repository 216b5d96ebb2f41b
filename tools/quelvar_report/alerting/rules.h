#pragma once
// What the site wants to be told of: alerts.csv, kept by the site, one rule
// a line, read like tariffs.csv (UTF-8 or GBK as Excel saves it, # notes).
//
//   rule,match,band,limit,notify
//   silent,*,,2h,log;mail:noc@example.cn
//   call,国际长途;00870;00882,18:00-08:00,1/30min,webhook:https://qyapi.weixin.qq.com/...
//   unlisted,*,,3/10min,log
//   long,*,,3600s,log
//   cost,*,,500/24h,log
//   budget,department:*,,800/month,mail:office@example.cn
//
// rule    silent, call, unlisted, long, cost or budget.
// match   silent: a switch's folder (its MAC) or *. budget: department:NAME,
//         person:NAME, department:* or person:* (each one). The others: *
//         (or empty) for any call, else categories as the bill has them
//         (内线, 市话, 国内长途, 国际长途, 特服电话) and prefixes of the called
//         digits, several with ;.
// band    when the call starts, as in tariffs.csv (18:00-08:00, 00:00-24:00@6,7);
//         empty for any time. Not for silent and budget.
// limit   silent: a time within the switch's usual hours (2h, 90min).
//         call, unlisted: N or N/TIME: N matching calls of one extension
//         starting within TIME (empty: 1, every call on its own).
//         long: a call's length (3600s, 60min, 1h; a bare number is seconds).
//         cost: YUAN/TIME, an extension's calls costing more within TIME.
//         budget: YUAN/month, the month's bill so far; told at 80 % and 100 %.
// notify  channels, several with ;: log (a line on standard error; the
//         default), mail:ADDRESS, webhook:URL.
#include <string>
#include <vector>

#include "platform/status.h"
#include "quelvar_report/reading/csv_file.h"
#include "quelvar_report/rating/report_data.h"

namespace quelvar::report {

enum class RuleKind { silent, call, unlisted, longCall, cost, budget };

struct AlertRule {
    int line = 0;                 // in the file
    RuleKind kind = RuleKind::call;
    std::string name;             // as written: silent, call, ...
    // Its first four columns as written: the rule's identity. A rule whose
    // notify alone changes is the same rule and raises nothing again.
    std::string key;
    // call, unlisted, long, cost: which calls. None of either: any call.
    std::vector<std::string> categories, prefixes;
    std::string switchFolder;     // silent: '' for every switch
    std::string groupBy;          // budget: department or person
    std::string groupName;        // budget: '' for each one
    std::string band;             // as written; '' for any time
    std::vector<bool> bandMinutes;  // minutes of the week (Monday 00:00 first); empty for any time
    long long count = 1;          // call, unlisted: calls
    long long window = 0;         // seconds: call, unlisted, cost (0: each call on its own)
    long long seconds = 0;        // silent: the silence; long: the call
    Li amount = 0;                // cost, budget
    std::vector<std::string> notify;  // the channels as written

    // Whether a call of this category to these digits starting then is one
    // the rule is about (band and match; not its limit).
    bool matches(const std::string& category, const std::string& callee, const std::string& start) const;
};

Status readRules(const std::string& path, std::vector<AlertRule>& rules);
// A failure names the file and line.
Status rulesFromRows(const std::string& path, const std::vector<CsvRow>& rows, std::vector<AlertRule>& rules);

// "90s", "30min", "2h", "1d" as seconds; a bare number with `bareUnit`
// seconds (0: a unit is needed).
bool parseDuration(std::string_view text, long long bareUnit, long long& seconds);

}  // namespace quelvar::report
