#include "quelvar_report/output/html_report.h"

#include <array>
#include <cmath>
#include <cstdio>

#include "quelvar_report/output/html_page.h"

namespace quelvar::report {
namespace {

constexpr std::array<const char*, 10> palette = {"#4e79a7", "#f28e2b", "#e15759", "#76b7b2", "#59a14f",
                                                 "#edc948", "#b07aa1", "#ff9da7", "#9c755f", "#bab0ac"};

}  // namespace

std::string categoryColour(std::size_t index) {
    if (index < palette.size()) return palette[index];
    // Beyond the palette: hues a golden angle apart, middling saturation and
    // lightness, clear of the charts' marking colours.
    const double hue = std::fmod(static_cast<double>(index - palette.size()) * 137.508 + 20, 360.0);
    const double saturation = 0.45, lightness = 0.55;
    const double chroma = (1 - std::fabs(2 * lightness - 1)) * saturation;
    const double sector = hue / 60;
    const double second = chroma * (1 - std::fabs(std::fmod(sector, 2.0) - 1));
    double red = 0, green = 0, blue = 0;
    if (sector < 1)
        red = chroma, green = second;
    else if (sector < 2)
        red = second, green = chroma;
    else if (sector < 3)
        green = chroma, blue = second;
    else if (sector < 4)
        green = second, blue = chroma;
    else if (sector < 5)
        red = second, blue = chroma;
    else
        red = chroma, blue = second;
    const double base = lightness - chroma / 2;
    const auto channel = [&](double value) { return static_cast<unsigned>(std::lround((value + base) * 255)); };
    char text[8];
    std::snprintf(text, sizeof text, "#%02x%02x%02x", channel(red) & 0xFF, channel(green) & 0xFF, channel(blue) & 0xFF);
    return text;
}

// The page prints on a few A4 pages: the totals, the departments, the months
// before, the costliest callers, the unusual calls and the alerts; the long lists
// follow in the appendix, when asked for.
std::string renderHtml(const Report& report, const HtmlOptions& options) {
    html::Page page(report);
    page.out.reserve(64 * 1024);
    html::writeHead(page);
    page.out += "<body>\n<main class=\"sheet\">\n";
    html::writeMasthead(page);
    html::writeTotals(page);
    html::writeUnrated(page);
    html::writeDepartmentTable(page);
    html::writeTrend(page);
    html::writeRanked(page, "top-callers", "费用最高的主叫", "按费用", "主叫", "部门", report.topCallers, 10);
    html::writeUnusual(page, false);
    html::writeAlerts(page, options.alerts, false);
    if (options.appendix) {
        page.out += "<h1 class=\"appendix-title\" id=\"appendix\">附录</h1>\n";
        if (report.bill.by != "department") html::writeBillTable(page);
        html::writeDepartmentChart(page);
        html::writeDayChart(page);
        html::writeHeatMap(page);
        html::writeRanked(page, "top-destinations", "最常拨打的号码", "按通话次数", "号码", "", report.topDestinations);
        html::writeUnusual(page, true);
        if (options.alerts && options.alerts->listed.size() > alertsShown) html::writeAlerts(page, options.alerts, true);
        html::writeCallList(page, "long-calls", "长时间通话",
                            "时长 " + std::to_string(longCallSeconds / 60) + " 分钟及以上", "时长最长",
                            report.longCalls);
        html::writeCallList(page, "after-hours", "非工作时间通话",
                            "开始于 " + std::to_string(workdayStartHour) + ":00 之前、" +
                                std::to_string(workdayEndHour) + ":00 及以后，或在周六、周日",
                            "费用最高", report.afterHours);
        html::writeCallList(page, "international", "国际长途", "类别为" + std::string(internationalCategory) + "的通话",
                            "费用最高", report.international);
    }
    html::writeFooter(page);
    page.out += "</main>\n</body>\n</html>\n";
    return std::move(page.out);
}

}  // namespace quelvar::report
