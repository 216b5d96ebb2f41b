// When calls were made: a line of calls per day, a heat map of weekday and hour.
#include <algorithm>
#include <cstdio>

#include "quelvar_report/output/html_page.h"

namespace quelvar::report::html {
namespace {

// A count in a heat map's cell, at most four characters wide: 10000 and
// more in 万 (ten thousands), with one decimal below 10万.
std::string cellCount(long long value) {
    if (value < 10000) return count(value);
    if (value < 99950) return tenths(value, 10000) + "万";
    return count((value + 5000) / 10000) + "万";
}

}  // namespace

// Calls per day as a line over the days of the period, weekends shaded.
void writeDayChart(Page& page) {
    const auto& days = page.report.days;
    constexpr double width = 800, height = 270, left = 48, right = 12, top = 22, plotHeight = 206;
    const double plotWidth = width - left - right, bottom = top + plotHeight;
    long long most = 0, calls = 0;
    std::size_t busiest = 0;
    for (std::size_t i = 0; i < days.size(); ++i) {
        calls += days[i].second.calls;
        if (days[i].second.calls > most) most = days[i].second.calls, busiest = i;
    }
    // Over more than two months weekends and dots would only be noise.
    const bool longPeriod = days.size() > 62;
    page.out += "<section id=\"days\">\n<h2>每日通话<small>通话次数" +
                std::string(longPeriod ? "" : "；灰色为周六、周日") + "</small></h2>\n";
    if (!days.empty() && most > 0)
        page.out += "<p class=\"hint\">最多的一天：" + escaped(days[busiest].first) + "，" + count(most) +
                    " 通；日均 " + tenths(calls, static_cast<long long>(days.size())) + " 通。</p>\n";
    page.out += "<svg id=\"chart-days\" class=\"chart\" viewBox=\"0 0 " + at(width) + " " + at(height) +
                "\" role=\"img\" aria-label=\"每日通话\" font-size=\"11\" fill=\"#52606d\">\n";
    const long long step = niceStep(most, 4, 1);
    const long long scaleEnd = std::max(step * 4, (most + step - 1) / step * step);
    const auto dayY = [&](long long value) {
        return bottom - plotHeight * static_cast<double>(value) / static_cast<double>(scaleEnd);
    };
    const double slot = plotWidth / static_cast<double>(std::max<std::size_t>(days.size(), 1));
    for (std::size_t i = 0; i < days.size(); ++i)
        if (!longPeriod && weekdayOfText(days[i].first) >= 6)
            page.out += "<rect x=\"" + at(left + slot * static_cast<double>(i)) + "\" y=\"" + at(top) + "\" width=\"" +
                        at(slot) + "\" height=\"" + at(plotHeight) + "\" fill=\"#f0f2f4\"/>\n";
    for (long long tick = 0; tick <= scaleEnd; tick += step) {
        const std::string tickY = at(dayY(tick));
        page.out += "<line x1=\"" + at(left) + "\" y1=\"" + tickY + "\" x2=\"" + at(width - right) + "\" y2=\"" +
                    tickY + "\" stroke=\"" + (tick == 0 ? "#7b8794" : "#e4e7eb") + "\"/><text x=\"" + at(left - 8) +
                    "\" y=\"" + at(dayY(tick) + 4) + "\" text-anchor=\"end\">" + count(tick) + "</text>\n";
    }
    page.out += "<text x=\"" + at(left - 8) + "\" y=\"" + at(top - 10) + "\" text-anchor=\"end\">通</text>\n";
    if (days.empty()) {
        page.out += "<text x=\"" + at(left + plotWidth / 2) + "\" y=\"" + at(top + plotHeight / 2) +
                    "\" text-anchor=\"middle\">本期没有日期</text>\n</svg>\n</section>\n";
        return;
    }
    // Day labels far enough apart not to run into each other: every
    // day, every other, every third, weekly; over more than two months
    // the first of every month, or of every other, every third, ...
    const std::size_t fit = std::max<std::size_t>(1, static_cast<std::size_t>(plotWidth / 44));
    const bool monthly = longPeriod;
    std::size_t every = 1;
    if (monthly) {
        const std::size_t months = days.size() / 28 + 1;
        every = (months + fit - 1) / fit;
        for (const std::size_t candidate : {1, 2, 3, 6, 12})
            if (candidate >= every) {
                every = candidate;
                break;
            }
    } else {
        const std::size_t needed = (days.size() + fit - 1) / fit;
        every = needed <= 3 ? needed : 7;
    }
    std::size_t monthsSeen = 0;
    const auto labelled = [&](std::size_t i) {
        if (!monthly) return i % every == 0;
        const std::string& day = days[i].first;
        if (day.size() != 10 || day.compare(8, 2, "01") != 0) return false;
        return monthsSeen++ % every == 0;
    };
    std::string points;
    for (std::size_t i = 0; i < days.size(); ++i) {
        const double x = left + slot * (static_cast<double>(i) + 0.5);
        points += (i ? " " : "") + at(x) + "," + at(dayY(days[i].second.calls));
        if (labelled(i))
            page.out += "<line x1=\"" + at(x) + "\" y1=\"" + at(bottom) + "\" x2=\"" + at(x) + "\" y2=\"" +
                        at(bottom + 4) + "\" stroke=\"#7b8794\"/><text x=\"" + at(x) + "\" y=\"" + at(bottom + 18) +
                        "\" text-anchor=\"middle\">" + escaped(monthDay(days[i].first)) + "</text>\n";
    }
    const std::string colour(dayLineColour);
    page.out += "<polygon points=\"" + at(left + slot / 2) + "," + at(bottom) + " " + points + " " +
                at(left + slot * (static_cast<double>(days.size()) - 0.5)) + "," + at(bottom) + "\" fill=\"" + colour +
                "\" fill-opacity=\"0.08\"/>\n";
    page.out += "<polyline points=\"" + points + "\" fill=\"none\" stroke=\"" + colour +
                "\" stroke-width=\"2.5\" stroke-linejoin=\"round\" stroke-linecap=\"round\"/>\n";
    // A dot a day, with what the day had; invisible on a long period,
    // where it still shows its day to a pointer.
    const std::string dot = longPeriod ? "\" r=\"3\" fill=\"#ffffff\" fill-opacity=\"0\" stroke=\"none\">"
                                       : "\" r=\"3\" fill=\"#ffffff\" stroke=\"" + colour + "\" stroke-width=\"1.5\">";
    for (std::size_t i = 0; i < days.size(); ++i) {
        const double x = left + slot * (static_cast<double>(i) + 0.5);
        const int weekday = weekdayOfText(days[i].first);
        page.out += "<circle cx=\"" + at(x) + "\" cy=\"" + at(dayY(days[i].second.calls)) + dot + "<title>" +
                    escaped(days[i].first) + (weekday ? std::string(" ") + weekdayNames[weekday - 1] : "") + "：" +
                    count(days[i].second.calls) + " 通，" + minutes(days[i].second.seconds) + " 分钟，" +
                    yuanCents(days[i].second.cost) + " 元</title></circle>\n";
    }
    page.out += "</svg>\n</section>\n";
}

// Calls by weekday and hour of their start, shaded by how many.
void writeHeatMap(Page& page) {
    const auto& heat = page.report.heat;
    constexpr double width = 800, left = 40, right = 4, top = 24, cellHeight = 28;
    const double cellWidth = (width - left - right) / 24, bottom = top + 7 * cellHeight;
    const double height = bottom + 40;
    long long most = 0, calls = 0;
    for (const auto& row : heat)
        for (const long long value : row) most = std::max(most, value), calls += value;
    // Shade 0 for none, 1..5 in fifths of the busiest hour.
    const auto shadeOf = [&](long long value) -> int {
        if (value <= 0 || most <= 0) return 0;
        return static_cast<int>(std::clamp<long long>((value * 5 + most - 1) / most, 1, 5));
    };
    const auto shade = [&](int level) {
        return level >= 5 ? std::string(heatDarkestColour) : std::string(heatShades[level]);
    };
    page.out += "<section id=\"heat\">\n<h2>通话时段<small>按开始的星期和钟点；虚线框内为工作时间</small></h2>\n";
    page.out += "<svg id=\"chart-heat\" class=\"chart\" viewBox=\"0 0 " + at(width) + " " + at(height) +
                "\" role=\"img\" aria-label=\"通话时段\" font-size=\"11\" fill=\"#52606d\">\n";
    for (int hour = 0; hour < 24; ++hour)
        page.out += "<text x=\"" + at(left + cellWidth * (hour + 0.5)) + "\" y=\"" + at(top - 8) +
                    "\" text-anchor=\"middle\">" + std::to_string(hour) + "</text>";
    page.out += "\n";
    for (int weekday = 0; weekday < 7; ++weekday) {
        const double y = top + cellHeight * weekday;
        page.out += "<text x=\"" + at(left - 8) + "\" y=\"" + at(y + cellHeight / 2 + 4) + "\" text-anchor=\"end\">" +
                    weekdayNames[weekday] + "</text>\n";
        for (int hour = 0; hour < 24; ++hour) {
            const long long value = heat[weekday][hour];
            const int level = shadeOf(value);
            const double x = left + cellWidth * hour;
            char hours[32];
            std::snprintf(hours, sizeof hours, " %02d:00–%02d:00：", hour, hour + 1);
            page.out += "<g><title>" + std::string(weekdayNames[weekday]) + hours + count(value) +
                        " 通</title><rect x=\"" + at(x + 1) + "\" y=\"" + at(y + 1) + "\" width=\"" +
                        at(cellWidth - 2) + "\" height=\"" + at(cellHeight - 2) + "\" rx=\"2\" fill=\"" + shade(level) +
                        "\"/>";
            if (value > 0) {
                const std::string text = cellCount(value);
                page.out += "<text x=\"" + at(x + cellWidth / 2) + "\" y=\"" + at(y + cellHeight / 2 + 4) +
                            "\" text-anchor=\"middle\" font-size=\"" + (text.size() > 3 ? "9.5" : "10.5") +
                            "\" fill=\"" + (level >= 3 ? "#ffffff" : "#1f2933") + "\">" + text + "</text>";
            }
            page.out += "</g>";
        }
        page.out += "\n";
    }
    // Monday to Friday, from the start of the working day to its end.
    page.out += "<rect x=\"" + at(left + cellWidth * workdayStartHour) + "\" y=\"" + at(top) + "\" width=\"" +
                at(cellWidth * (workdayEndHour - workdayStartHour)) + "\" height=\"" + at(cellHeight * 5) +
                "\" fill=\"none\" stroke=\"#334e68\" stroke-width=\"1.5\" stroke-dasharray=\"5 3\"/>\n";
    // The legend: each shade with the counts it stands for.
    double x = left;
    const double legendY = bottom + 16;
    page.out += "<text x=\"" + at(x) + "\" y=\"" + at(legendY + 10) + "\">通话次数</text>";
    x += 64;
    for (int level = 0; level <= 5; ++level) {
        std::string range;
        if (level == 0) {
            range = "0";
        } else {
            if (most <= 0) break;
            const long long low = most * (level - 1) / 5 + 1, high = most * level / 5;
            if (low > high) continue;
            range = low == high ? count(low) : count(low) + "–" + count(high);
        }
        page.out += "<rect x=\"" + at(x) + "\" y=\"" + at(legendY) + "\" width=\"22\" height=\"13\" rx=\"2\" fill=\"" +
                    shade(level) + "\"/><text x=\"" + at(x + 28) + "\" y=\"" + at(legendY + 10) + "\">" + range +
                    "</text>";
        x += 28 + textWidth(range, 11) + 22;
    }
    if (calls == 0)
        page.out += "<text x=\"" + at(x + 12) + "\" y=\"" + at(legendY + 10) + "\">本期没有有开始时间的通话</text>";
    page.out += "\n</svg>\n</section>\n";
}

}  // namespace quelvar::report::html
