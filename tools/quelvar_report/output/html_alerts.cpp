// The alerts raised in the period: what the administrator was told, for the
// office to see beside the bill.
#include <algorithm>

#include "quelvar_report/output/html_page.h"

namespace quelvar::report::html {
namespace {

const char* ruleName(const std::string& rule) {
    if (rule == "silent") return "交换机静默";
    if (rule == "call") return "可疑呼叫";
    if (rule == "unlisted") return "未登记分机";
    if (rule == "long") return "超长通话";
    if (rule == "cost") return "费用超限";
    if (rule == "budget") return "限额";
    return nullptr;
}

std::string ruleShown(const std::string& rule) {
    const char* name = ruleName(rule);
    return name ? std::string(name) : escaped(rule);
}

std::string moment(const std::string& time) {
    std::string shown = time;
    if (shown.size() > 10 && shown[10] == 'T') shown[10] = ' ';
    return escaped(shown.substr(0, 16));
}

}  // namespace

void writeAlerts(Page& page, const std::optional<PageAlerts>& alerts, bool all) {
    page.out += std::string("<section id=\"") + (all ? "alerts-all" : "alerts") +
                "\" class=\"flow\">\n<h2>告警<small>" + (all ? "全部" : "本期发出的告警；仍在静默的交换机在前") +
                "</small></h2>\n";
    if (!alerts) {
        page.out += "<p class=\"none\">未评估告警：此索引从未运行过 quelvar-report alerts。</p>\n</section>\n";
        return;
    }
    if (alerts->count == 0) {
        page.out +=
            "<p class=\"none\">本期没有发出告警（告警由 quelvar-report alerts 或 watch 按 alerts.csv 评估）。</p>\n"
            "</section>\n";
        return;
    }
    const std::size_t shown = all ? alerts->listed.size() : std::min(alerts->listed.size(), alertsShown);
    page.out += "<p class=\"hint count\">共 " + count(alerts->count) + " 条";
    for (std::size_t i = 0; i < alerts->byRule.size(); ++i)
        page.out += (i ? "、" : "：") + ruleShown(alerts->byRule[i].first) + " " + count(alerts->byRule[i].second);
    if (static_cast<long long>(shown) < alerts->count)
        page.out += "；列出前 " + count(static_cast<long long>(shown)) + " 条" +
                    (all || alerts->listed.size() <= shown ? std::string() : std::string("，其余见附录（--appendix）"));
    page.out += "。</p>\n";
    page.out +=
        "<table class=\"compact\">\n<thead><tr><th>发出时间</th><th>规则</th><th>对象</th><th>内容</th>"
        "<th>状态</th></tr></thead>\n<tbody>\n";
    for (std::size_t i = 0; i < shown; ++i) {
        const PageAlert& alert = alerts->listed[i];
        std::string state;
        if (alert.rule == "silent")
            state = alert.closed.empty() ? "<span class=\"flag\">仍在静默</span>" : "已恢复 " + moment(alert.closed);
        page.out += "<tr><td class=\"time\">" + moment(alert.raised) + "</td><td class=\"nowrap\">" +
                    ruleShown(alert.rule) + "</td><td class=\"nowrap\">" + escaped(alert.subject) + "</td><td>" +
                    escaped(alert.text) + "</td><td class=\"time\">" + state + "</td></tr>\n";
    }
    page.out += "</tbody>\n</table>\n</section>\n";
}

}  // namespace quelvar::report::html
