#pragma once
// The report as one HTML page that stands alone: no script, nothing fetched
// (fonts from the system, charts in SVG), styles for printing on A4. For the
// accounts office to read in a browser and hand out on paper.
#include <cstddef>
#include <string>
#include <string_view>

#include "quelvar_report/rating/report_data.h"

namespace quelvar::report {

// The whole document, UTF-8. Every text from the data is made valid UTF-8
// and escaped.
struct HtmlOptions {
    // The long lists after the page's own few pages: the bill by its
    // grouping, the charts of days and hours, every unusual call kept.
    bool appendix = false;
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
