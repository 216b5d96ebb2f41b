// The alerts the index remembers, and their deliveries.
#include <algorithm>
#include <cstdio>
#include <map>
#include <set>

#include "quelvar_report/alerting/alerts.h"
#include "quelvar_report/alerting/texts.h"
#include "quelvar_report/index/statement.h"
#include "quelvar_report/reading/dates.h"

namespace quelvar::report {
namespace {

Status execute(sqlite3* database, const char* sql) {
    char* message = nullptr;
    const int result = sqlite3_exec(database, sql, nullptr, nullptr, &message);
    if (result == SQLITE_OK) return {};
    const std::string why = message ? message : sqlite3_errstr(result);
    sqlite3_free(message);
    return Status::error(Status::Code::failed, "write the index", "", why);
}

std::string jsonText(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string jsonOr(const std::optional<std::string>& text) { return text ? jsonText(*text) : "null"; }
std::string jsonOr(const std::optional<long long>& number) { return number ? std::to_string(*number) : "null"; }

const char* alertColumns = "id, rule, rule_key, subject, period, switch, ext, number, first, last, calls, seconds, "
                           "cost, text, closed";

Alert alertOf(const Statement& row) {
    Alert alert;
    alert.id = row.integer(0);
    alert.rule = row.text(1);
    alert.ruleKey = row.text(2);
    alert.subject = row.text(3);
    alert.period = row.text(4);
    alert.switchName = row.optionalText(5);
    alert.ext = row.optionalText(6);
    alert.number = row.optionalText(7);
    alert.first = row.optionalText(8);
    alert.last = row.optionalText(9);
    alert.calls = row.optionalInteger(10);
    alert.seconds = row.optionalInteger(11);
    alert.cost = row.optionalInteger(12);
    alert.text = row.text(13);
    alert.closed = row.optionalText(14);
    return alert;
}

// An alert's closing as the run tells it and its channels receive it.
Alert closingOf(Alert alert) {
    alert.closing = true;
    alert.last = alert.closed;
    long long from = 0, to = 0;
    if (alert.first && alert.closed && parseMoment(*alert.first, from) && parseMoment(*alert.closed, to))
        alert.seconds = to - from;
    alert.text = heardAgainText(alert.switchName.value_or(alert.subject), alert.first.value_or(""),
                                alert.closed.value_or(""));
    return alert;
}

Status queueSends(sqlite3* database, long long id, const std::vector<std::string>& channels, const char* what,
                  const std::string& at) {
    Statement insert(database, "INSERT OR IGNORE INTO alert_sends(alert, channel, what, next_try) VALUES (?, ?, ?, ?)");
    for (const std::string& channel : channels) {
        insert.bind(1, id).bind(2, channel).bind(3, what).bind(4, at).run();
        if (insert.failed()) return insert.status();
    }
    return {};
}

Status record(sqlite3* database, std::vector<Alert>& found, const std::string& at, bool dryRun,
              std::vector<Alert>& fresh) {
    Statement known(database, std::string("SELECT ") + alertColumns +
                                  " FROM alerts WHERE rule_key = ? AND subject = ? AND period = ?");
    Statement insert(database,
                     "INSERT INTO alerts(rule, rule_key, subject, period, raised, closed, switch, ext, number, first, "
                     "last, calls, seconds, cost, text) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    Statement close(database, "UPDATE alerts SET closed = ? WHERE id = ?");
    for (Alert& alert : found) {
        known.bind(1, alert.ruleKey).bind(2, alert.subject).bind(3, alert.period);
        std::optional<Alert> before;
        if (known.step()) before = alertOf(known);
        known.run();
        if (known.failed()) return known.status();
        if (before) {
            // Raised already: only a silence's end is news.
            if (before->closed || !alert.closed) continue;
            before->closed = alert.closed;
            Alert closing = closingOf(*before);
            if (!dryRun) {
                close.bind(1, *alert.closed).bind(2, before->id).run();
                if (close.failed()) return close.status();
                if (Status queued = queueSends(database, before->id, alert.notify, "closed", at); !queued.ok())
                    return queued;
            }
            fresh.push_back(std::move(closing));
            continue;
        }
        // A silence over before it was ever raised is told whole, at once.
        if (alert.closed)
            alert.text = heardAgainText(alert.switchName.value_or(alert.subject), alert.first.value_or(""),
                                        *alert.closed) +
                         "；" + alert.text.substr(std::string(alertWord).size());
        if (!dryRun) {
            insert.bind(1, alert.rule).bind(2, alert.ruleKey).bind(3, alert.subject).bind(4, alert.period).bind(5, at);
            insert.bind(6, alert.closed).bind(7, alert.switchName).bind(8, alert.ext).bind(9, alert.number);
            insert.bind(10, alert.first).bind(11, alert.last).bind(12, alert.calls).bind(13, alert.seconds);
            insert.bind(14, alert.cost).bind(15, alert.text).run();
            if (insert.failed()) return insert.status();
            alert.id = sqlite3_last_insert_rowid(database);
            if (Status queued = queueSends(database, alert.id, alert.notify, "raised", at); !queued.ok()) return queued;
        }
        fresh.push_back(alert);
    }
    return {};
}

}  // namespace

Status recordAlerts(sqlite3* database, std::vector<Alert> found, const std::string& at, bool dryRun,
                    std::vector<Alert>& fresh) {
    fresh.clear();
    // The same subject found twice in one run (two rules alike) is raised once.
    std::set<std::tuple<std::string, std::string, std::string>> seen;
    std::erase_if(found, [&](const Alert& alert) { return !seen.insert({alert.ruleKey, alert.subject, alert.period}).second; });
    if (dryRun) return record(database, found, at, true, fresh);
    if (Status begun = execute(database, "BEGIN IMMEDIATE"); !begun.ok()) return begun;
    Status recorded = record(database, found, at, false, fresh);
    if (!recorded.ok()) {
        static_cast<void>(execute(database, "ROLLBACK"));
        fresh.clear();
        return recorded;
    }
    return execute(database, "COMMIT");
}

Status openAlerts(sqlite3* database, const std::string& at, std::vector<Alert>& open) {
    long long moment = 0;
    if (!parseMoment(at, moment)) return Status::error(Status::Code::failed, "", "", "bad moment " + at);
    Statement query(database, std::string("SELECT ") + alertColumns +
                                  " FROM alerts WHERE raised <= ?1 AND ((rule = 'silent' AND closed IS NULL) OR "
                                  "(rule = 'budget' AND substr(period, 1, 7) = substr(?1, 1, 7)) OR "
                                  "(rule NOT IN ('silent', 'budget') AND last >= ?2)) ORDER BY id");
    const std::string lookedBackTo = momentText(moment - alertLookBack);
    query.bind(1, at).bind(2, lookedBackTo);
    while (query.step()) open.push_back(alertOf(query));
    return query.status();
}

std::string alertJson(const Alert& alert) {
    return "{\"rule\":" + jsonText(alert.rule) + ",\"subject\":" + jsonText(alert.subject) +
           ",\"switch\":" + jsonOr(alert.switchName) + ",\"ext\":" + jsonOr(alert.ext) +
           ",\"number\":" + jsonOr(alert.number) + ",\"first\":" + jsonOr(alert.first) +
           ",\"last\":" + jsonOr(alert.last) + ",\"calls\":" + jsonOr(alert.calls) +
           ",\"seconds\":" + jsonOr(alert.seconds) +
           ",\"cost\":" + (alert.cost ? jsonText(yuanExact(*alert.cost)) : std::string("null")) +
           ",\"text\":" + jsonText(alert.text) + "}";
}

Status deliverDue(sqlite3* database, const std::string& at, const DeliveryOptions& options, std::FILE* log) {
    long long moment = 0;
    if (!parseMoment(at, moment)) return Status::error(Status::Code::failed, "", "", "bad moment " + at);
    struct Due {
        Alert alert;
        std::string channel, what;
        long long attempts = 0;
    };
    std::vector<Due> due;
    {
        Statement query(database, std::string("SELECT ") + alertColumns +
                                      ", s.channel, s.what, s.attempts FROM alert_sends s JOIN alerts a ON a.id = "
                                      "s.alert WHERE s.sent IS NULL AND s.next_try <= ? ORDER BY s.next_try, a.id");
        query.bind(1, at);
        while (query.step()) due.push_back(Due{alertOf(query), query.text(15), query.text(16), query.integer(17)});
        if (query.failed()) return query.status();
    }
    std::set<std::string> failing;
    Statement sent(database, "UPDATE alert_sends SET sent = ?, error = NULL, attempts = attempts + 1 "
                             "WHERE alert = ? AND channel = ? AND what = ?");
    Statement refused(database, "UPDATE alert_sends SET attempts = attempts + 1, next_try = ?, error = ? "
                                "WHERE alert = ? AND channel = ? AND what = ?");
    for (const Due& entry : due) {
        if (failing.contains(entry.channel)) continue;
        const Alert alert = entry.what == "closed" ? closingOf(entry.alert) : entry.alert;
        Channel channel;
        Status delivered = parseChannel(entry.channel, channel);
        if (delivered.ok()) {
            const Message message{subjectOf(alert), alert.text, alertJson(alert)};
            delivered = deliver(channel, message, options);
        }
        if (delivered.ok()) {
            sent.bind(1, at).bind(2, alert.id).bind(3, entry.channel).bind(4, entry.what).run();
            if (sent.failed()) return sent.status();
            continue;
        }
        failing.insert(entry.channel);
        const long long attempts = entry.attempts + 1;
        const std::string next = momentText(moment + retryDelay(static_cast<int>(attempts)).count());
        const std::string why = delivered.text();
        refused.bind(1, next).bind(2, why).bind(3, alert.id).bind(4, entry.channel).bind(5, entry.what).run();
        if (refused.failed()) return refused.status();
        std::fprintf(log, "quelvar-report: alert %lld not delivered to %s (try %lld): %s; next try at %s\n", alert.id,
                     entry.channel.c_str(), attempts, why.c_str(), momentShown(next).c_str());
    }
    return {};
}

}  // namespace quelvar::report
