// What the rules find: calls rated as the bill rates them, the month's bill,
// the switches' silences.
#include <algorithm>
#include <chrono>
#include <deque>
#include <map>
#include <set>
#include <utility>

#include "quelvar_report/alerting/alerts.h"
#include "quelvar_report/alerting/silence.h"
#include "quelvar_report/alerting/texts.h"
#include "quelvar_report/index/index_reader.h"
#include "quelvar_report/index/statement.h"
#include "quelvar_report/rating/bill.h"
#include "quelvar_report/reading/dates.h"

namespace quelvar::report {
namespace {

// The calls that started from `from` to `to` (moments as the index keeps
// them), grouped `by` as the bill groups them.
RatingPass startedBetween(std::string from, std::string to, bool inOrder, std::string by,
                          const AlertSources& sources) {
    return RatingPass{std::string("WHERE ") + notCalls + " AND start >= ? AND start <= ?",
                      {std::move(from), std::move(to)},
                      inOrder,
                      std::move(by),
                      sources.categories,
                      ""};
}

struct CallSeen {
    std::string switchName, number, callId, callee, start, end;
    long long at = 0;  // its start, as seconds
    long long seconds = 0;
    Li cost = 0;
    bool known = false;
};

// Whether an alert of this rule and subject raised before covers part of
// this burst: a burst that goes on past the look-back's start, or one whose
// earlier call was filed late (a record comes when its call ends, so a long
// call that started first comes last), is the one raised, not a new one.
Status continues(sqlite3* database, const AlertRule& rule, const CallSeen& first, const std::string& last,
                 bool& found) {
    Statement query(database,
                    "SELECT count(*) FROM alerts WHERE rule_key = ? AND subject = ? AND switch = ? AND first <= ? "
                    "AND last >= ?");
    const std::string from = momentText(first.at - rule.window);
    query.bind(1, rule.key).bind(2, first.number).bind(3, first.switchName).bind(4, last).bind(5, from);
    found = query.step() && query.integer(0) > 0;
    query.run();
    return query.status();
}

Alert callsAlert(const AlertRule& rule, const std::vector<const CallSeen*>& calls, bool perCall, bool listing) {
    Alert alert;
    const CallSeen& first = *calls.front();
    alert.rule = rule.name;
    alert.ruleKey = rule.key;
    alert.subject = first.number;
    alert.period = first.start + " " + first.switchName + (perCall ? " " + first.callId : std::string());
    alert.switchName = first.switchName;
    alert.ext = first.number;
    alert.number = first.callee;
    alert.first = first.start;
    std::string last;
    long long seconds = 0;
    Li cost = 0;
    std::set<std::string> numbers;
    for (const CallSeen* call : calls) {
        last = std::max(last, call->end);
        seconds += call->seconds;
        cost += call->cost;
        numbers.insert(call->callee);
    }
    alert.last = last;
    alert.calls = static_cast<long long>(calls.size());
    alert.seconds = seconds;
    alert.cost = cost;
    alert.notify = rule.notify;
    alert.text = callsText(rule, alert, listing && !first.known, static_cast<int>(numbers.size()));
    return alert;
}

// One extension's matching calls, in time order, into alerts: each call on
// its own, or bursts. A burst starts where the calls within the window
// reach the limit (at its first call in that window) and goes on while each
// next call comes within the window of the one before and keeps the window
// at the limit.
// `listing`: a directory is in use, so an extension it lacks is unlisted.
Status bursts(sqlite3* database, const AlertRule& rule, const std::vector<const CallSeen*>& calls, bool listing,
              std::vector<Alert>& found) {
    if (rule.window == 0) {
        for (const CallSeen* call : calls) found.push_back(callsAlert(rule, {call}, true, listing));
        return {};
    }
    const bool byCost = rule.kind == RuleKind::cost;
    const auto reached = [&](long long count, Li cost) { return byCost ? cost > rule.amount : count >= rule.count; };
    std::deque<const CallSeen*> window;
    Li windowCost = 0;
    std::vector<const CallSeen*> burst;
    const auto finish = [&]() -> Status {
        if (burst.empty()) return {};
        bool covered = false;
        std::string last;
        for (const CallSeen* call : burst) last = std::max(last, call->end);
        if (Status checked = continues(database, rule, *burst.front(), last, covered); !checked.ok()) return checked;
        if (!covered) found.push_back(callsAlert(rule, burst, false, listing));
        burst.clear();
        return {};
    };
    for (const CallSeen* call : calls) {
        window.push_back(call);
        windowCost += call->cost;
        while (window.front()->at < call->at - rule.window) {
            windowCost -= window.front()->cost;
            window.pop_front();
        }
        const bool atLimit = reached(static_cast<long long>(window.size()), windowCost);
        if (!burst.empty()) {
            if (atLimit && call->at - burst.back()->at <= rule.window) {
                burst.push_back(call);
                continue;
            }
            if (Status finished = finish(); !finished.ok()) return finished;
        }
        if (atLimit) burst.assign(window.begin(), window.end());
    }
    return finish();
}

Status callAlerts(sqlite3* database, const std::vector<const AlertRule*>& rules, const AlertSources& sources,
                  long long at, std::vector<Alert>& found) {
    bool unlisted = false;
    for (const AlertRule* rule : rules) unlisted = unlisted || rule->kind == RuleKind::unlisted;
    if (unlisted && sources.directory->empty())
        return Status::error(Status::Code::notFound, "", "",
                             "an unlisted rule needs the directory: directory.csv beside the program, or --directory");
    std::vector<CallSeen> seen;
    std::vector<std::string> categories;
    const RatingPass pass = startedBetween(momentText(at - alertLookBack), momentText(at), true, "ext", sources);
    long long incoming = 0;
    const Status rated = rateCalls(
        database, pass, *sources.tariffs, *sources.directory,
        [&](const RatedCall& call) {
            long long start = 0;
            if (!parseMoment(call.start, start)) return;
            seen.push_back(CallSeen{call.switchName, call.number, call.callId, call.callee, call.start,
                                    momentText(start + call.seconds), start, call.seconds, call.rated ? call.cost : 0,
                                    call.known});
            categories.push_back(call.category);
        },
        &incoming);  // the site's own calls only
    if (!rated.ok()) return rated;
    const bool listing = !sources.directory->empty();
    for (const AlertRule* rule : rules) {
        std::map<std::pair<std::string, std::string>, std::vector<const CallSeen*>> byExtension;
        for (std::size_t i = 0; i < seen.size(); ++i) {
            const CallSeen& call = seen[i];
            if (!rule->matches(categories[i], call.callee, call.start)) continue;
            if (rule->kind == RuleKind::unlisted && call.known) continue;
            if (rule->kind == RuleKind::longCall && call.seconds <= rule->seconds) continue;
            byExtension[{call.switchName, call.number}].push_back(&call);
        }
        for (const auto& [extension, calls] : byExtension) {
            if (rule->kind == RuleKind::longCall) {
                for (const CallSeen* call : calls) found.push_back(callsAlert(*rule, {call}, true, listing));
                continue;
            }
            if (Status made = bursts(database, *rule, calls, listing, found); !made.ok()) return made;
        }
    }
    return {};
}

Status budgetAlerts(sqlite3* database, const std::vector<const AlertRule*>& rules, const AlertSources& sources,
                    const std::string& at, std::vector<Alert>& found) {
    const std::string month = at.substr(0, 7);
    struct Spent {
        long long calls = 0, seconds = 0;
        Li cost = 0;
    };
    std::map<std::string, Spent> spent;  // department:NAME, person:NAME
    // The bill's calls of the month to the moment, as the bill puts them down.
    const RatingPass pass = startedBetween(month + "-01T00:00:00", at, false, "department", sources);
    long long incoming = 0;
    const Status rated = rateCalls(
        database, pass, *sources.tariffs, *sources.directory,
        [&](const RatedCall& call) {
            if (!call.known) return;
            for (const std::string& key : {"person:" + call.person, "department:" + call.department}) {
                if (key == "department:") continue;
                Spent& sum = spent[key];
                ++sum.calls;
                sum.seconds += call.seconds;
                if (call.rated) sum.cost += call.cost;
            }
        },
        &incoming);
    if (!rated.ok()) return rated;
    for (const AlertRule* rule : rules) {
        const std::string prefix = rule->groupBy + ":";
        for (const auto& [subject, sum] : spent) {
            if (!subject.starts_with(prefix)) continue;
            if (!rule->groupName.empty() && subject != prefix + rule->groupName) continue;
            // The higher mark reached stands for the lower: one jump past
            // both tells once.
            const int percent = static_cast<int>(sum.cost * 100 / rule->amount);
            if (percent < 80) continue;
            Alert alert;
            alert.rule = rule->name;
            alert.ruleKey = rule->key;
            alert.subject = subject;
            alert.period = month + (percent >= 100 ? " 100" : " 80");
            alert.first = month + "-01T00:00:00";
            alert.last = at;
            alert.calls = sum.calls;
            alert.seconds = sum.seconds;
            alert.cost = sum.cost;
            alert.notify = rule->notify;
            alert.text = budgetText(*rule, alert, month, percent);
            found.push_back(std::move(alert));
        }
    }
    return {};
}

Status silenceAlerts(sqlite3* database, const AlertRule& rule, const std::string& at, std::vector<Alert>& found) {
    // The earliest silence of this rule still open in the index: its end,
    // however late, closes it.
    std::string since;
    {
        Statement open(database, "SELECT min(period) FROM alerts WHERE rule_key = ? AND closed IS NULL");
        open.bind(1, rule.key);
        if (open.step() && !open.null(0)) since = open.text(0);
        open.run();
        if (open.failed()) return open.status();
    }
    std::vector<Silence> silences;
    const std::string switches = rule.switchFolder.empty() ? std::string("*") : rule.switchFolder;
    if (Status read = findSilences(database, switches, std::chrono::seconds(rule.seconds), at, silences, since);
        !read.ok())
        return read;
    for (const Silence& silence : silences) {
        Alert alert;
        alert.rule = rule.name;
        alert.ruleKey = rule.key;
        alert.subject = silence.switchName;
        alert.period = silence.start;
        alert.switchName = silence.switchName;
        alert.first = silence.start;
        alert.last = silence.end;
        alert.closed = silence.end;
        long long from = 0, to = 0;
        if (parseMoment(silence.start, from) && parseMoment(silence.end.value_or(at), to)) alert.seconds = to - from;
        alert.notify = rule.notify;
        alert.text = silenceText(silence.switchName, silence.start, silence.usualSeconds, silence.missedDays, rule.seconds);
        found.push_back(std::move(alert));
    }
    return {};
}

}  // namespace

Status findAlerts(sqlite3* database, const std::vector<AlertRule>& rules, const AlertSources& sources,
                  const std::string& at, std::vector<Alert>& found) {
    long long moment = 0;
    if (!parseMoment(at, moment)) return Status::error(Status::Code::failed, "", "", "bad moment " + at);
    std::vector<const AlertRule*> ofCalls, budgets;
    for (const AlertRule& rule : rules) {
        if (rule.kind == RuleKind::silent) {
            if (Status made = silenceAlerts(database, rule, at, found); !made.ok()) return made;
        } else if (rule.kind == RuleKind::budget) {
            budgets.push_back(&rule);
        } else {
            ofCalls.push_back(&rule);
        }
    }
    if (!ofCalls.empty())
        if (Status made = callAlerts(database, ofCalls, sources, moment, found); !made.ok()) return made;
    if (!budgets.empty())
        if (Status made = budgetAlerts(database, budgets, sources, at, found); !made.ok()) return made;
    return {};
}

}  // namespace quelvar::report
