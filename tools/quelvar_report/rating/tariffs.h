#pragma once
// What calls cost: tariffs.csv, kept by the site, one rule a line.
//
//   valid_from,match,band,first_seconds,first_price,unit_seconds,unit_price
//   2026-01-01,市话,,180,0.220,60,0.110
//   2026-01-01,国内长途,,0,,6,0.070
//   2026-01-01,国内长途,23:00-07:00,0,,6,0.035
//   2026-01-01,17951,,60,0.300,60,0.300
//
// valid_from  YYYY-MM-DD. The lines with the same valid_from are one
//             version; a call is rated by the version with the latest
//             valid_from on or before its start, and only by that one.
// match       a category as the collector files it (内线, 市话, 国内长途,
//             国际长途, 特服电话), or digits: a prefix of the called number's
//             digits. A prefix wins over the category, the longest first.
// band        empty for the whole day, or HH:MM-HH:MM (to 24:00; a band whose
//             end is before its start runs on past midnight), optionally
//             followed by @ and the weekdays it starts on (1 is Monday):
//             @1-5, @6,7. A band's lines stand over the match's whole-day
//             line; two bands of one match may not overlap.
// prices      yuan with up to three decimals.
//
// A call of d > 0 seconds costs first_price, which covers its first
// first_seconds, and then unit_price for every unit of unit_seconds started
// after them. The first period is charged by the rule in force when the call
// starts, every later unit by the rule in force when that unit starts: a
// unit that starts in a band is charged (and is as long as) that band says.
// A call of 0 seconds costs nothing; one longer than a day is not rated.
// Rating takes a step per band crossed, not per unit. Money is counted in 厘
// (thousandths of a yuan), so sums are exact.
//
// rounding    an optional column after unit_price, for a carrier that
//             charges each call to the fen: "fen" rounds the cost of each
//             call whose first period that rule charges to the fen (half
//             up) before it is summed; empty leaves it exact to the 厘. With
//             every rule "fen", every figure of a bill is exact to the fen.
#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"
#include "quelvar_report/reading/csv_file.h"
#include "quelvar_report/rating/report_data.h"

namespace quelvar::report {

struct TariffRule {
    int line = 0;            // in the file, for explaining
    std::string validFrom;
    std::string match;
    bool prefix = false;     // match is a prefix of the called digits
    std::string band;        // as written; '' for the whole day
    long long firstSeconds = 0;
    Li firstPrice = 0;
    long long unitSeconds = 0;
    Li unitPrice = 0;
    bool roundToFen = false;  // rounding fen: each call it opens costs whole fen
};

// Parses yuan with up to three decimals ("0.22", "1", "0.035") into 厘.
bool parseYuan(std::string_view text, Li& amount);

// The minutes of the week a band as written above covers (Monday 00:00 is
// minute 0); an empty band covers them all. False with `why` for a bad one.
bool bandMinutes(std::string_view band, std::vector<bool>& covered, std::string& why);

// A run of units charged alike.
struct RatingStep {
    const TariffRule* rule = nullptr;
    bool first = false;       // the first period
    long long units = 0;      // 1 for the first period
    long long seconds = 0;    // of one unit (the first period's length)
    Li price = 0;             // of one unit
    Li amount = 0;            // units * price
    long long startsAt = 0;   // seconds since 1970-01-01 local: when the first of them starts
};

// No call lasts longer than a day: a longer one is a forged or broken record,
// left unrated with this reason (the reports' unusual calls find it by it).
inline constexpr long long longestRatedSeconds = 86400;
inline constexpr std::string_view longerThanADay = "longer than a day";
// A start filed as no real time (2026-11-31, 25:61:00).
inline constexpr std::string_view impossibleStartTime = "start filed as no real time";

struct Rating {
    bool rated = false;
    std::string why;            // when not rated
    std::string version;        // valid_from of the version used ('' when none)
    std::string match;          // the match whose rules applied
    Li cost = 0;
    std::vector<RatingStep> steps;
    const TariffRule* roundedBy = nullptr;  // the rule that rounded the cost to the fen, if any
    Li unrounded = 0;                       // the cost before that
};

// What rating needs of a call.
struct CallToRate {
    std::string_view start;     // YYYY-MM-DDTHH:MM:SS, '' when unknown
    long long seconds = 0;
    std::string_view category;
    std::string_view callee;
    bool impossibleStart = false;  // its start was filed, as no real time
};

class Tariffs {
public:
    Tariffs() = default;
    static Status read(const std::string& path, Tariffs& tariffs);
    static Status fromRows(const std::string& path, const std::vector<CsvRow>& rows, Tariffs& tariffs);

    // With `steps` false only the cost is worked out (faster; for bills).
    Rating rate(const CallToRate& call, bool steps = true) const;

    bool empty() const { return versions_.empty(); }
    std::vector<std::string> versionDates() const;

private:
    static constexpr int minutesInWeek = 7 * 1440;
    // The rules of one match in one version, by minute of the week.
    struct RuleSet {
        std::vector<const TariffRule*> rules;  // what the slots point at
        std::vector<std::int16_t> slot;        // minute of the week (Monday 00:00 = 0) -> index in rules, -1 for none
        std::vector<std::int16_t> runLength;   // minutes from this one on with the same slot (up to a week)
    };
    struct Version {
        std::string validFrom;
        std::map<std::string, RuleSet, std::less<>> categories;
        std::vector<std::pair<std::string, RuleSet>> prefixes;  // longest first
    };
    std::vector<std::unique_ptr<TariffRule>> rules_;
    std::vector<Version> versions_;  // oldest first
};

}  // namespace quelvar::report
