#include "quelvar_report/rating/tariffs.h"

#include <algorithm>
#include <charconv>

#include "quelvar_report/reading/dates.h"

namespace quelvar::report {
namespace {

// Prices above this are taken for a slip of the keyboard.
constexpr Li largestPrice = 100'000'000;  // 100,000 yuan
constexpr long long largestSeconds = 31 * 86400;

bool allDigits(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool parseSeconds(std::string_view text, long long& seconds) {
    return allDigits(text) && text.size() <= 9 &&
           std::from_chars(text.data(), text.data() + text.size(), seconds).ec == std::errc() && seconds <= largestSeconds;
}

// HH:MM, 00:00 to 24:00, as minutes of the day.
bool parseClock(std::string_view text, int& minutes) {
    int hour = 0, minute = 0;
    if (text.size() != 5 || text[2] != ':' || !parseNumber(text.substr(0, 2), hour) ||
        !parseNumber(text.substr(3, 2), minute) || minute > 59 || hour > 24 || (hour == 24 && minute != 0))
        return false;
    minutes = hour * 60 + minute;
    return true;
}

// "1-5", "6,7", "1-3,5": a set of weekdays as bits 1..7.
bool parseWeekdays(std::string_view text, unsigned& days) {
    days = 0;
    while (!text.empty()) {
        const std::size_t comma = text.find(',');
        const std::string_view piece = text.substr(0, comma);
        text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
        if (comma != std::string_view::npos && text.empty()) return false;
        int first = 0, last = 0;
        const std::size_t dash = piece.find('-');
        if (dash == std::string_view::npos) {
            if (!parseNumber(piece, first)) return false;
            last = first;
        } else if (!parseNumber(piece.substr(0, dash), first) || !parseNumber(piece.substr(dash + 1), last)) {
            return false;
        }
        if (first < 1 || last > 7 || first > last) return false;
        for (int day = first; day <= last; ++day) days |= 1u << day;
    }
    return days != 0;
}

}  // namespace

bool bandMinutes(std::string_view band, std::vector<bool>& covered, std::string& why) {
    covered.assign(7 * 1440, band.empty());
    if (band.empty()) return true;
    unsigned days = 0xFE;
    const std::size_t at = band.find('@');
    if (at != std::string_view::npos) {
        if (!parseWeekdays(band.substr(at + 1), days)) {
            why = "bad weekdays in band " + std::string(band) + " (for example @1-5 or @6,7; 1 is Monday)";
            return false;
        }
        band = band.substr(0, at);
    }
    int from = 0, to = 0;
    const std::size_t dash = band.find('-');
    if (dash == std::string_view::npos || !parseClock(band.substr(0, dash), from) ||
        !parseClock(band.substr(dash + 1), to) || from == 1440) {
        why = "bad band " + std::string(band) + " (HH:MM-HH:MM, for example 23:00-07:00; empty for the whole day)";
        return false;
    }
    if (from == to) {
        why = "band " + std::string(band) + " is empty (leave the band empty for the whole day)";
        return false;
    }
    for (int day = 1; day <= 7; ++day) {
        if (!(days & (1u << day))) continue;
        const int dayStart = (day - 1) * 1440;
        if (from < to) {
            for (int minute = from; minute < to; ++minute) covered[dayStart + minute] = true;
        } else {
            for (int minute = from; minute < 1440; ++minute) covered[dayStart + minute] = true;
            const int next = day % 7 * 1440;
            for (int minute = 0; minute < to; ++minute) covered[next + minute] = true;
        }
    }
    return true;
}

bool parseYuan(std::string_view text, Li& amount) {
    const std::size_t point = text.find('.');
    const std::string_view whole = text.substr(0, point);
    const std::string_view part = point == std::string_view::npos ? std::string_view() : text.substr(point + 1);
    if (!allDigits(whole) || whole.size() > 6 || part.size() > 3 || (point != std::string_view::npos && !allDigits(part)))
        return false;
    Li yuan = 0, li = 0;
    std::from_chars(whole.data(), whole.data() + whole.size(), yuan);
    for (std::size_t i = 0; i < 3; ++i) li = li * 10 + (i < part.size() ? part[i] - '0' : 0);
    amount = yuan * 1000 + li;
    return amount <= largestPrice;
}

Status Tariffs::read(const std::string& path, Tariffs& tariffs) {
    std::vector<CsvRow> rows;
    if (Status read = readCsvFile(path, rows); !read.ok()) return read;
    return fromRows(path, rows, tariffs);
}

Status Tariffs::fromRows(const std::string& path, const std::vector<CsvRow>& rows, Tariffs& tariffs) {
    if (Status header = checkHeader(
            path, rows, {"valid_from", "match", "band", "first_seconds", "first_price", "unit_seconds", "unit_price"});
        !header.ok())
        return header;
    Tariffs made;
    // The optional column "rounding", wherever it stands after the seven.
    std::size_t roundingColumn = 0;
    for (std::size_t i = 7; i < rows.front().fields.size(); ++i)
        if (rows.front().fields[i] == "rounding") roundingColumn = i;
    // (version, match) -> (band, line) of its rules so far, for overlaps.
    std::map<std::pair<std::string, std::string>, std::vector<std::pair<std::vector<bool>, const TariffRule*>>> bands;
    std::map<std::string, Version> versions;
    for (std::size_t i = 1; i < rows.size(); ++i) {
        const CsvRow& row = rows[i];
        const auto wrong = [&](const std::string& why) {
            return Status::error(Status::Code::damaged, "read", path, "line " + std::to_string(row.line) + ": " + why);
        };
        std::vector<std::string> fields = row.fields;
        fields.resize(std::max<std::size_t>(fields.size(), 7));
        auto rule = std::make_unique<TariffRule>();
        rule->line = row.line;
        rule->validFrom = fields[0];
        rule->match = fields[1];
        rule->band = fields[2];
        long days = 0;
        if (!parseDate(rule->validFrom, days)) return wrong("bad valid_from " + rule->validFrom + " (YYYY-MM-DD)");
        const bool category =
            std::find(knownCategories.begin(), knownCategories.end(), rule->match) != knownCategories.end();
        rule->prefix = allDigits(rule->match);
        if (!category && !rule->prefix)
            return wrong("match " + rule->match + " is neither a category (内线, 市话, 国内长途, 国际长途, 特服电话) nor digits");
        if (!parseSeconds(fields[3], rule->firstSeconds))
            return wrong("bad first_seconds " + fields[3] + " (whole seconds, 0 for none)");
        if (fields[4].empty() && rule->firstSeconds == 0) rule->firstPrice = 0;
        else if (!parseYuan(fields[4], rule->firstPrice))
            return wrong("bad first_price " + fields[4] + " (yuan with up to three decimals)");
        if (rule->firstSeconds == 0 && rule->firstPrice != 0)
            return wrong("a first_price with first_seconds 0 would never be charged");
        if (!parseSeconds(fields[5], rule->unitSeconds) || rule->unitSeconds == 0)
            return wrong("bad unit_seconds " + fields[5] + " (whole seconds, at least 1)");
        if (!parseYuan(fields[6], rule->unitPrice))
            return wrong("bad unit_price " + fields[6] + " (yuan with up to three decimals)");
        if (roundingColumn != 0 && roundingColumn < fields.size()) {
            const std::string& rounding = fields[roundingColumn];
            if (rounding == "fen")
                rule->roundToFen = true;
            else if (!rounding.empty())
                return wrong("bad rounding " + rounding + " (fen, or empty for none)");
        }
        std::vector<bool> covered;
        std::string why;
        if (!bandMinutes(rule->band, covered, why)) return wrong(why);
        auto& others = bands[{rule->validFrom, rule->match}];
        for (const auto& [otherCovered, other] : others) {
            if (other->band.empty() != rule->band.empty()) continue;
            for (int minute = 0; minute < minutesInWeek; ++minute)
                if (covered[minute] && otherCovered[minute])
                    return wrong(rule->band.empty() ? "a second whole-day rule for " + rule->match + " valid from " +
                                                          rule->validFrom + " (the first is on line " +
                                                          std::to_string(other->line) + ")"
                                                    : "band " + rule->band + " overlaps band " + other->band +
                                                          " of line " + std::to_string(other->line));
        }
        others.emplace_back(std::move(covered), rule.get());
        versions[rule->validFrom].validFrom = rule->validFrom;
        made.rules_.push_back(std::move(rule));
    }
    // The slots: whole-day rules first, bands over them.
    for (auto& [key, ruleBands] : bands) {
        const auto& [validFrom, match] = key;
        RuleSet set;
        set.slot.assign(minutesInWeek, -1);
        for (const bool banded : {false, true})
            for (const auto& [covered, rule] : ruleBands) {
                if (rule->band.empty() == banded) continue;
                const auto index = static_cast<std::int16_t>(set.rules.size());
                set.rules.push_back(rule);
                for (int minute = 0; minute < minutesInWeek; ++minute)
                    if (covered[minute]) set.slot[minute] = index;
            }
        // Runs wrap round the week's end: Sunday night goes on into Monday.
        set.runLength.assign(minutesInWeek, 0);
        bool uniform = true;
        for (int minute = 1; minute < minutesInWeek && uniform; ++minute) uniform = set.slot[minute] == set.slot[0];
        if (uniform) {
            std::fill(set.runLength.begin(), set.runLength.end(), static_cast<std::int16_t>(minutesInWeek));
        } else {
            for (int pass = 0; pass < 2; ++pass)
                for (int minute = minutesInWeek - 1; minute >= 0; --minute) {
                    const int next = (minute + 1) % minutesInWeek;
                    set.runLength[minute] = static_cast<std::int16_t>(
                        set.slot[next] == set.slot[minute] ? std::min(minutesInWeek, set.runLength[next] + 1) : 1);
                }
        }
        Version& version = versions[validFrom];
        if (ruleBands.front().second->prefix) version.prefixes.emplace_back(match, std::move(set));
        else version.categories.emplace(match, std::move(set));
    }
    for (auto& [validFrom, version] : versions) {
        std::sort(version.prefixes.begin(), version.prefixes.end(),
                  [](const auto& a, const auto& b) { return a.first.size() > b.first.size(); });
        made.versions_.push_back(std::move(version));
    }
    tariffs = std::move(made);
    return {};
}

std::vector<std::string> Tariffs::versionDates() const {
    std::vector<std::string> dates;
    for (const Version& version : versions_) dates.push_back(version.validFrom);
    return dates;
}

Rating Tariffs::rate(const CallToRate& call, bool withSteps) const {
    Rating rating;
    long long start = 0;
    const bool timed = parseMoment(call.start, start);
    if (timed) {
        const std::string_view day = call.start.substr(0, 10);
        for (const Version& version : versions_)
            if (version.validFrom <= day) rating.version = version.validFrom;
    }
    if (call.impossibleStart) {
        rating.why = impossibleStartTime;
        return rating;
    }
    if (call.seconds <= 0) {
        rating.rated = true;  // nothing to charge, whatever the tariff
        return rating;
    }
    if (call.seconds > longestRatedSeconds) {
        rating.why = longerThanADay;
        return rating;
    }
    if (!timed) {
        rating.why = "no start time";
        return rating;
    }
    if (rating.version.empty()) {
        rating.why = versions_.empty() ? "no tariff" : "no tariff valid on " + std::string(call.start.substr(0, 10));
        return rating;
    }
    const Version& version = *std::find_if(versions_.begin(), versions_.end(),
                                           [&](const Version& v) { return v.validFrom == rating.version; });
    const RuleSet* set = nullptr;
    std::string digits;
    for (const char c : call.callee)
        if (c >= '0' && c <= '9') digits += c;
    for (const auto& [prefix, rules] : version.prefixes)
        if (digits.starts_with(prefix)) {
            set = &rules;
            rating.match = prefix;
            break;
        }
    if (!set) {
        const auto found = version.categories.find(call.category);
        if (found == version.categories.end()) {
            rating.why = "no rule for " + (call.category.empty() ? std::string("calls without a category")
                                                                  : std::string(call.category)) +
                         " in the tariff valid from " + rating.version;
            return rating;
        }
        set = &found->second;
        rating.match = found->first;
    }
    const long long mondayZero = daysFromCivil(1970, 1, 5) * 86400LL;  // a Monday 00:00
    const auto minuteOfWeek = [&](long long moment) {
        long long offset = (moment - mondayZero) % (7LL * 86400);
        if (offset < 0) offset += 7LL * 86400;
        return static_cast<int>(offset / 60);
    };
    const auto uncovered = [&](long long moment) {
        rating.why = "no rule for " + rating.match + " at " + momentText(moment).substr(11, 5) + " in the tariff valid from " +
                     rating.version;
        rating.cost = 0;
        rating.steps.clear();
    };
    Li cost = 0;
    long long covered = 0;
    int minute = minuteOfWeek(start);
    if (set->slot[minute] < 0) {
        uncovered(start);
        return rating;
    }
    const TariffRule* opening = set->rules[set->slot[minute]];
    if (opening->firstSeconds > 0) {
        cost = opening->firstPrice;
        covered = opening->firstSeconds;
        if (withSteps)
            rating.steps.push_back(RatingStep{opening, true, 1, opening->firstSeconds, opening->firstPrice,
                                              opening->firstPrice, start});
    }
    while (covered < call.seconds) {
        const long long at = start + covered;
        minute = minuteOfWeek(at);
        if (set->slot[minute] < 0) {
            uncovered(at);
            return rating;
        }
        const TariffRule* rule = set->rules[set->slot[minute]];
        // Every unit that starts before the rule changes is charged alike.
        const long long untilChange = set->runLength[minute] >= minutesInWeek
                                          ? call.seconds - covered
                                          : set->runLength[minute] * 60LL - (at - mondayZero) % 60;
        const long long startingBefore = (untilChange + rule->unitSeconds - 1) / rule->unitSeconds;
        const long long needed = (call.seconds - covered + rule->unitSeconds - 1) / rule->unitSeconds;
        const long long units = std::min(startingBefore, needed);
        Li amount = 0;
        if (__builtin_mul_overflow(units, rule->unitPrice, &amount) || __builtin_add_overflow(cost, amount, &cost)) {
            rating.why = "the cost is too large to count";
            rating.cost = 0;
            rating.steps.clear();
            return rating;
        }
        if (withSteps) {
            RatingStep* last = rating.steps.empty() ? nullptr : &rating.steps.back();
            if (last && !last->first && last->rule == rule) {
                last->units += units;
                last->amount += amount;
            } else {
                rating.steps.push_back(RatingStep{rule, false, units, rule->unitSeconds, rule->unitPrice, amount, at});
            }
        }
        covered += units * rule->unitSeconds;
    }
    rating.rated = true;
    rating.cost = cost;
    if (opening->roundToFen) {
        rating.roundedBy = opening;
        rating.unrounded = cost;
        rating.cost = fenRounded(cost) * 10;
    }
    return rating;
}

}  // namespace quelvar::report
