// Calls an office should look at before it signs: costly calls at night and
// at weekends, extensions nobody answers for, calls too long to be true,
// many calls to one number within an hour.
#include <algorithm>

#include "quelvar_report/output/html_page.h"

namespace quelvar::report::html {
namespace {

std::string moment(const std::string& start) {
    std::string shown = start;
    if (shown.size() > 10 && shown[10] == 'T') shown[10] = ' ';
    return shown.empty() ? std::string("时间不详") : shown;
}

// "共 N 通" and, when fewer are listed, which ones are.
std::string howMany(long long all, std::size_t listed, const char* unit, bool appendixHasMore) {
    std::string text = "共 " + count(all) + " " + unit;
    if (static_cast<long long>(listed) < all) {
        text += "，列出前 " + count(static_cast<long long>(listed)) + " " + unit;
        if (appendixHasMore) text += "，其余见附录（--appendix）";
    }
    return text;
}

void offHours(Page& page, bool all) {
    const CallList& list = page.report.unusual.offHours;
    page.out += "<h3 id=\"unusual-off-hours\">非工作时间的国际、卫星和声讯电话<small>开始于 " +
                std::to_string(workdayStartHour) + ":00 之前、" + std::to_string(workdayEndHour) +
                ":00 及以后或周末；卫星号码（";
    for (std::size_t i = 0; i < riskyPrefixes.size(); ++i) page.out += (i ? "、" : "") + std::string(riskyPrefixes[i]);
    page.out += "）在前，其中电话簿中没有的分机在前，再按费用</small></h3>\n";
    if (list.count == 0) {
        page.out += "<p class=\"none\">无。</p>\n";
        return;
    }
    const std::size_t shown = all ? list.calls.size() : std::min(list.calls.size(), offHoursShown);
    page.out += "<p class=\"hint count\">" + howMany(list.count, shown, "通", !all) + "。</p>\n";
    writeCallTable(page, list.calls, shown, !all);
}

void unlisted(Page& page, bool all) {
    const UnusualCalls& unusual = page.report.unusual;
    page.out += "<h3 id=\"unusual-unlisted\">电话簿中没有的分机<small>按费用</small></h3>\n";
    if (!unusual.directoryUsed) {
        page.out += "<p class=\"none\">没有电话簿（directory.csv），无法判断。</p>\n";
        return;
    }
    if (unusual.unlisted.empty()) {
        page.out += "<p class=\"none\">无：每通电话的分机都在电话簿中。</p>\n";
        return;
    }
    const std::size_t shown = all ? unusual.unlisted.size() : std::min(unusual.unlisted.size(), unusualShown);
    page.out += "<p class=\"hint count\">" + count(static_cast<long long>(unusual.unlisted.size())) + " 个分机，" +
                count(unusual.unlistedCalls) + " 通" +
                (shown < unusual.unlisted.size() ? "；列出费用最高的 " + count(static_cast<long long>(shown)) + " 个" +
                                                       (all ? std::string() : "，其余见附录（--appendix）")
                                                 : std::string()) +
                "。</p>\n";
    page.out +=
        "<table class=\"compact\">\n<thead><tr><th>分机</th><th class=\"num\">通话</th><th class=\"num\">分钟</th>"
        "<th class=\"num\">费用（元）</th><th>第一通</th><th>最后一通</th></tr></thead>\n<tbody>\n";
    for (std::size_t i = 0; i < shown; ++i) {
        const UnlistedCaller& caller = unusual.unlisted[i];
        page.out += "<tr><th scope=\"row\">" + escaped(caller.number) + "</th><td class=\"num\">" +
                    count(caller.totals.calls) + "</td><td class=\"num\">" + minutes(caller.totals.seconds) +
                    "</td><td class=\"num\">" + page.money(caller.totals.cost) + "</td><td class=\"time\">" +
                    escaped(moment(caller.first)) + "</td><td class=\"time\">" + escaped(moment(caller.last)) +
                    "</td></tr>\n";
    }
    page.out += "</tbody>\n</table>\n";
}

void longCalls(Page& page, bool all) {
    const CallList& list = page.report.unusual.longCalls;
    page.out += "<h3 id=\"unusual-long\">超长通话<small>超过 " + std::to_string(unusualLongSeconds / 3600) +
                " 小时，最长的在前；超过一天的不可能是一通真实的通话</small></h3>\n";
    if (list.count == 0) {
        page.out += "<p class=\"none\">无。</p>\n";
        return;
    }
    const std::size_t shown = all ? list.calls.size() : std::min(list.calls.size(), unusualShown);
    long long overADay = 0;
    for (const RatedCall& call : list.calls) overADay += call.seconds > dayLongSeconds ? 1 : 0;
    page.out += "<p class=\"hint count\">" + howMany(list.count, shown, "通", !all);
    if (overADay > 0) page.out += "；<span class=\"flag\">其中 " + count(overADay) + " 通超过一天</span>";
    page.out += "。</p>\n";
    writeCallTable(page, list.calls, shown, !all);
}

void bursts(Page& page, bool all) {
    const std::vector<Burst>& bursts = page.report.unusual.bursts;
    page.out += "<h3 id=\"unusual-bursts\">集中拨打同一号码<small>" + std::to_string(burstWindowSeconds / 60) +
                " 分钟内 " + std::to_string(burstCalls) + " 通及以上（内线除外），最密集的在前</small></h3>\n";
    if (bursts.empty()) {
        page.out += "<p class=\"none\">无。</p>\n";
        return;
    }
    const std::size_t shown = all ? bursts.size() : std::min(bursts.size(), unusualShown);
    page.out +=
        "<p class=\"hint count\">" + howMany(static_cast<long long>(bursts.size()), shown, "个号码", !all) + "。</p>\n";
    page.out +=
        "<table class=\"compact\">\n<thead><tr><th>被叫</th><th class=\"num\">一小时内</th><th>从</th><th>到</th>"
        "<th>主叫</th><th class=\"num\">费用（元）</th><th class=\"num\">本期共</th></tr></thead>\n<tbody>\n";
    for (std::size_t i = 0; i < shown; ++i) {
        const Burst& burst = bursts[i];
        std::string callers;
        for (std::size_t c = 0; c < burst.callers.size() && c < 3; ++c) callers += (c ? "、" : "") + burst.callers[c];
        if (burst.callers.size() > 3) callers += " 等 " + std::to_string(burst.callers.size()) + " 个";
        page.out += "<tr><th scope=\"row\">" + escaped(burst.callee) + "</th><td class=\"num\">" + count(burst.calls) +
                    " 通</td><td class=\"time\">" + escaped(moment(burst.first)) + "</td><td class=\"time\">" +
                    escaped(moment(burst.last)) + "</td><td>" + escaped(callers) + "</td><td class=\"num\">" +
                    page.money(burst.cost) + "</td><td class=\"num\">" + count(burst.periodCalls) + " 通</td></tr>\n";
    }
    page.out += "</tbody>\n</table>\n";
}

}  // namespace

void writeUnusual(Page& page, bool all) {
    page.out += std::string("<section id=\"") + (all ? "unusual-all" : "unusual") +
                "\" class=\"flow\">\n<h2>异常通话<small>" + (all ? "全部" : "签字前请核对") + "</small></h2>\n";
    offHours(page, all);
    unlisted(page, all);
    longCalls(page, all);
    bursts(page, all);
    page.out += "</section>\n";
}

}  // namespace quelvar::report::html
