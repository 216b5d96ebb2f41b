#include "quelvar_report/alerting/rules.h"

#include <algorithm>
#include <charconv>

#include "quelvar_report/notify/notify.h"
#include "quelvar_report/rating/tariffs.h"
#include "quelvar_report/reading/dates.h"

namespace quelvar::report {
namespace {

// A week: longer windows and silences are taken for a slip of the keyboard.
constexpr long long longestTime = 7 * 86400;

bool allDigits(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool parseCount(std::string_view text, long long& value) {
    return allDigits(text) && text.size() <= 6 &&
           std::from_chars(text.data(), text.data() + text.size(), value).ec == std::errc() && value > 0;
}

std::vector<std::string> pieces(std::string_view text) {
    std::vector<std::string> out;
    while (true) {
        const std::size_t semicolon = text.find(';');
        std::string_view piece = text.substr(0, semicolon);
        while (!piece.empty() && piece.front() == ' ') piece.remove_prefix(1);
        while (!piece.empty() && piece.back() == ' ') piece.remove_suffix(1);
        out.emplace_back(piece);
        if (semicolon == std::string_view::npos) return out;
        text = text.substr(semicolon + 1);
    }
}

// "N" or "N/TIME".
bool parseCountWindow(std::string_view text, long long& count, long long& window) {
    if (text.empty()) {
        count = 1;
        window = 0;
        return true;
    }
    const std::size_t slash = text.find('/');
    window = 0;
    if (!parseCount(text.substr(0, slash), count)) return false;
    return slash == std::string_view::npos || (parseDuration(text.substr(slash + 1), 0, window) && window > 0);
}

std::string upper(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        if (c == ':') c = '-';
    }
    return text;
}

}  // namespace

bool parseDuration(std::string_view text, long long bareUnit, long long& seconds) {
    std::size_t digits = 0;
    while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') ++digits;
    long long value = 0;
    if (digits == 0 || digits > 7 || std::from_chars(text.data(), text.data() + digits, value).ec != std::errc())
        return false;
    const std::string_view unit = text.substr(digits);
    long long factor = 0;
    if (unit.empty()) factor = bareUnit;
    else if (unit == "s") factor = 1;
    else if (unit == "min") factor = 60;
    else if (unit == "h") factor = 3600;
    else if (unit == "d") factor = 86400;
    seconds = value * factor;
    return factor != 0 && seconds <= longestTime;
}

bool AlertRule::matches(const std::string& category, const std::string& callee, const std::string& start) const {
    if (!bandMinutes.empty()) {
        long long moment = 0;
        if (!parseMoment(start, moment)) return false;
        const long day = static_cast<long>(moment / 86400);
        const long long minute = (weekdayOf(day) - 1) * 1440LL + moment % 86400 / 60;
        if (!bandMinutes[static_cast<std::size_t>(minute)]) return false;
    }
    if (categories.empty() && prefixes.empty()) return true;
    if (std::find(categories.begin(), categories.end(), category) != categories.end()) return true;
    std::string digits;
    for (const char c : callee)
        if (c >= '0' && c <= '9') digits += c;
    return std::any_of(prefixes.begin(), prefixes.end(),
                       [&](const std::string& prefix) { return digits.starts_with(prefix); });
}

Status readRules(const std::string& path, std::vector<AlertRule>& rules) {
    std::vector<CsvRow> rows;
    if (Status read = readCsvFile(path, rows); !read.ok()) return read;
    return rulesFromRows(path, rows, rules);
}

Status rulesFromRows(const std::string& path, const std::vector<CsvRow>& rows, std::vector<AlertRule>& rules) {
    if (Status header = checkHeader(path, rows, {"rule", "match", "band", "limit", "notify"}); !header.ok())
        return header;
    std::vector<AlertRule> made;
    for (std::size_t i = 1; i < rows.size(); ++i) {
        const CsvRow& row = rows[i];
        const auto wrong = [&](const std::string& why) {
            return Status::error(Status::Code::damaged, "read", path, "line " + std::to_string(row.line) + ": " + why);
        };
        std::vector<std::string> fields = row.fields;
        fields.resize(std::max<std::size_t>(fields.size(), 5));
        AlertRule rule;
        rule.line = row.line;
        rule.name = fields[0];
        rule.key = fields[0] + "," + fields[1] + "," + fields[2] + "," + fields[3];
        const std::string& match = fields[1];
        const std::string& limit = fields[3];
        if (rule.name == "silent") rule.kind = RuleKind::silent;
        else if (rule.name == "call") rule.kind = RuleKind::call;
        else if (rule.name == "unlisted") rule.kind = RuleKind::unlisted;
        else if (rule.name == "long") rule.kind = RuleKind::longCall;
        else if (rule.name == "cost") rule.kind = RuleKind::cost;
        else if (rule.name == "budget") rule.kind = RuleKind::budget;
        else return wrong("unknown rule " + rule.name + " (silent, call, unlisted, long, cost or budget)");

        const bool ofCalls = rule.kind != RuleKind::silent && rule.kind != RuleKind::budget;
        if (!ofCalls && !fields[2].empty()) return wrong("a " + rule.name + " rule has no band");
        rule.band = fields[2];
        if (!rule.band.empty()) {
            std::string why;
            if (!bandMinutes(rule.band, rule.bandMinutes, why)) return wrong(why);
        }

        if (rule.kind == RuleKind::silent) {
            if (match != "*" && !match.empty()) rule.switchFolder = upper(match);
        } else if (rule.kind == RuleKind::budget) {
            const std::size_t colon = match.find(':');
            rule.groupBy = match.substr(0, colon);
            if (colon == std::string::npos || (rule.groupBy != "department" && rule.groupBy != "person") ||
                colon + 1 == match.size())
                return wrong("budget match " + match + " is none of department:NAME, person:NAME, department:*, person:*");
            rule.groupName = match.substr(colon + 1);
            if (rule.groupName == "*") rule.groupName.clear();
        } else if (match != "*" && !match.empty()) {
            for (const std::string& piece : pieces(match)) {
                if (allDigits(piece)) rule.prefixes.push_back(piece);
                else if (std::find(knownCategories.begin(), knownCategories.end(), piece) != knownCategories.end())
                    rule.categories.push_back(piece);
                else
                    return wrong("match " + piece +
                                 " is neither a category (内线, 市话, 国内长途, 国际长途, 特服电话) nor digits, nor *");
            }
        }

        switch (rule.kind) {
        case RuleKind::silent:
            if (!parseDuration(limit, 0, rule.seconds) || rule.seconds == 0)
                return wrong("bad limit " + limit + " for silent (a time such as 2h or 90min)");
            break;
        case RuleKind::call:
        case RuleKind::unlisted:
            if (!parseCountWindow(limit, rule.count, rule.window) || (rule.count > 1 && rule.window == 0))
                return wrong("bad limit " + limit + " for " + rule.name +
                             " (1 for every call, or calls within a time such as 5/10min)");
            break;
        case RuleKind::longCall:
            if (!parseDuration(limit, 1, rule.seconds) || rule.seconds == 0)
                return wrong("bad limit " + limit + " for long (a call's length such as 3600s or 1h)");
            break;
        case RuleKind::cost: {
            const std::size_t slash = limit.find('/');
            if (slash == std::string::npos || !parseYuan(limit.substr(0, slash), rule.amount) || rule.amount == 0 ||
                !parseDuration(limit.substr(slash + 1), 0, rule.window) || rule.window == 0)
                return wrong("bad limit " + limit + " for cost (yuan within a time such as 500/24h)");
            break;
        }
        case RuleKind::budget: {
            const std::size_t slash = limit.find('/');
            if (!parseYuan(limit.substr(0, slash), rule.amount) || rule.amount == 0 ||
                (slash != std::string::npos && limit.substr(slash + 1) != "month"))
                return wrong("bad limit " + limit + " for budget (yuan a month such as 800/month)");
            break;
        }
        }

        for (const std::string& entry : fields[4].empty() ? std::vector<std::string>{"log"} : pieces(fields[4])) {
            Channel channel;
            if (Status parsed = parseChannel(entry, channel); !parsed.ok())
                return wrong("notify: " + (parsed.reason().empty() ? parsed.text() : parsed.reason()));
            if (std::find(rule.notify.begin(), rule.notify.end(), entry) == rule.notify.end())
                rule.notify.push_back(entry);
        }
        made.push_back(std::move(rule));
    }
    rules = std::move(made);
    return {};
}

}  // namespace quelvar::report
