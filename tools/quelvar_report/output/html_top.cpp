// Ranked tables: the numbers called most, the callers that cost most.
#include "quelvar_report/output/html_page.h"

namespace quelvar::report::html {

void writeRanked(Page& page, const char* id, const char* title, const char* order, const char* nameTitle,
                 const char* detailTitle, const std::vector<Ranked>& rows, std::size_t limit) {
    bool details = false;
    for (const Ranked& row : rows) details = details || !row.detail.empty();
    details = details && *detailTitle != '\0';
    page.out += "<section id=\"" + std::string(id) + "\">\n<h2>" + title + "<small>" + order + "，前 " +
                std::to_string(limit) + " 名；单位：元</small></h2>\n";
    if (rows.empty()) {
        page.out += "<p class=\"none\">无。</p>\n</section>\n";
        return;
    }
    page.out += "<table>\n<thead><tr><th class=\"rank\"></th><th>" + std::string(nameTitle) + "</th>";
    if (details) page.out += "<th>" + std::string(detailTitle) + "</th>";
    page.out +=
        "<th class=\"num\">通话</th><th class=\"num\">分钟</th><th class=\"num\">费用</th></tr></thead>\n<tbody>\n";
    for (std::size_t i = 0; i < rows.size() && i < limit; ++i) {
        const Ranked& row = rows[i];
        page.out += "<tr><td class=\"rank\">" + std::to_string(i + 1) + "</td><td>" + escaped(row.name) + "</td>";
        if (details) page.out += "<td>" + escaped(row.detail) + "</td>";
        page.out += "<td class=\"num\">" + count(row.totals.calls) + "</td><td class=\"num\">" +
                    minutes(row.totals.seconds) + "</td><td class=\"num\">" + page.money(row.totals.cost) +
                    "</td></tr>\n";
    }
    page.out += "</tbody>\n</table>\n</section>\n";
}

}  // namespace quelvar::report::html
