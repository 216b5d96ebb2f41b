#include "quelvar_report/cli/explain.h"

#include "quelvar_report/reading/dates.h"
#include "quelvar_report/index/index_reader.h"
#include "quelvar_report/index/schema.h"

namespace quelvar::report {
namespace {

std::string clock(const std::string& moment) { return moment.size() >= 19 ? moment.substr(11, 8) : moment; }

std::string plural(long long count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string ruleText(const TariffRule& rule) {
    return "line " + std::to_string(rule.line) + " (" + rule.match + ", " +
           (rule.band.empty() ? std::string("whole day") : "band " + rule.band) + ")";
}

// Why a call is billed in a category other than the one filed: the file
// carries the call before's.
std::string categoryWhy(const std::string& type, const std::string& filed, const CallCategories::Decision& decided) {
    const std::string carried = filed.empty() ? std::string("no category") : filed;
    return "TYPE " + (type.empty() ? std::string("(none)") : type) + ": the file carries the previous call's " + carried +
           "; from the " + (type == "FI" ? "calling" : "called") + " number " +
           (decided.number.empty() ? std::string("(none)") : decided.number) + ": " + decided.category;
}

}  // namespace

Status explainCall(sqlite3* database, const std::string& callId, const std::string& where,
                   const std::vector<std::string>& values, const Tariffs& tariffs, const Directory& directory,
                   const CallCategories& categories, const std::string& tariffsPath, Format format, std::string& out) {
    Statement query(database, std::string("SELECT id, switch, call_id, account, caller, callee, category, start, substr(") +
                                  when + ", 1, 10), seconds, legs, flags, type, route FROM calls " + where +
                                  " AND (call_id = ? OR call_key = ?) ORDER BY " +
                                  when + ", switch");
    std::vector<std::string> bound = values;
    bound.push_back(callId);
    bound.push_back(callId);
    query.bind(bound);
    int found = 0;
    std::string json = "{\"calls\":[";
    while (query.step()) {
        const std::string switchName = query.text(1), account = query.text(3), caller = query.text(4),
                          callee = query.text(5), filed = query.text(6), start = query.text(7), day = query.text(8),
                          type = query.text(12), route = query.text(13);
        const long long seconds = query.integer(9);
        // An incoming call is the called extension's.
        const bool incoming = type == "IN" || type == "FI";
        const Person* person = incoming ? directory.find(switchName, callee, day)
                                        : directory.findCaller(switchName, account, caller, day);
        const CallCategories::Decision decided = categories.decide(route, type, caller, callee, filed);
        const std::string& category = decided.category;
        const std::string why = categoryWhy(type, filed, decided);
        const Rating rating =
            tariffs.rate(CallToRate{start, seconds, category, callee, (query.integer(11) & impossibleTime) != 0});

        struct Leg {
            std::string start;
            long long seconds;
        };
        std::vector<Leg> legs;
        Statement legQuery(database, "SELECT COALESCE(start, ''), seconds FROM legs WHERE call = ? ORDER BY leg");
        legQuery.bind({query.text(0)});
        while (legQuery.step()) legs.push_back(Leg{legQuery.text(0), legQuery.integer(1)});
        if (!legQuery.status().ok()) return legQuery.status();

        if (format == Format::json) {
            json += std::string(found ? "," : "") + "\n{\"switch\":" + jsonString(switchName) +
                    ",\"id\":" + jsonString(query.text(2)) + ",\"account\":" + jsonString(account) +
                    ",\"caller\":" + jsonString(caller) + ",\"callee\":" + jsonString(callee) +
                    ",\"category\":" + jsonString(category) + ",\"filed_category\":" + jsonString(filed) +
                    ",\"category_from_number\":" + (decided.fromNumber ? "true" : "false") +
                    ",\"category_why\":" + (decided.fromNumber ? jsonString(why) : std::string("null")) + ",\"start\":" +
                    jsonStringOrNull(query.null(7) ? nullptr : &start) + ",\"seconds\":" + std::to_string(seconds) +
                    ",\"person\":" + (person ? jsonString(person->name) : "null") +
                    ",\"department\":" + (person ? jsonString(person->department) : "null") + ",\"legs\":[";
            for (std::size_t i = 0; i < legs.size(); ++i)
                json += std::string(i ? "," : "") + "{\"start\":" + jsonString(legs[i].start) +
                        ",\"seconds\":" + std::to_string(legs[i].seconds) + "}";
            json += "],\"rated\":" + std::string(rating.rated ? "true" : "false") +
                    ",\"why\":" + (rating.rated ? std::string("null") : jsonString(rating.why)) +
                    ",\"tariff_version\":" + (rating.version.empty() ? std::string("null") : jsonString(rating.version)) +
                    ",\"match\":" + (rating.match.empty() ? std::string("null") : jsonString(rating.match)) +
                    ",\"cost\":\"" + yuanExact(rating.cost) + "\",\"steps\":[";
            for (std::size_t i = 0; i < rating.steps.size(); ++i) {
                const RatingStep& step = rating.steps[i];
                json += std::string(i ? "," : "") + "{\"line\":" + std::to_string(step.rule->line) +
                        ",\"band\":" + jsonString(step.rule->band) + ",\"first\":" + (step.first ? "true" : "false") +
                        ",\"units\":" + std::to_string(step.units) + ",\"unit_seconds\":" + std::to_string(step.seconds) +
                        ",\"unit_price\":\"" + yuanExact(step.price) + "\",\"amount\":\"" + yuanExact(step.amount) +
                        "\",\"from\":" + jsonString(momentText(step.startsAt)) + "}";
            }
            json += "]}";
            ++found;
            continue;
        }

        std::string text = found ? "\n" : "";
        text += "Call " + query.text(2) + " on " + (switchName.empty() ? std::string("the workbook") : "switch " + switchName) + "\n";
        text += "  from " + (caller.empty() ? std::string("(none)") : caller) +
                (account.empty() ? std::string() : " account " + account) +
                (person ? " (" + person->name + (person->department.empty() ? std::string() : ", " + person->department) + ")"
                        : std::string(" (not in the directory)")) +
                " to " + callee + ", " + (category.empty() ? std::string("no category") : category) +
                (decided.fromNumber && category != filed
                     ? " (filed as " + (filed.empty() ? std::string("no category") : filed) + ")"
                     : std::string()) +
                "\n";
        if (decided.fromNumber) text += "  category from the number: " + why + "\n";
        text += "  started " + (start.empty() ? std::string("at an unknown time") : start) + ", " +
                plural(seconds, "second", "seconds");
        if (legs.size() > 1) {
            text += ": the sum of its " + std::to_string(legs.size()) + " legs (";
            for (std::size_t i = 0; i < legs.size(); ++i)
                text += (i ? " + " : "") + std::to_string(legs[i].seconds) + " s from " + clock(legs[i].start);
            text += "), rated as one call";
        }
        text += "\n";
        if (!rating.version.empty())
            text += "Tariff valid from " + rating.version + " in " + tariffsPath +
                    (rating.match.empty() ? std::string() : ", rules for " + rating.match) + "\n";
        if (!rating.rated) {
            text += "Not rated: " + rating.why + "; counted at 0.000 yuan\n";
        } else if (seconds <= 0) {
            text += "A call of 0 seconds costs nothing: 0.000 yuan\n";
        } else {
            for (const RatingStep& step : rating.steps) {
                if (step.first)
                    text += "  first " + std::to_string(step.seconds) + " s from " + clock(momentText(step.startsAt)) +
                            " by " + ruleText(*step.rule) + ": " + yuanExact(step.amount) + "\n";
                else
                    text += "  " + plural(step.units, "unit", "units") + " of " + std::to_string(step.seconds) +
                            " s from " + clock(momentText(step.startsAt)) + " by " + ruleText(*step.rule) + ": " +
                            std::to_string(step.units) + " x " + yuanExact(step.price) + " = " + yuanExact(step.amount) +
                            "\n";
            }
            if (rating.roundedBy)
                text += "  " + yuanExact(rating.unrounded) + " rounded to the fen (rounding fen on " +
                        ruleText(*rating.roundedBy) + ")\n";
            text += "Cost " + yuanExact(rating.cost) + " yuan (" + yuanCents(rating.cost) + " shown on bills)\n";
        }
        for (std::size_t at = 0; at < text.size();) {
            const std::size_t end = text.find('\n', at);
            out += printable(text.substr(at, end - at)) + "\n";
            at = end + 1;
        }
        ++found;
    }
    if (!query.status().ok()) return query.status();
    if (!found)
        return Status::error(Status::Code::notFound, "", "",
                             "no call " + callId + " in the index (the ids are those `quelvar-report calls` shows)");
    if (format == Format::json) out += json + "]}\n";
    return {};
}

}  // namespace quelvar::report
