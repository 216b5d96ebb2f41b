#pragma once
// The report as one HTML page that stands alone: no script, nothing fetched
// (fonts from the system, charts in SVG), styles for printing on A4. For the
// accounts office to read in a browser and hand out on paper.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "quelvar_report/rating/report_data.h"

namespace quelvar::report {

// An alert raised, as the index keeps it (its alerts table).
struct PageAlert {
    std::string rule;     // silent, call, unlisted, long, cost, budget
    std::string subject;  // the switch, the extension, department:NAME, person:NAME
    std::string raised;   // YYYY-MM-DDTHH:MM:SS
    std::string closed;   // when a silence ended; '' while it lasts, and for the other rules
    std::string text;     // the one-line message, in Chinese
};
// The alerts of the page's period: those raised in it, and silences raised
// before that were still open in it.
struct PageAlerts {
    long long count = 0;
    std::vector<std::pair<std::string, long long>> byRule;  // how many of each rule, in the order of `rule`
    std::vector<PageAlert> listed;  // open silences first, then by when raised; at most listLimit
};

// How many alerts the page's own pages list; the appendix lists the rest.
inline constexpr std::size_t alertsShown = 8;

// The whole document, UTF-8. Every text from the data is made valid UTF-8
// and escaped.
struct HtmlOptions {
    // The long lists after the page's own few pages: the bill by its
    // grouping, the charts of days and hours, every unusual call kept.
    bool appendix = false;
    // None when alerts were never evaluated with this index.
    std::optional<PageAlerts> alerts;
};
std::string renderHtml(const Report& report, const HtmlOptions& options = {});

// The colours that mark the charts, each used nowhere else on the page, so
// that a test finds the charts in a screenshot: the line of the calls per
// day, the darkest shade of the heat map, and the bars of the categories in
// the order the bill shows them.
inline constexpr std::string_view dayLineColour = "#2563eb";
inline constexpr std::string_view heatDarkestColour = "#4a1486";
// "#rrggbb" for the category at `index`; the first ten are fixed, the
// others spread around the colour wheel.
std::string categoryColour(std::size_t index);

}  // namespace quelvar::report
