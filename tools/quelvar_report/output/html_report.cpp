#include "quelvar_report/output/html_report.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <set>

#include "quelvar_report/reading/dates.h"
#include "quelvar_report/output/output.h"

namespace quelvar::report {
namespace {

// ---- Text.

// HTML text or an attribute's value: valid UTF-8, the five characters
// escaped, control characters (but tab and newline) as U+FFFD.
std::string escaped(std::string_view text) {
    const std::string valid = validUtf8(text);
    std::string out;
    out.reserve(valid.size() + valid.size() / 8);
    for (const char c : valid) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '&')
            out += "&amp;";
        else if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else if (c == '"')
            out += "&quot;";
        else if (c == '\'')
            out += "&#39;";
        else if ((byte < 0x20 && c != '\t' && c != '\n') || byte == 0x7F)
            out += "\xEF\xBF\xBD";
        else
            out += c;
    }
    return out;
}

// The text cut to at most `columns` columns (a wide character takes two),
// with an ellipsis where it was cut; valid UTF-8, not yet escaped.
std::string shortened(std::string_view text, std::size_t columns) {
    const std::string valid = validUtf8(text);
    if (displayWidth(valid) <= columns) return valid;
    std::string out;
    std::size_t used = 0;
    for (std::size_t at = 0; at < valid.size();) {
        const auto lead = static_cast<unsigned char>(valid[at]);
        const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        const std::string_view character(valid.data() + at, std::min(length, valid.size() - at));
        const std::size_t width = displayWidth(character);
        if (used + width + 1 > columns) break;
        out += character;
        used += width;
        at += character.size();
    }
    return out + "…";
}

// What a text takes in an SVG at `size`, roughly: a wide character is one
// em, anything else a little over half.
double textWidth(std::string_view text, double size) { return static_cast<double>(displayWidth(text)) * size * 0.55; }

// ---- Numbers.

std::string count(long long value) { return std::to_string(value); }

// Minutes with one decimal, rounded half up.
std::string minutes(long long seconds) {
    const bool negative = seconds < 0;
    const unsigned long long magnitude =
        negative ? 0ull - static_cast<unsigned long long>(seconds) : static_cast<unsigned long long>(seconds);
    const unsigned long long tenths = (magnitude + 3) / 6;
    return (negative ? "-" : "") + std::to_string(tenths / 10) + "." + std::to_string(tenths % 10);
}

// A quotient with one decimal, rounded half up; both not negative.
std::string tenths(long long numerator, long long denominator) {
    if (denominator <= 0 || numerator < 0) return "0.0";
    const long long value = (numerator * 20 / denominator + 1) / 2;
    return std::to_string(value / 10) + "." + std::to_string(value % 10);
}

// H:MM:SS.
std::string clock(long long seconds) {
    if (seconds < 0) seconds = 0;
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", seconds / 3600, seconds / 60 % 60, seconds % 60);
    return text;
}

// An SVG coordinate: one decimal, and never NaN or infinite.
std::string at(double value) {
    if (!std::isfinite(value)) value = 0;
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

// A step of 1, 2 or 5 times a power of ten, at least `least`, so that about
// `parts` steps cover `largest`.
long long niceStep(long long largest, int parts, long long least) {
    if (largest <= 0) return least;
    const double raw = static_cast<double>(largest) / parts;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    const double fraction = raw / power;
    const double nice = fraction <= 1 ? 1 : fraction <= 2 ? 2 : fraction <= 5 ? 5 : 10;
    return std::max(least, static_cast<long long>(std::llround(nice * power)));
}

// A count in a heat map's cell, at most four characters wide: 10000 and
// more in 万 (ten thousands), with one decimal below 10万.
std::string cellCount(long long value) {
    if (value < 10000) return count(value);
    if (value < 99950) return tenths(value, 10000) + "万";
    return count((value + 5000) / 10000) + "万";
}

// Yuan on an axis: whole yuan without decimals.
std::string axisYuan(Li amount) { return amount % 1000 == 0 ? std::to_string(amount / 1000) : yuanCents(amount); }

// ---- Days.

constexpr std::array<const char*, 7> weekdayNames = {"周一", "周二", "周三", "周四", "周五", "周六", "周日"};

// MM-DD of a YYYY-MM-DD day; another text as it is.
std::string monthDay(const std::string& day) { return day.size() == 10 ? day.substr(5) : day; }

// 1 Monday .. 7 Sunday, or 0 for a text that is no day.
int weekdayOfText(const std::string& day) {
    long days = 0;
    return parseDate(day, days) ? weekdayOf(days) : 0;
}

// ---- Colours.

constexpr std::array<const char*, 10> palette = {"#4e79a7", "#f28e2b", "#e15759", "#76b7b2", "#59a14f",
                                                 "#edc948", "#b07aa1", "#ff9da7", "#9c755f", "#bab0ac"};
// The heat map's shades: none, then five steps up to heatDarkestColour.
constexpr std::array<const char*, 5> heatShades = {"#f1f2f4", "#e4e1f1", "#c3bde0", "#9d93cb", "#7563b0"};

bool light(const std::string& colour) {
    unsigned red = 0, green = 0, blue = 0;
    if (std::sscanf(colour.c_str(), "#%2x%2x%2x", &red, &green, &blue) != 3) return false;
    return 0.299 * red + 0.587 * green + 0.114 * blue > 165;
}

// ---- The page.

constexpr const char* style = R"(
*{box-sizing:border-box}
html{-webkit-print-color-adjust:exact;print-color-adjust:exact}
body{margin:0;background:#e9ecef;color:#1f2933;font-size:14px;line-height:1.55;
 font-family:"Noto Sans CJK SC","Source Han Sans SC","WenQuanYi Micro Hei","Microsoft YaHei","PingFang SC",sans-serif}
.sheet{max-width:1000px;margin:24px auto;padding:40px 48px 28px;background:#fff;box-shadow:0 1px 4px rgba(31,41,51,.18)}
.masthead{border-bottom:3px solid #334e68;padding-bottom:14px}
.kicker{margin:0;color:#52606d;font-size:13px;letter-spacing:.2em}
h1{margin:2px 0 4px;font-size:28px;line-height:1.25;letter-spacing:.06em}
.period{margin:0;font-size:17px}
.facts{display:flex;flex-wrap:wrap;gap:4px 32px;margin:10px 0 0;font-size:13px}
.facts div{display:flex;gap:8px}
.facts dt{color:#52606d}
.facts dd{margin:0}
h2{font-size:17px;line-height:1.4;margin:0 0 10px;padding-bottom:4px;border-bottom:1px solid #9aa5b1;break-after:avoid}
h2 small{font-weight:normal;color:#52606d;font-size:13px;margin-left:10px}
section{margin-top:30px;break-inside:avoid}
section.flow{break-inside:auto}
.cards{display:grid;grid-template-columns:repeat(auto-fit,minmax(140px,1fr));gap:12px;margin-top:22px}
.card{border:1px solid #d9dee3;border-radius:6px;padding:10px 16px;background:#f7f9fa}
.card .label{color:#52606d;font-size:13px}
.card .value{font-size:26px;font-weight:700;font-variant-numeric:tabular-nums;line-height:1.3;white-space:nowrap}
.card .unit{font-size:14px;font-weight:normal;color:#52606d;margin-left:4px}
.card .exact{font-size:12px;color:#52606d}
.card.main{background:#fff;border-color:#334e68;box-shadow:inset 4px 0 0 #334e68}
.card.warn{background:#fdf7ea;border-color:#e6cf9f}
.note{margin:12px 0 0;padding:8px 12px;border-left:4px solid #c08a2b;background:#fdf7ea;font-size:13px}
.hint{margin:-4px 0 8px;color:#52606d;font-size:13px;break-after:avoid}
.scroll{overflow-x:auto}
table{width:100%;border-collapse:collapse;font-variant-numeric:tabular-nums;font-size:13px}
thead{display:table-header-group}
tr{break-inside:avoid}
th,td{padding:5px 8px;border-bottom:1px solid #e4e7eb;text-align:left;vertical-align:top}
thead th{background:#eef1f4;border-bottom:1px solid #9aa5b1;font-weight:600;white-space:nowrap;vertical-align:bottom}
tbody th{font-weight:normal}
.num{text-align:right;white-space:nowrap}
.time{white-space:nowrap}
.rank{color:#7b8794;width:2.5em}
table.calls{table-layout:fixed}
table.calls td{overflow-wrap:anywhere}
col.time{width:19%}col.number{width:10%}col.who{width:20%}col.callee{width:17%}
col.category{width:10%}col.length{width:10%}col.cost{width:14%}
tr.total th,tr.total td{font-weight:700;background:#f3f5f7;border-top:2px solid #334e68;border-bottom:2px solid #334e68}
.muted{color:#7b8794}
.sub{display:block;color:#52606d;font-size:12px}
.unrated{color:#9a5b13}
.why{display:block;color:#7b8794;font-size:11px;white-space:normal}
.none{margin:0;color:#52606d}
.pair{display:grid;grid-template-columns:1fr 1fr;gap:28px;margin-top:30px;break-inside:auto}
.pair>section{margin-top:0}
svg.chart{display:block;width:100%;height:auto}
svg text{font-family:inherit}
footer{margin-top:32px;padding-top:10px;border-top:1px solid #d9dee3;color:#52606d;font-size:12px}
footer p{margin:2px 0}
@page{size:A4;margin:14mm 12mm 16mm;
 @bottom-right{content:counter(page) " / " counter(pages);font-size:8pt;color:#52606d}}
@media print{
 body{background:none;font-size:10pt}
 .sheet{max-width:none;margin:0;padding:0;box-shadow:none}
 .screen-only{display:none}
 .scroll{overflow:visible}
 section{margin-top:18px}
 .cards{margin-top:14px}
 .card .value{font-size:17pt}
 table{font-size:8.5pt}
 th,td{padding:3px 5px}
 .pair{gap:16px;margin-top:18px}
}
)";

// The categories in the columns and bars: the bill's, then any other a
// group or department has (none, when the bill was made right).
std::vector<std::string> categoriesShown(const Report& report) {
    std::vector<std::string> shown = report.bill.categories;
    std::set<std::string> seen(shown.begin(), shown.end());
    const auto add = [&](const std::map<std::string, Totals>& byCategory) {
        for (const auto& entry : byCategory)
            if (seen.insert(entry.first).second) shown.push_back(entry.first);
    };
    add(report.bill.byCategory);
    for (const BillGroup& group : report.bill.groups) add(group.byCategory);
    for (const auto& department : report.departments) add(department.second);
    return shown;
}

std::string groupingName(const std::string& by) {
    if (by == "ext") return "分机";
    if (by == "person") return "人员";
    if (by == "department") return "部门";
    if (by == "switch") return "交换机";
    return by.empty() ? "分组" : by;
}

std::string departmentName(const std::string& name) { return name.empty() ? "（未登记）" : name; }

class Page {
public:
    explicit Page(const Report& report) : report_(report), bill_(report.bill), categories_(categoriesShown(report)) {}

    std::string render() {
        out_.reserve(64 * 1024);
        head();
        out_ += "<body>\n<main class=\"sheet\">\n";
        masthead();
        totals();
        billTable();
        departmentChart();
        dayChart();
        heatMap();
        out_ += "<div class=\"pair\">\n";
        ranked("top-destinations", "最常拨打的号码", "按通话次数", "号码", "", report_.topDestinations);
        ranked("top-callers", "费用最高的主叫", "按费用", "主叫", "姓名", report_.topCallers);
        out_ += "</div>\n";
        callList("long-calls", "长时间通话", "时长 " + std::to_string(longCallSeconds / 60) + " 分钟及以上", "时长最长",
                 report_.longCalls);
        callList("after-hours", "非工作时间通话",
                 "开始于 " + std::to_string(workdayStartHour) + ":00 之前、" + std::to_string(workdayEndHour) +
                     ":00 及以后，或在周六、周日",
                 "费用最高", report_.afterHours);
        callList("international", "国际长途", "类别为" + std::string(internationalCategory) + "的通话", "费用最高",
                 report_.international);
        footer();
        out_ += "</main>\n</body>\n</html>\n";
        return std::move(out_);
    }

private:
    // An amount in yuan with two decimals; one that is not a whole fen
    // carries its exact value, and the footnote says how sums are made.
    std::string money(Li amount) {
        if (amount % 10 == 0) return yuanCents(amount);
        inexact_ = true;
        return "<span title=\"精确值 " + yuanExact(amount) + " 元\">" + yuanCents(amount) + "</span>";
    }

    void head() {
        const std::string period = escaped(bill_.from) + " 至 " + escaped(bill_.to);
        out_ +=
            "<!DOCTYPE html>\n<html lang=\"zh-CN\">\n<head>\n<meta charset=\"utf-8\">\n"
            "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
            "<meta name=\"generator\" content=\"quelvar-report\">\n<title>话费账单 " +
            period + "</title>\n<style>" + style + "</style>\n</head>\n";
    }

    void masthead() {
        out_ += "<header class=\"masthead\">\n<p class=\"kicker\">电话费用报表</p>\n<h1>话费账单</h1>\n";
        out_ +=
            "<p class=\"period\"><span id=\"period\">" + escaped(bill_.from) + " 至 " + escaped(bill_.to) + "</span>";
        long first = 0, last = 0;
        if (parseDate(bill_.from, first) && parseDate(bill_.to, last) && last >= first)
            out_ += "<span class=\"muted\">（共 " + std::to_string(last - first + 1) + " 天）</span>";
        out_ += "</p>\n<dl class=\"facts\">\n";
        out_ += "<div><dt>汇总方式</dt><dd>按" + escaped(groupingName(bill_.by)) + "</dd></div>\n";
        out_ += "<div><dt>资费版本</dt><dd id=\"tariff-versions\">";
        if (bill_.tariffVersions.empty()) {
            out_ += "无：本期没有按资费计费的通话";
        } else {
            for (std::size_t i = 0; i < bill_.tariffVersions.size(); ++i)
                out_ += (i ? "、" : "") + escaped(bill_.tariffVersions[i]) + " 起施行的版本";
        }
        out_ += "</dd></div>\n";
        out_ += "<div><dt>生成时间</dt><dd id=\"generated\">" + escaped(report_.generated) + "</dd></div>\n";
        out_ += "</dl>\n</header>\n";
    }

    void totals() {
        const Totals& total = bill_.total;
        out_ += "<section id=\"totals\">\n<div class=\"cards\">\n";
        out_ +=
            "<div class=\"card\"><div class=\"label\">通话次数</div><div class=\"value\"><span id=\"total-calls\">" +
            count(total.calls) + "</span><span class=\"unit\">通</span></div></div>\n";
        out_ +=
            "<div class=\"card\"><div class=\"label\">通话时长</div><div class=\"value\"><span "
            "id=\"total-minutes\">" +
            minutes(total.seconds) + "</span><span class=\"unit\">分钟</span></div></div>\n";
        out_ +=
            "<div class=\"card main\"><div class=\"label\">费用合计</div><div class=\"value\"><span "
            "id=\"total-cost\">" +
            yuanCents(total.cost) + "</span><span class=\"unit\">元</span></div>";
        if (total.cost % 10 != 0) {
            inexact_ = true;
            out_ += "<div class=\"exact\">精确值 " + yuanExact(total.cost) + " 元</div>";
        }
        out_ += "</div>\n";
        if (total.unrated > 0)
            out_ +=
                "<div class=\"card warn\"><div class=\"label\">未计费通话</div><div class=\"value\"><span "
                "id=\"total-unrated\">" +
                count(total.unrated) + "</span><span class=\"unit\">通</span></div></div>\n";
        out_ += "</div>\n";
        if (total.unrated > 0)
            out_ += "<p class=\"note\">其中 " + count(total.unrated) +
                    " 通未计费：没有哪条资费规则适用于这些通话，所以它们的费用按 0 元计。它们仍计入通话次数和时长；"
                    "下面的明细中另列一栏。请核对资费表是否缺少相应的规则。</p>\n";
        if (bill_.incoming > 0)
            out_ += "<p class=\"note\" id=\"incoming\">另有 " + count(bill_.incoming) +
                    " 通来电（含转移入）：费用由主叫方承担，不列入本账单。</p>\n";
        out_ += "</section>\n";
    }

    void billTable() {
        const bool byPerson = bill_.by == "person";
        const bool unrated = bill_.total.unrated > 0;
        const std::string grouping = groupingName(bill_.by);
        out_ += "<section id=\"bill\" class=\"flow\">\n<h2>账单明细<small>按" + escaped(grouping) +
                "汇总；金额单位：元</small></h2>\n<div class=\"scroll\">\n<table>\n<thead><tr><th>" +
                escaped(grouping) + "</th>";
        if (byPerson) out_ += "<th>部门</th>";
        out_ += "<th class=\"num\">通话</th><th class=\"num\">分钟</th>";
        for (const std::string& category : categories_) out_ += "<th class=\"num\">" + escaped(category) + "</th>";
        out_ += "<th class=\"num\">合计</th>";
        if (unrated) out_ += "<th class=\"num\">未计费</th>";
        out_ += "</tr></thead>\n<tbody>\n";
        const auto cells = [&](const Totals& total, const std::map<std::string, Totals>& byCategory) {
            out_ += "<td class=\"num\">" + count(total.calls) + "</td><td class=\"num\">" + minutes(total.seconds) +
                    "</td>";
            for (const std::string& category : categories_) {
                const auto found = byCategory.find(category);
                if (found == byCategory.end())
                    out_ += "<td class=\"num muted\">–</td>";
                else
                    out_ += "<td class=\"num\">" + money(found->second.cost) + "</td>";
            }
            out_ += "<td class=\"num\"><strong>" + money(total.cost) + "</strong></td>";
            if (unrated) out_ += "<td class=\"num\">" + (total.unrated ? count(total.unrated) : "") + "</td>";
        };
        for (const BillGroup& group : bill_.groups) {
            out_ +=
                "<tr><th scope=\"row\">" +
                escaped(group.name.empty() ? bill_.by == "department" ? departmentName("") : "（空）" : group.name) +
                "</th>";
            if (byPerson) out_ += "<td>" + escaped(departmentName(group.department)) + "</td>";
            cells(group.total, group.byCategory);
            out_ += "</tr>\n";
        }
        if (bill_.groups.empty()) {
            const std::size_t columns = 4 + categories_.size() + (byPerson ? 1 : 0) + (unrated ? 1 : 0);
            out_ += "<tr><td colspan=\"" + std::to_string(columns) + "\" class=\"muted\">本期没有通话。</td></tr>\n";
        }
        // The total as the last row, not a footer: a browser repeats a
        // table's footer on every printed page.
        out_ += "<tr class=\"total\"><th scope=\"row\">合计</th>";
        if (byPerson) out_ += "<td></td>";
        cells(bill_.total, bill_.byCategory);
        out_ += "</tr>\n</tbody>\n</table>\n</div>\n</section>\n";
    }

    // Stacked horizontal bars: a department a row, a colour a category.
    void departmentChart() {
        const auto& departments = report_.departments;
        out_ +=
            "<section id=\"departments\" "
            "class=\"flow\">\n<h2>各部门费用<small>按类别堆叠，费用最高的部门在前；单位：元</small></h2>\n";
        constexpr double width = 800, barLeft = 158, valueRoom = 80, rowHeight = 30, barHeight = 18;
        const double barRoom = width - barLeft - valueRoom;
        // The legend, wrapped over as many lines as it needs.
        std::string legend;
        double x = barLeft, y = 14;
        for (std::size_t i = 0; i < categories_.size(); ++i) {
            const std::string name = shortened(categories_[i], 20);
            const double itemWidth = 18 + textWidth(name, 12) + 22;
            if (x + itemWidth > width && x > barLeft) x = barLeft, y += 22;
            legend += "<rect x=\"" + at(x) + "\" y=\"" + at(y - 10) + "\" width=\"12\" height=\"12\" rx=\"2\" fill=\"" +
                      categoryColour(i) + "\"/><text x=\"" + at(x + 18) + "\" y=\"" + at(y) + "\">" + escaped(name) +
                      "</text>";
            x += itemWidth;
        }
        const double top = categories_.empty() ? 8 : y + 18;
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
            out_ += "<svg id=\"chart-departments\" class=\"chart\" viewBox=\"0 0 " + at(width) + " " + at(top + 40) +
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
            out_ += "<svg id=\"chart-departments" + (first == 0 ? "" : "-" + std::to_string(first / rowsPerChart + 1)) +
                    "\" class=\"chart\" viewBox=\"0 0 " + at(width) + " " + at(bottom + 26) +
                    "\" role=\"img\" aria-label=\"各部门费用\" font-size=\"12\" fill=\"#1f2933\">\n";
            if (first == 0) out_ += legend + "\n";
            // The grid and its amounts.
            for (Li tick = 0; tick <= scaleEnd; tick += step) {
                const std::string tickX = at(barX(tick));
                out_ += "<line x1=\"" + tickX + "\" y1=\"" + at(chartTop - 4) + "\" x2=\"" + tickX + "\" y2=\"" +
                        at(bottom) + "\" stroke=\"" + (tick == 0 ? "#7b8794" : "#e4e7eb") + "\"/><text x=\"" + tickX +
                        "\" y=\"" + at(bottom + 16) + "\" text-anchor=\"middle\" font-size=\"11\" fill=\"#52606d\">" +
                        axisYuan(tick) + "</text>\n";
            }
            for (std::size_t row = first; row < end; ++row) {
                const double barTop =
                    chartTop + rowHeight * static_cast<double>(row - first) + (rowHeight - barHeight) / 2;
                departmentBar(departments[row].first, departments[row].second, sums[row], barTop, barX);
            }
            out_ += "</svg>\n";
        }
        out_ += "</section>\n";
    }

    // One department's row: its name, a bar per category that cost
    // something, and what it cost in all.
    template <class Scale>
    void departmentBar(const std::string& name, const std::map<std::string, Totals>& byCategory, Li sum, double barTop,
                       const Scale& barX) {
        constexpr double labelRight = 150, barHeight = 18;
        const std::string shownName = departmentName(name);
        long long calls = 0;
        for (const auto& entry : byCategory) calls += entry.second.calls;
        out_ += "<g><title>" + escaped(shownName) + "：" + yuanCents(sum) + " 元，" + count(calls) +
                " 通</title><text x=\"" + at(labelRight) + "\" y=\"" + at(barTop + 13) + "\" text-anchor=\"end\">" +
                escaped(shortened(shownName, 22)) + "</text></g>\n";
        Li stacked = 0;
        for (std::size_t i = 0; i < categories_.size(); ++i) {
            const auto found = byCategory.find(categories_[i]);
            if (found == byCategory.end() || found->second.cost <= 0) continue;
            const Li cost = found->second.cost;
            const double left = barX(stacked), right = barX(stacked + cost);
            stacked += cost;
            const std::string colour = categoryColour(i);
            out_ += "<g><title>" + escaped(shownName) + " · " + escaped(categories_[i]) + "：" + yuanCents(cost) +
                    " 元，" + count(found->second.calls) + " 通</title><rect x=\"" + at(left) + "\" y=\"" + at(barTop) +
                    "\" width=\"" + at(std::max(0.0, right - left)) + "\" height=\"" + at(barHeight) + "\" fill=\"" +
                    colour + "\"/>";
            const std::string label = yuanCents(cost);
            if (right - left >= textWidth(label, 10.5) + 8)
                out_ += "<text x=\"" + at((left + right) / 2) + "\" y=\"" + at(barTop + 13) +
                        "\" text-anchor=\"middle\" font-size=\"10.5\" fill=\"" +
                        (light(colour) ? "#1f2933" : "#ffffff") + "\">" + label + "</text>";
            out_ += "</g>\n";
        }
        out_ += "<text x=\"" + at(barX(stacked) + 6) + "\" y=\"" + at(barTop + 13) + "\" font-weight=\"600\">" +
                yuanCents(sum) + "</text>\n";
    }

    // Calls per day as a line over the days of the period, weekends shaded.
    void dayChart() {
        const auto& days = report_.days;
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
        out_ += "<section id=\"days\">\n<h2>每日通话<small>通话次数" +
                std::string(longPeriod ? "" : "；灰色为周六、周日") + "</small></h2>\n";
        if (!days.empty() && most > 0)
            out_ += "<p class=\"hint\">最多的一天：" + escaped(days[busiest].first) + "，" + count(most) +
                    " 通；日均 " + tenths(calls, static_cast<long long>(days.size())) + " 通。</p>\n";
        out_ += "<svg id=\"chart-days\" class=\"chart\" viewBox=\"0 0 " + at(width) + " " + at(height) +
                "\" role=\"img\" aria-label=\"每日通话\" font-size=\"11\" fill=\"#52606d\">\n";
        const long long step = niceStep(most, 4, 1);
        const long long scaleEnd = std::max(step * 4, (most + step - 1) / step * step);
        const auto dayY = [&](long long value) {
            return bottom - plotHeight * static_cast<double>(value) / static_cast<double>(scaleEnd);
        };
        const double slot = plotWidth / static_cast<double>(std::max<std::size_t>(days.size(), 1));
        for (std::size_t i = 0; i < days.size(); ++i)
            if (!longPeriod && weekdayOfText(days[i].first) >= 6)
                out_ += "<rect x=\"" + at(left + slot * static_cast<double>(i)) + "\" y=\"" + at(top) + "\" width=\"" +
                        at(slot) + "\" height=\"" + at(plotHeight) + "\" fill=\"#f0f2f4\"/>\n";
        for (long long tick = 0; tick <= scaleEnd; tick += step) {
            const std::string tickY = at(dayY(tick));
            out_ += "<line x1=\"" + at(left) + "\" y1=\"" + tickY + "\" x2=\"" + at(width - right) + "\" y2=\"" +
                    tickY + "\" stroke=\"" + (tick == 0 ? "#7b8794" : "#e4e7eb") + "\"/><text x=\"" + at(left - 8) +
                    "\" y=\"" + at(dayY(tick) + 4) + "\" text-anchor=\"end\">" + count(tick) + "</text>\n";
        }
        out_ += "<text x=\"" + at(left - 8) + "\" y=\"" + at(top - 10) + "\" text-anchor=\"end\">通</text>\n";
        if (days.empty()) {
            out_ += "<text x=\"" + at(left + plotWidth / 2) + "\" y=\"" + at(top + plotHeight / 2) +
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
                out_ += "<line x1=\"" + at(x) + "\" y1=\"" + at(bottom) + "\" x2=\"" + at(x) + "\" y2=\"" +
                        at(bottom + 4) + "\" stroke=\"#7b8794\"/><text x=\"" + at(x) + "\" y=\"" + at(bottom + 18) +
                        "\" text-anchor=\"middle\">" + escaped(monthDay(days[i].first)) + "</text>\n";
        }
        const std::string colour(dayLineColour);
        out_ += "<polygon points=\"" + at(left + slot / 2) + "," + at(bottom) + " " + points + " " +
                at(left + slot * (static_cast<double>(days.size()) - 0.5)) + "," + at(bottom) + "\" fill=\"" + colour +
                "\" fill-opacity=\"0.08\"/>\n";
        out_ += "<polyline points=\"" + points + "\" fill=\"none\" stroke=\"" + colour +
                "\" stroke-width=\"2.5\" stroke-linejoin=\"round\" stroke-linecap=\"round\"/>\n";
        // A dot a day, with what the day had; invisible on a long period,
        // where it still shows its day to a pointer.
        const std::string dot = longPeriod
                                    ? "\" r=\"3\" fill=\"#ffffff\" fill-opacity=\"0\" stroke=\"none\">"
                                    : "\" r=\"3\" fill=\"#ffffff\" stroke=\"" + colour + "\" stroke-width=\"1.5\">";
        for (std::size_t i = 0; i < days.size(); ++i) {
            const double x = left + slot * (static_cast<double>(i) + 0.5);
            const int weekday = weekdayOfText(days[i].first);
            out_ += "<circle cx=\"" + at(x) + "\" cy=\"" + at(dayY(days[i].second.calls)) + dot + "<title>" +
                    escaped(days[i].first) + (weekday ? std::string(" ") + weekdayNames[weekday - 1] : "") + "：" +
                    count(days[i].second.calls) + " 通，" + minutes(days[i].second.seconds) + " 分钟，" +
                    yuanCents(days[i].second.cost) + " 元</title></circle>\n";
        }
        out_ += "</svg>\n</section>\n";
    }

    // Calls by weekday and hour of their start, shaded by how many.
    void heatMap() {
        const auto& heat = report_.heat;
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
        out_ += "<section id=\"heat\">\n<h2>通话时段<small>按开始的星期和钟点；虚线框内为工作时间</small></h2>\n";
        out_ += "<svg id=\"chart-heat\" class=\"chart\" viewBox=\"0 0 " + at(width) + " " + at(height) +
                "\" role=\"img\" aria-label=\"通话时段\" font-size=\"11\" fill=\"#52606d\">\n";
        for (int hour = 0; hour < 24; ++hour)
            out_ += "<text x=\"" + at(left + cellWidth * (hour + 0.5)) + "\" y=\"" + at(top - 8) +
                    "\" text-anchor=\"middle\">" + std::to_string(hour) + "</text>";
        out_ += "\n";
        for (int weekday = 0; weekday < 7; ++weekday) {
            const double y = top + cellHeight * weekday;
            out_ += "<text x=\"" + at(left - 8) + "\" y=\"" + at(y + cellHeight / 2 + 4) + "\" text-anchor=\"end\">" +
                    weekdayNames[weekday] + "</text>\n";
            for (int hour = 0; hour < 24; ++hour) {
                const long long value = heat[weekday][hour];
                const int level = shadeOf(value);
                const double x = left + cellWidth * hour;
                char hours[32];
                std::snprintf(hours, sizeof hours, " %02d:00–%02d:00：", hour, hour + 1);
                out_ += "<g><title>" + std::string(weekdayNames[weekday]) + hours + count(value) +
                        " 通</title><rect x=\"" + at(x + 1) + "\" y=\"" + at(y + 1) + "\" width=\"" +
                        at(cellWidth - 2) + "\" height=\"" + at(cellHeight - 2) + "\" rx=\"2\" fill=\"" + shade(level) +
                        "\"/>";
                if (value > 0) {
                    const std::string text = cellCount(value);
                    out_ += "<text x=\"" + at(x + cellWidth / 2) + "\" y=\"" + at(y + cellHeight / 2 + 4) +
                            "\" text-anchor=\"middle\" font-size=\"" + (text.size() > 3 ? "9.5" : "10.5") +
                            "\" fill=\"" + (level >= 3 ? "#ffffff" : "#1f2933") + "\">" + text + "</text>";
                }
                out_ += "</g>";
            }
            out_ += "\n";
        }
        // Monday to Friday, from the start of the working day to its end.
        out_ += "<rect x=\"" + at(left + cellWidth * workdayStartHour) + "\" y=\"" + at(top) + "\" width=\"" +
                at(cellWidth * (workdayEndHour - workdayStartHour)) + "\" height=\"" + at(cellHeight * 5) +
                "\" fill=\"none\" stroke=\"#334e68\" stroke-width=\"1.5\" stroke-dasharray=\"5 3\"/>\n";
        // The legend: each shade with the counts it stands for.
        double x = left;
        const double legendY = bottom + 16;
        out_ += "<text x=\"" + at(x) + "\" y=\"" + at(legendY + 10) + "\">通话次数</text>";
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
            out_ += "<rect x=\"" + at(x) + "\" y=\"" + at(legendY) + "\" width=\"22\" height=\"13\" rx=\"2\" fill=\"" +
                    shade(level) + "\"/><text x=\"" + at(x + 28) + "\" y=\"" + at(legendY + 10) + "\">" + range +
                    "</text>";
            x += 28 + textWidth(range, 11) + 22;
        }
        if (calls == 0)
            out_ += "<text x=\"" + at(x + 12) + "\" y=\"" + at(legendY + 10) + "\">本期没有有开始时间的通话</text>";
        out_ += "\n</svg>\n</section>\n";
    }

    void ranked(const char* id, const char* title, const char* order, const char* nameTitle, const char* detailTitle,
                const std::vector<Ranked>& rows) {
        bool details = false;
        for (const Ranked& row : rows) details = details || !row.detail.empty();
        details = details && *detailTitle != '\0';
        out_ += "<section id=\"" + std::string(id) + "\">\n<h2>" + title + "<small>" + order + "，前 " +
                std::to_string(topLimit) + " 名；单位：元</small></h2>\n";
        if (rows.empty()) {
            out_ += "<p class=\"none\">无。</p>\n</section>\n";
            return;
        }
        out_ += "<table>\n<thead><tr><th class=\"rank\"></th><th>" + std::string(nameTitle) + "</th>";
        if (details) out_ += "<th>" + std::string(detailTitle) + "</th>";
        out_ +=
            "<th class=\"num\">通话</th><th class=\"num\">分钟</th><th class=\"num\">费用</th></tr></thead>\n<tbody>\n";
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const Ranked& row = rows[i];
            out_ += "<tr><td class=\"rank\">" + std::to_string(i + 1) + "</td><td>" + escaped(row.name) + "</td>";
            if (details) out_ += "<td>" + escaped(row.detail) + "</td>";
            out_ += "<td class=\"num\">" + count(row.totals.calls) + "</td><td class=\"num\">" +
                    minutes(row.totals.seconds) + "</td><td class=\"num\">" + money(row.totals.cost) + "</td></tr>\n";
        }
        out_ += "</tbody>\n</table>\n</section>\n";
    }

    void callList(const char* id, const char* title, const std::string& which, const char* order,
                  const CallList& list) {
        out_ += "<section id=\"" + std::string(id) + "\" class=\"flow\">\n<h2>" + title + "<small>" + escaped(which) +
                "</small></h2>\n";
        if (list.count <= 0 && list.calls.empty()) {
            out_ += "<p class=\"none\">无。</p>\n</section>\n";
            return;
        }
        const long long shown = static_cast<long long>(list.calls.size());
        out_ += "<p class=\"hint count\">共 " + count(std::max(list.count, shown)) + " 通";
        if (list.count > shown) out_ += "，下表只列出" + std::string(order) + "的前 " + count(shown) + " 通";
        out_ += "。</p>\n";
        if (list.calls.empty()) {
            out_ += "</section>\n";
            return;
        }
        out_ +=
            "<div class=\"scroll\">\n<table class=\"calls\">\n<colgroup><col class=\"time\"><col class=\"number\">"
            "<col class=\"who\"><col class=\"callee\"><col class=\"category\"><col class=\"length\">"
            "<col class=\"cost\"></colgroup>\n<thead><tr><th>开始时间</th><th>主叫</th><th>姓名 · 部门</th>"
            "<th>被叫</th><th>类别</th><th class=\"num\">时长</th><th class=\"num\">费用（元）</th></tr></thead>\n"
            "<tbody>\n";
        for (const RatedCall& call : list.calls) {
            std::string start = call.start;
            if (start.size() > 10 && start[10] == 'T') start[10] = ' ';
            out_ += "<tr><td class=\"time\">" +
                    (start.empty() ? escaped(call.day) + "<span class=\"sub\">时间不详</span>" : escaped(start)) +
                    "</td><td>" + escaped(call.caller) + "</td><td>";
            if (!call.person.empty() && call.person != call.caller) out_ += escaped(call.person);
            if (!call.department.empty())
                out_ += std::string(call.person.empty() || call.person == call.caller ? "" : " · ") +
                        "<span class=\"muted\">" + escaped(call.department) + "</span>";
            out_ += "</td><td>" + escaped(call.callee) + "</td><td>" + escaped(call.category) +
                    "</td><td class=\"num\">" + clock(call.seconds);
            if (call.legs > 1) out_ += "<span class=\"sub\">" + std::to_string(call.legs) + " 段</span>";
            out_ += "</td><td class=\"num\">";
            if (call.rated) {
                out_ += money(call.cost);
            } else {
                out_ += "<span class=\"unrated\">未计费</span>";
                if (!call.unratedWhy.empty()) out_ += "<span class=\"why\">" + escaped(call.unratedWhy) + "</span>";
            }
            out_ += "</td></tr>\n";
        }
        out_ += "</tbody>\n</table>\n</div>\n</section>\n";
    }

    void footer() {
        out_ += "<footer>\n";
        if (inexact_)
            out_ +=
                "<p id=\"rounding\">金额四舍五入到分；合计由精确金额（厘）相加后再舍入，可能与各项舍入后之和相差几分。"
                "<span class=\"screen-only\">将鼠标停在金额上可见精确值。</span></p>\n";
        if (bill_.total.unrated > 0) out_ += "<p>未计费的通话没有适用的资费规则，费用按 0 元计。</p>\n";
        out_ += "<p>分钟为通话秒数除以 60，保留一位小数；单次通话的时长为 时:分:秒。</p>\n";
        out_ += "<p>由 quelvar-report 生成于 " + escaped(report_.generated) + "。</p>\n</footer>\n";
    }

    const Report& report_;
    const Bill& bill_;
    std::vector<std::string> categories_;
    std::string out_;
    bool inexact_ = false;
};

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

std::string renderHtml(const Report& report) { return Page(report).render(); }

}  // namespace quelvar::report
