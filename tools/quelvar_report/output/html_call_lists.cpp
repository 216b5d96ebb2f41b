// Lists of single calls, with how many there were beyond those listed.
#include <algorithm>

#include "quelvar_report/output/html_page.h"

namespace quelvar::report::html {

void writeCallList(Page& page, const char* id, const char* title, const std::string& which, const char* order,
                   const CallList& list) {
    page.out += "<section id=\"" + std::string(id) + "\" class=\"flow\">\n<h2>" + title + "<small>" + escaped(which) +
                "</small></h2>\n";
    if (list.count <= 0 && list.calls.empty()) {
        page.out += "<p class=\"none\">无。</p>\n</section>\n";
        return;
    }
    const long long shown = static_cast<long long>(list.calls.size());
    page.out += "<p class=\"hint count\">共 " + count(std::max(list.count, shown)) + " 通";
    if (list.count > shown) page.out += "，下表只列出" + std::string(order) + "的前 " + count(shown) + " 通";
    page.out += "。</p>\n";
    if (list.calls.empty()) {
        page.out += "</section>\n";
        return;
    }
    writeCallTable(page, list.calls, list.calls.size(), false);
    page.out += "</section>\n";
}

void writeCallTable(Page& page, const std::vector<RatedCall>& calls, std::size_t limit, bool compact) {
    page.out += "<div class=\"scroll\">\n<table class=\"calls" + std::string(compact ? " compact" : "") +
                "\">\n<colgroup><col class=\"time\"><col class=\"number\">"
                "<col class=\"who\"><col class=\"callee\"><col class=\"category\"><col class=\"length\">"
                "<col class=\"cost\"></colgroup>\n<thead><tr><th>开始时间</th><th>主叫</th><th>姓名 · 部门</th>"
                "<th>被叫</th><th>类别</th><th class=\"num\">时长</th><th class=\"num\">费用（元）</th></tr></thead>\n"
                "<tbody>\n";
    std::size_t written = 0;
    for (const RatedCall& call : calls) {
        if (written++ >= limit) break;
        std::string start = call.start;
        if (start.size() > 10 && start[10] == 'T') start[10] = ' ';
        page.out += "<tr><td class=\"time\">" +
                    (start.empty() ? escaped(call.day) + "<span class=\"sub\">时间不详</span>" : escaped(start)) +
                    "</td><td>" + escaped(call.caller) + "</td><td>";
        if (!call.person.empty() && call.person != call.caller) page.out += escaped(call.person);
        if (!call.department.empty())
            page.out += std::string(call.person.empty() || call.person == call.caller ? "" : " · ") +
                        "<span class=\"muted\">" + escaped(call.department) + "</span>";
        page.out += "</td><td>" + escaped(call.callee) + "</td><td>" + escaped(call.category) +
                    "</td><td class=\"num\">" + clock(call.seconds);
        if (call.legs > 1 && !compact) page.out += "<span class=\"sub\">" + std::to_string(call.legs) + " 段</span>";
        page.out += "</td><td class=\"num\">";
        if (call.rated) {
            page.out += page.money(call.cost);
        } else {
            page.out += "<span class=\"unrated\">未计费</span>";
            if (!call.unratedWhy.empty() && !compact)
                page.out += "<span class=\"why\">" + escaped(call.unratedWhy) + "</span>";
        }
        page.out += "</td></tr>\n";
    }
    page.out += "</tbody>\n</table>\n</div>\n";
}

}  // namespace quelvar::report::html
