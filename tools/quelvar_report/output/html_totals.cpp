// The totals: the cards at the head of the page and what they need said.
#include "quelvar_report/output/html_page.h"

namespace quelvar::report::html {

void writeTotals(Page& page) {
    const Totals& total = page.bill.total;
    page.out += "<section id=\"totals\">\n<div class=\"cards\">\n";
    page.out +=
        "<div class=\"card\"><div class=\"label\">通话次数</div><div class=\"value\"><span id=\"total-calls\">" +
        count(total.calls) + "</span><span class=\"unit\">通</span></div></div>\n";
    page.out +=
        "<div class=\"card\"><div class=\"label\">通话时长</div><div class=\"value\"><span "
        "id=\"total-minutes\">" +
        minutes(total.seconds) + "</span><span class=\"unit\">分钟</span></div></div>\n";
    page.out +=
        "<div class=\"card main\"><div class=\"label\">费用合计</div><div class=\"value\"><span "
        "id=\"total-cost\">" +
        yuanCents(total.cost) + "</span><span class=\"unit\">元</span></div>";
    if (total.cost % 10 != 0) {
        page.inexact = true;
        page.out += "<div class=\"exact\">精确值 " + yuanExact(total.cost) + " 元</div>";
    }
    page.out += "</div>\n";
    if (total.unrated > 0)
        page.out +=
            "<div class=\"card warn\"><div class=\"label\">未计费通话</div><div class=\"value\"><span "
            "id=\"total-unrated\">" +
            count(total.unrated) + "</span><span class=\"unit\">通</span></div></div>\n";
    page.out += "</div>\n";
    if (total.unrated > 0)
        page.out += "<p class=\"note\">其中 " + count(total.unrated) +
                    " 通未计费：没有哪条资费规则适用于这些通话，所以它们的费用按 0 元计。它们仍计入通话次数和时长；"
                    "下面的明细中另列一栏。请核对资费表是否缺少相应的规则。</p>\n";
    if (page.bill.incoming > 0)
        page.out += "<p class=\"note\" id=\"incoming\">另有 " + count(page.bill.incoming) +
                    " 通来电（含转移入）：费用由主叫方承担，不列入本账单。</p>\n";
    page.out += "</section>\n";
}

void writeUnrated(Page& page) {
    const CallList& list = page.report.unratedCalls;
    if (list.count <= 0) return;
    const std::size_t shown = std::min(list.calls.size(), unratedShown);
    page.out +=
        "<section id=\"unrated\" class=\"flow\">\n<h2>未计费通话<small>没有适用的资费规则，费用按 0 "
        "元计</small></h2>\n";
    page.out +=
        "<p class=\"hint count\">共 " + count(list.count) + " 通" +
        (static_cast<long long>(shown) < list.count ? "，列出最早的 " + count(static_cast<long long>(shown)) + " 通"
                                                    : std::string()) +
        "；<code>quelvar-report explain 编号</code> 逐条说明。</p>\n";
    page.out +=
        "<table "
        "class=\"compact\">\n<thead><tr><th>编号</th><th>交换机</th><th>开始时间</th><th>主叫</th><th>被叫</"
        "th><th>类别</th>"
        "<th>原因</th></tr></thead>\n<tbody>\n";
    for (std::size_t i = 0; i < shown; ++i) {
        const RatedCall& call = list.calls[i];
        std::string start = call.start;
        if (start.size() > 10 && start[10] == 'T') start[10] = ' ';
        page.out += "<tr><td class=\"time\">" + escaped(call.callId) + "</td><td class=\"time\">" +
                    escaped(call.switchName) + "</td><td class=\"time\">" + escaped(start.empty() ? call.day : start) +
                    "</td><td>" + escaped(call.caller) + "</td><td>" + escaped(call.callee) + "</td><td>" +
                    escaped(call.category) + "</td><td>" + escaped(call.unratedWhy) + "</td></tr>\n";
    }
    page.out += "</tbody>\n</table>\n</section>\n";
}

}  // namespace quelvar::report::html
