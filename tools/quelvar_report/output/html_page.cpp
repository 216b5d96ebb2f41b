#include "quelvar_report/output/html_page.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>

#include "quelvar_report/output/output.h"
#include "quelvar_report/reading/dates.h"

namespace quelvar::report::html {
namespace {

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
.time,.nowrap{white-space:nowrap}
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
.footnote{margin:4px 0 0;color:#52606d;font-size:12px}
.lead{margin:0 0 8px;font-size:13px}
h3{font-size:14px;margin:14px 0 6px;break-after:avoid}
h3 small{font-weight:normal;color:#52606d;font-size:12px;margin-left:8px}
.flag{color:#b42318;font-weight:600}
.appendix-title{break-before:page;margin-top:0;font-size:22px;border-bottom:3px solid #334e68}
svg.spark{display:block;width:120px;height:16px}
tr.unlisted th,tr.unlisted td{background:#fdf7ea}
table.compact th,table.compact td{padding:3px 6px}
@page{size:A4;margin:14mm 12mm 16mm;
 @bottom-right{content:counter(page) " / " counter(pages);font-size:8pt;color:#52606d}}
@media print{
 body{background:none;font-size:10pt}
 .sheet{max-width:none;margin:0;padding:0;box-shadow:none}
 .screen-only{display:none}
 .scroll{overflow:visible}
 section{margin-top:12px}
 .cards{margin-top:14px}
 .card .value{font-size:17pt}
 table{font-size:8.5pt}
 th,td{padding:3px 5px}
 .pair{gap:16px;margin-top:18px}
 h2{font-size:12.5pt;margin-bottom:6px}
 h3{font-size:10pt;margin:8px 0 4px}
 .masthead{padding-bottom:6px}
 .kicker{font-size:8pt}
 .card .label{font-size:8pt}
 .card .exact{font-size:7.5pt}
 .note{margin-top:6px;padding:4px 8px}
 table.calls.compact td{overflow-wrap:normal;white-space:nowrap;overflow:hidden;text-overflow:ellipsis}
 h1{font-size:20pt}
 .period{font-size:11pt}
 .facts{font-size:8.5pt;margin-top:6px}
 .card{padding:6px 12px}
 .note,.lead{font-size:8.5pt}
 .footnote,.hint{font-size:8pt}
 table.compact{font-size:8pt}
 table.compact th,table.compact td{padding:2px 4px}
 footer{margin-top:14px;font-size:8pt}
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

}  // namespace

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

std::string axisYuan(Li amount) { return amount % 1000 == 0 ? std::to_string(amount / 1000) : yuanCents(amount); }

// ---- Days.

// MM-DD of a YYYY-MM-DD day; another text as it is.
std::string monthDay(const std::string& day) { return day.size() == 10 ? day.substr(5) : day; }

// 1 Monday .. 7 Sunday, or 0 for a text that is no day.
int weekdayOfText(const std::string& day) {
    long days = 0;
    return parseDate(day, days) ? weekdayOf(days) : 0;
}

// ---- Colours.

bool light(const std::string& colour) {
    unsigned red = 0, green = 0, blue = 0;
    if (std::sscanf(colour.c_str(), "#%2x%2x%2x", &red, &green, &blue) != 3) return false;
    return 0.299 * red + 0.587 * green + 0.114 * blue > 165;
}

std::string groupingName(const std::string& by) {
    if (by == "ext") return "分机";
    if (by == "person") return "人员";
    if (by == "department") return "部门";
    if (by == "switch") return "交换机";
    return by.empty() ? "分组" : by;
}

std::string departmentName(const std::string& name) { return name.empty() ? "（未登记）" : name; }

Page::Page(const Report& shown) : report(shown), bill(shown.bill), categories(categoriesShown(shown)) {}

// An amount in yuan with two decimals; one that is not a whole fen
// carries its exact value, and the footnote says how sums are made.
std::string Page::money(Li amount) {
    if (amount % 10 == 0) return yuanCents(amount);
    inexact = true;
    return "<span title=\"精确值 " + yuanExact(amount) + " 元\">" + yuanCents(amount) + "</span>";
}

std::string addingUpNote() {
    return "<p class=\"footnote adding-up\">* 各行金额按最大余数法舍入到分：先各自舍去到分，差的几分补给舍去最多的行，"
           "所以各行之和等于合计；合计由精确金额（厘）相加后四舍五入。</p>\n";
}

std::vector<std::string> Page::addingUp(const std::vector<Li>& parts) {
    addedUp = true;
    std::vector<std::string> shown;
    for (const long long fen : fenAddingUp(parts)) shown.push_back(yuanFromFen(fen));
    return shown;
}

void writeHead(Page& page) {
    const std::string period = escaped(page.bill.from) + " 至 " + escaped(page.bill.to);
    page.out +=
        "<!DOCTYPE html>\n<html lang=\"zh-CN\">\n<head>\n<meta charset=\"utf-8\">\n"
        "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
        "<meta name=\"generator\" content=\"quelvar-report\">\n<title>话费账单 " +
        period + "</title>\n<style>" + style + "</style>\n</head>\n";
}

void writeMasthead(Page& page) {
    page.out += "<header class=\"masthead\">\n<p class=\"kicker\">电话费用报表</p>\n<h1>话费账单</h1>\n";
    page.out += "<p class=\"period\"><span id=\"period\">" + escaped(page.bill.from) + " 至 " + escaped(page.bill.to) +
                "</span>";
    long first = 0, last = 0;
    if (parseDate(page.bill.from, first) && parseDate(page.bill.to, last) && last >= first)
        page.out += "<span class=\"muted\">（共 " + std::to_string(last - first + 1) + " 天）</span>";
    page.out += "</p>\n<dl class=\"facts\">\n";
    page.out += "<div><dt>汇总方式</dt><dd>按" + escaped(groupingName(page.bill.by)) + "</dd></div>\n";
    page.out += "<div><dt>资费版本</dt><dd id=\"tariff-versions\">";
    if (page.bill.tariffVersions.empty()) {
        page.out += "无：本期没有按资费计费的通话";
    } else {
        for (std::size_t i = 0; i < page.bill.tariffVersions.size(); ++i)
            page.out += (i ? "、" : "") + escaped(page.bill.tariffVersions[i]) + " 起施行的版本";
    }
    page.out += "</dd></div>\n";
    page.out += "<div><dt>生成时间</dt><dd id=\"generated\">" + escaped(page.report.generated) + "</dd></div>\n";
    page.out += "</dl>\n</header>\n";
}

void writeFooter(Page& page) {
    page.out += "<footer>\n";
    if (page.inexact && !page.addedUp)
        page.out +=
            "<p id=\"rounding\">金额四舍五入到分；合计由精确金额（厘）相加后再舍入，可能与各项舍入后之和相差几分。"
            "<span class=\"screen-only\">将鼠标停在金额上可见精确值。</span></p>\n";
    if (page.bill.total.unrated > 0) page.out += "<p>未计费的通话没有适用的资费规则，费用按 0 元计。</p>\n";
    page.out += "<p>分钟为通话秒数除以 60，保留一位小数；单次通话的时长为 时:分:秒。</p>\n";
    page.out += "<p>由 quelvar-report 生成于 " + escaped(page.report.generated) + "。</p>\n</footer>\n";
}

}  // namespace quelvar::report::html
