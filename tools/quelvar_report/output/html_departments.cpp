// The bill by its grouping, and the departments' costs as stacked bars.
#include <algorithm>

#include "quelvar_report/output/html_page.h"

namespace quelvar::report::html {
namespace {

// something, and what it cost in all.
template <class Scale>
void departmentBar(Page& page, const std::string& name, const std::map<std::string, Totals>& byCategory, Li sum,
                   double barTop, const Scale& barX) {
    constexpr double labelRight = 150, barHeight = 18;
    const std::string shownName = departmentName(name);
    long long calls = 0;
    for (const auto& entry : byCategory) calls += entry.second.calls;
    page.out += "<g><title>" + escaped(shownName) + "：" + yuanCents(sum) + " 元，" + count(calls) +
                " 通</title><text x=\"" + at(labelRight) + "\" y=\"" + at(barTop + 13) + "\" text-anchor=\"end\">" +
                escaped(shortened(shownName, 22)) + "</text></g>\n";
    Li stacked = 0;
    for (std::size_t i = 0; i < page.categories.size(); ++i) {
        const auto found = byCategory.find(page.categories[i]);
        if (found == byCategory.end() || found->second.cost <= 0) continue;
        const Li cost = found->second.cost;
        const double left = barX(stacked), right = barX(stacked + cost);
        stacked += cost;
        const std::string colour = categoryColour(i);
        page.out += "<g><title>" + escaped(shownName) + " · " + escaped(page.categories[i]) + "：" + yuanCents(cost) +
                    " 元，" + count(found->second.calls) + " 通</title><rect x=\"" + at(left) + "\" y=\"" + at(barTop) +
                    "\" width=\"" + at(std::max(0.0, right - left)) + "\" height=\"" + at(barHeight) + "\" fill=\"" +
                    colour + "\"/>";
        const std::string label = yuanCents(cost);
        if (right - left >= textWidth(label, 10.5) + 8)
            page.out += "<text x=\"" + at((left + right) / 2) + "\" y=\"" + at(barTop + 13) +
                        "\" text-anchor=\"middle\" font-size=\"10.5\" fill=\"" +
                        (light(colour) ? "#1f2933" : "#ffffff") + "\">" + label + "</text>";
        page.out += "</g>\n";
    }
    page.out += "<text x=\"" + at(barX(stacked) + 6) + "\" y=\"" + at(barTop + 13) + "\" font-weight=\"600\">" +
                yuanCents(sum) + "</text>\n";
}

}  // namespace

void writeBillTable(Page& page) {
    const bool byPerson = page.bill.by == "person";
    const bool unrated = page.bill.total.unrated > 0;
    const std::string grouping = groupingName(page.bill.by);
    page.out += "<section id=\"bill\" class=\"flow\">\n<h2>账单明细<small>按" + escaped(grouping) +
                "汇总；金额单位：元</small></h2>\n<div class=\"scroll\">\n<table>\n<thead><tr><th>" +
                escaped(grouping) + "</th>";
    if (byPerson) page.out += "<th>部门</th>";
    page.out += "<th class=\"num\">通话</th><th class=\"num\">分钟</th>";
    for (const std::string& category : page.categories) page.out += "<th class=\"num\">" + escaped(category) + "</th>";
    page.out += "<th class=\"num\">合计 *</th>";
    if (unrated) page.out += "<th class=\"num\">未计费</th>";
    page.out += "</tr></thead>\n<tbody>\n";
    // The groups' amounts of each column add up to the column's total as
    // shown; the total row shows the exact sums rounded.
    const auto& groups = page.bill.groups;
    std::vector<std::vector<std::string>> columns;
    for (std::size_t c = 0; c <= page.categories.size(); ++c) {
        std::vector<Li> parts;
        for (const BillGroup& group : groups) {
            if (c == page.categories.size()) {
                parts.push_back(group.total.cost);
                continue;
            }
            const auto found = group.byCategory.find(page.categories[c]);
            parts.push_back(found == group.byCategory.end() ? 0 : found->second.cost);
        }
        columns.push_back(groups.empty() ? std::vector<std::string>{} : page.addingUp(parts));
    }
    const auto cells = [&](const Totals& total, const std::map<std::string, Totals>& byCategory, std::size_t row) {
        const bool totalRow = row == groups.size();
        page.out +=
            "<td class=\"num\">" + count(total.calls) + "</td><td class=\"num\">" + minutes(total.seconds) + "</td>";
        for (std::size_t c = 0; c < page.categories.size(); ++c) {
            const auto found = byCategory.find(page.categories[c]);
            if (found == byCategory.end())
                page.out += "<td class=\"num muted\">–</td>";
            else
                page.out +=
                    "<td class=\"num\">" + (totalRow ? yuanCents(found->second.cost) : columns[c][row]) + "</td>";
        }
        page.out += "<td class=\"num\"><strong>" +
                    (totalRow ? yuanCents(total.cost) : columns[page.categories.size()][row]) + "</strong></td>";
        if (unrated) page.out += "<td class=\"num\">" + (total.unrated ? count(total.unrated) : "") + "</td>";
    };
    for (std::size_t row = 0; row < groups.size(); ++row) {
        const BillGroup& group = groups[row];
        page.out +=
            "<tr><th scope=\"row\">" +
            escaped(group.name.empty() ? page.bill.by == "department" ? departmentName("") : "（空）" : group.name) +
            "</th>";
        if (byPerson) page.out += "<td>" + escaped(departmentName(group.department)) + "</td>";
        cells(group.total, group.byCategory, row);
        page.out += "</tr>\n";
    }
    if (page.bill.groups.empty()) {
        const std::size_t span = 4 + page.categories.size() + (byPerson ? 1 : 0) + (unrated ? 1 : 0);
        page.out += "<tr><td colspan=\"" + std::to_string(span) + "\" class=\"muted\">本期没有通话。</td></tr>\n";
    }
    // The total as the last row, not a footer: a browser repeats a
    // table's footer on every printed page.
    page.out += "<tr class=\"total\"><th scope=\"row\">合计</th>";
    if (byPerson) page.out += "<td></td>";
    cells(page.bill.total, page.bill.byCategory, groups.size());
    page.out += "</tr>\n</tbody>\n</table>\n</div>\n" + addingUpNote() + "</section>\n";
}

// Stacked horizontal bars: a department a row, a colour a category.

void writeDepartmentChart(Page& page) {
    const auto& departments = page.report.departments;
    page.out +=
        "<section id=\"departments\" "
        "class=\"flow\">\n<h2>各部门费用<small>按类别堆叠，费用最高的部门在前；单位：元</small></h2>\n";
    constexpr double width = 800, barLeft = 158, valueRoom = 80, rowHeight = 30, barHeight = 18;
    const double barRoom = width - barLeft - valueRoom;
    // The legend, wrapped over as many lines as it needs.
    std::string legend;
    double x = barLeft, y = 14;
    for (std::size_t i = 0; i < page.categories.size(); ++i) {
        const std::string name = shortened(page.categories[i], 20);
        const double itemWidth = 18 + textWidth(name, 12) + 22;
        if (x + itemWidth > width && x > barLeft) x = barLeft, y += 22;
        legend += "<rect x=\"" + at(x) + "\" y=\"" + at(y - 10) + "\" width=\"12\" height=\"12\" rx=\"2\" fill=\"" +
                  categoryColour(i) + "\"/><text x=\"" + at(x + 18) + "\" y=\"" + at(y) + "\">" + escaped(name) +
                  "</text>";
        x += itemWidth;
    }
    const double top = page.categories.empty() ? 8 : y + 18;
    // The scale: the largest bar, to a round step.
    Li largest = 0;
    std::vector<Li> sums;
    for (const auto& department : departments) {
        Li positive = 0, sum = 0;
        for (const auto& entry : department.second) {
            positive += std::max<Li>(0, entry.second.cost);
            sum += entry.second.cost;
        }
        largest = std::max(largest, positive);
        sums.push_back(sum);
    }
    const Li step = niceStep(largest, 5, 10);
    const Li scaleEnd = std::max<Li>(step, (largest + step - 1) / step * step);
    const auto barX = [&](Li amount) {
        return barLeft + barRoom * static_cast<double>(amount) / static_cast<double>(scaleEnd);
    };
    if (departments.empty()) {
        page.out += "<svg id=\"chart-departments\" class=\"chart\" viewBox=\"0 0 " + at(width) + " " + at(top + 40) +
                    "\" role=\"img\" aria-label=\"各部门费用\" font-size=\"12\" fill=\"#1f2933\">\n" + legend +
                    "\n<text x=\"" + at(width / 2) + "\" y=\"" + at(top + 20) +
                    "\" text-anchor=\"middle\" fill=\"#52606d\">本期没有部门的费用</text>\n</svg>\n</section>\n";
        return;
    }
    // A chart of so many rows as fit on a printed page, then the next
    // on the same scale: one SVG is never split across pages.
    constexpr std::size_t rowsPerChart = 24;
    for (std::size_t first = 0; first < departments.size(); first += rowsPerChart) {
        const std::size_t end = std::min(departments.size(), first + rowsPerChart);
        const double chartTop = first == 0 ? top : 8;
        const double bottom = chartTop + rowHeight * static_cast<double>(end - first);
        page.out += "<svg id=\"chart-departments" + (first == 0 ? "" : "-" + std::to_string(first / rowsPerChart + 1)) +
                    "\" class=\"chart\" viewBox=\"0 0 " + at(width) + " " + at(bottom + 26) +
                    "\" role=\"img\" aria-label=\"各部门费用\" font-size=\"12\" fill=\"#1f2933\">\n";
        if (first == 0) page.out += legend + "\n";
        // The grid and its amounts.
        for (Li tick = 0; tick <= scaleEnd; tick += step) {
            const std::string tickX = at(barX(tick));
            page.out += "<line x1=\"" + tickX + "\" y1=\"" + at(chartTop - 4) + "\" x2=\"" + tickX + "\" y2=\"" +
                        at(bottom) + "\" stroke=\"" + (tick == 0 ? "#7b8794" : "#e4e7eb") + "\"/><text x=\"" + tickX +
                        "\" y=\"" + at(bottom + 16) + "\" text-anchor=\"middle\" font-size=\"11\" fill=\"#52606d\">" +
                        axisYuan(tick) + "</text>\n";
        }
        for (std::size_t row = first; row < end; ++row) {
            const double barTop = chartTop + rowHeight * static_cast<double>(row - first) + (rowHeight - barHeight) / 2;
            departmentBar(page, departments[row].first, departments[row].second, sums[row], barTop, barX);
        }
        page.out += "</svg>\n";
    }
    page.out += "</section>\n";
}

// One department's row: its name, a bar per category that cost

void writeDepartmentTable(Page& page) {
    const auto& departments = page.report.departments;
    const bool unrated = page.bill.total.unrated > 0;
    page.out +=
        "<section "
        "id=\"department-table\" "
        "class=\"flow\">\n<h2>各部门费用<small>按类别，费用最高的部门在前；金额单位：元</small></h2>\n";
    if (departments.empty()) {
        page.out += "<p class=\"none\">本期没有通话。</p>\n</section>\n";
        return;
    }
    // Each column's amounts add up to the column's total as shown.
    std::vector<std::vector<std::string>> columns;
    std::vector<Li> sums(departments.size(), 0);
    for (const std::string& category : page.categories) {
        std::vector<Li> parts;
        for (const auto& department : departments) {
            const auto found = department.second.find(category);
            parts.push_back(found == department.second.end() ? 0 : found->second.cost);
        }
        columns.push_back(page.addingUp(parts));
    }
    std::vector<Totals> rows(departments.size());
    Totals total;
    for (std::size_t i = 0; i < departments.size(); ++i) {
        for (const auto& entry : departments[i].second) rows[i].add(entry.second);
        total.add(rows[i]);
        sums[i] = rows[i].cost;
    }
    const std::vector<std::string> sumShown = page.addingUp(sums);
    std::vector<Li> categoryTotals;
    for (const std::string& category : page.categories) {
        Li sum = 0;
        for (const auto& department : departments) {
            const auto found = department.second.find(category);
            if (found != department.second.end()) sum += found->second.cost;
        }
        categoryTotals.push_back(sum);
    }
    page.out +=
        "<table class=\"compact\">\n<thead><tr><th>部门</th><th class=\"num\">通话</th><th class=\"num\">分钟</th>";
    for (const std::string& category : page.categories) page.out += "<th class=\"num\">" + escaped(category) + "</th>";
    page.out += "<th class=\"num\">合计 *</th>";
    if (unrated) page.out += "<th class=\"num\">未计费</th>";
    page.out += "</tr></thead>\n<tbody>\n";
    for (std::size_t i = 0; i < departments.size(); ++i) {
        const std::map<std::string, Totals>& byCategory = departments[i].second;
        page.out += "<tr><th scope=\"row\">" + escaped(departmentName(departments[i].first)) +
                    "</th><td class=\"num\">" + count(rows[i].calls) + "</td><td class=\"num\">" +
                    minutes(rows[i].seconds) + "</td>";
        for (std::size_t c = 0; c < page.categories.size(); ++c)
            page.out += byCategory.contains(page.categories[c]) ? "<td class=\"num\">" + columns[c][i] + "</td>"
                                                                : std::string("<td class=\"num muted\">–</td>");
        page.out += "<td class=\"num\"><strong>" + sumShown[i] + "</strong></td>";
        if (unrated) page.out += "<td class=\"num\">" + (rows[i].unrated ? count(rows[i].unrated) : "") + "</td>";
        page.out += "</tr>\n";
    }
    page.out += "<tr class=\"total\"><th scope=\"row\">合计</th><td class=\"num\">" + count(total.calls) +
                "</td><td class=\"num\">" + minutes(total.seconds) + "</td>";
    for (const Li sum : categoryTotals) page.out += "<td class=\"num\">" + yuanCents(sum) + "</td>";
    page.out += "<td class=\"num\"><strong id=\"departments-total\">" + yuanCents(total.cost) + "</strong></td>";
    if (unrated) page.out += "<td class=\"num\">" + count(total.unrated) + "</td>";
    page.out += "</tr>\n</tbody>\n</table>\n" + addingUpNote();
    if (const auto& unlisted = page.report.unlistedExtensions; !unlisted.empty()) {
        // Named, so that someone can be found for each; a long list is cut.
        constexpr std::size_t shown = 60;
        std::string numbers;
        for (std::size_t i = 0; i < std::min(shown, unlisted.size()); ++i)
            numbers += (i ? "、" : "") + unlisted[i];
        if (unlisted.size() > shown)
            numbers += " 等 " + count(static_cast<long long>(unlisted.size())) + " 个";
        page.out += "<p class=\"note\" id=\"unlisted-extensions\">" + std::string(unlistedDepartment) +
                    "（名录中没有的分机）：" + escaped(numbers) + "</p>\n";
    }
    page.out += "</section>\n";
}

}  // namespace quelvar::report::html
