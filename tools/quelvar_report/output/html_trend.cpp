// This month against the months before: the site's cost per month as bars,
// and per department a line over the months with the last two and the mean.
#include <algorithm>

#include "quelvar_report/output/html_page.h"

namespace quelvar::report::html {
namespace {

// The colours of the trend: the months before, the last one.
constexpr const char* earlierColour = "#9fb3c8";
constexpr const char* lastColour = "#334e68";

// MM, or YYYY-MM for a January and the first month shown.
std::string monthLabel(const std::string& month, bool first) {
    if (month.size() != 7) return month;
    return first || month.compare(5, 2, "01") == 0 ? month : month.substr(5) + "月";
}

// A small line of a group's cost per month, the last month marked.
std::string sparkline(const std::vector<Totals>& months) {
    constexpr double width = 120, height = 16, pad = 2;
    Li most = 0;
    for (const Totals& month : months) most = std::max(most, month.cost);
    const double step = months.size() > 1 ? (width - 2 * pad) / static_cast<double>(months.size() - 1) : 0;
    const auto y = [&](Li cost) {
        return most <= 0
                   ? height - pad
                   : height - pad -
                         (height - 2 * pad) * static_cast<double>(std::max<Li>(cost, 0)) / static_cast<double>(most);
    };
    std::string points;
    for (std::size_t i = 0; i < months.size(); ++i)
        points += (i ? " " : "") + at(pad + step * static_cast<double>(i)) + "," + at(y(months[i].cost));
    std::string svg = "<svg class=\"spark\" viewBox=\"0 0 " + at(width) + " " + at(height) + "\" aria-hidden=\"true\">";
    if (!months.empty()) {
        svg += "<polyline points=\"" + points + "\" fill=\"none\" stroke=\"" + earlierColour +
               "\" stroke-width=\"1.5\"/><circle cx=\"" + at(pad + step * static_cast<double>(months.size() - 1)) +
               "\" cy=\"" + at(y(months.back().cost)) + "\" r=\"2.5\" fill=\"" + lastColour + "\"/>";
    }
    return svg + "</svg>";
}

// The change from `before` to `now` in per cent, or a dash.
std::string change(Li before, Li now) {
    if (before <= 0) return now > 0 ? "新增" : "–";
    const long long tenthsOfPercent = (now - before) * 1000 / before;
    const long long magnitude = tenthsOfPercent < 0 ? -tenthsOfPercent : tenthsOfPercent;
    return std::string(tenthsOfPercent < 0 ? "−" : "+") + std::to_string(magnitude / 10) + "." +
           std::to_string(magnitude % 10) + "%";
}

}  // namespace

void writeTrend(Page& page) {
    const Trend& trend = page.report.trend;
    if (trend.months.empty()) return;
    const std::size_t months = trend.months.size();
    page.out += "<section id=\"trend\" class=\"flow\">\n<h2>与前几个月比较<small>" + escaped(trend.months.front()) +
                " 至 " + escaped(trend.months.back()) + " 每月费用；单位：元</small></h2>\n";

    // The site's months as bars, the last one dark.
    constexpr double width = 800, height = 120, left = 56, right = 8, top = 16, plotHeight = 80;
    const double plotWidth = width - left - right, bottom = top + plotHeight;
    Li most = 0;
    for (const Totals& month : trend.total) most = std::max(most, month.cost);
    const Li step = niceStep(most, 3, 10);
    const Li scaleEnd = std::max<Li>(step, (most + step - 1) / step * step);
    const auto barY = [&](Li cost) {
        return bottom - plotHeight * static_cast<double>(std::max<Li>(cost, 0)) / static_cast<double>(scaleEnd);
    };
    page.out += "<svg id=\"chart-trend\" class=\"chart\" viewBox=\"0 0 " + at(width) + " " + at(height) +
                "\" role=\"img\" aria-label=\"每月费用\" font-size=\"11\" fill=\"#52606d\">\n";
    for (Li tick = 0; tick <= scaleEnd; tick += step)
        page.out += "<line x1=\"" + at(left) + "\" y1=\"" + at(barY(tick)) + "\" x2=\"" + at(width - right) +
                    "\" y2=\"" + at(barY(tick)) + "\" stroke=\"" + (tick == 0 ? "#7b8794" : "#e4e7eb") +
                    "\"/><text x=\"" + at(left - 6) + "\" y=\"" + at(barY(tick) + 4) + "\" text-anchor=\"end\">" +
                    axisYuan(tick) + "</text>\n";
    const double slot = plotWidth / static_cast<double>(months);
    for (std::size_t i = 0; i < months; ++i) {
        const bool last = i + 1 == months;
        const double x = left + slot * static_cast<double>(i);
        const Li cost = trend.total[i].cost;
        page.out += "<g><title>" + escaped(trend.months[i]) + "：" + yuanCents(cost) + " 元，" +
                    count(trend.total[i].calls) + " 通</title><rect x=\"" + at(x + slot * 0.18) + "\" y=\"" +
                    at(barY(cost)) + "\" width=\"" + at(slot * 0.64) + "\" height=\"" + at(bottom - barY(cost)) +
                    "\" fill=\"" + (last ? lastColour : earlierColour) + "\"/></g>";
        page.out += "<text x=\"" + at(x + slot / 2) + "\" y=\"" + at(bottom + 16) + "\" text-anchor=\"middle\"" +
                    (last ? " font-weight=\"700\" fill=\"#1f2933\"" : "") + ">" +
                    escaped(monthLabel(trend.months[i], i == 0)) + "</text>";
        if (cost > 0 && (last || slot >= 60))
            page.out += "<text x=\"" + at(x + slot / 2) + "\" y=\"" + at(barY(cost) - 4) +
                        "\" text-anchor=\"middle\" font-size=\"10\">" + yuanCents(cost) + "</text>";
        page.out += "\n";
    }
    page.out += "</svg>\n";

    // Per department: the line, the mean of the months that had calls at
    // all, the month before and this one.
    long long active = 0;
    for (const Totals& month : trend.total) active += month.calls > 0 ? 1 : 0;
    std::vector<Li> before, now;
    for (const TrendRow& row : trend.groups) {
        before.push_back(months > 1 ? row.months[months - 2].cost : 0);
        now.push_back(row.months.back().cost);
    }
    const std::vector<std::string> beforeShown = page.addingUp(before), nowShown = page.addingUp(now);
    page.out += "<table class=\"compact\">\n<thead><tr><th>部门</th><th>" + escaped(trend.months.front()) +
                " 起的走势</th>" + "<th class=\"num\">月均</th><th class=\"num\">" +
                escaped(months > 1 ? trend.months[months - 2] : std::string("上月")) + " *</th><th class=\"num\">" +
                escaped(trend.months.back()) + " *</th><th class=\"num\">较上月</th></tr></thead>\n<tbody>\n";
    const auto meanOf = [&](const std::vector<Totals>& values) {
        Li sum = 0;
        for (std::size_t i = 0; i < values.size(); ++i)
            if (trend.total[i].calls > 0) sum += values[i].cost;
        return active > 0 ? sum / active : 0;
    };
    for (std::size_t i = 0; i < trend.groups.size(); ++i) {
        const TrendRow& row = trend.groups[i];
        page.out += "<tr><th scope=\"row\">" + escaped(departmentName(row.group)) + "</th><td>" +
                    sparkline(row.months) + "</td><td class=\"num\">" + yuanCents(meanOf(row.months)) +
                    "</td><td class=\"num\">" + beforeShown[i] + "</td><td class=\"num\"><strong>" + nowShown[i] +
                    "</strong></td><td class=\"num\">" + change(before[i], now[i]) + "</td></tr>\n";
    }
    const Li totalBefore = months > 1 ? trend.total[months - 2].cost : 0, totalNow = trend.total.back().cost;
    page.out += "<tr class=\"total\"><th scope=\"row\">合计</th><td>" + sparkline(trend.total) +
                "</td><td class=\"num\">" + yuanCents(meanOf(trend.total)) + "</td><td class=\"num\">" +
                yuanCents(totalBefore) + "</td><td class=\"num\">" + yuanCents(totalNow) + "</td><td class=\"num\">" +
                change(totalBefore, totalNow) + "</td></tr>\n</tbody>\n</table>\n";
    page.out += "<p class=\"footnote\">月均为有通话的 " + count(active) +
                " 个月的平均；每月按通话当天的部门归属，整月计算（与本账单的期间不同时，本月一栏可能与上面的合计不同）"
                "。</p>\n" +
                addingUpNote() + "</section>\n";
}

}  // namespace quelvar::report::html
