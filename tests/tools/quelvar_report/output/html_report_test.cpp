// The HTML report: one page that stands alone, every text from the data
// escaped, the totals and charts there; then the page as headless Chromium
// shows it (the DOM, a screenshot whose pixels show the charts and the
// Chinese, and a PDF of A4 pages).
#include "quelvar_report/output/html_report.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <regex>
#include <set>
#include <tuple>

#include "quelvar_report/output/output.h"
#include "quelvar_report/reading/dates.h"
#include "support/outside_readers.h"
#include "support/temp_folder.h"

namespace {

using quelvar::report::Li;
using quelvar::report::RatedCall;
using quelvar::report::Report;
using quelvar::report::Totals;

const std::string hostile = "<script>alert(1)</script>";

// ---- The report, made by hand as the rating pass would make it.

// A category's calls: how many, their seconds, their cost, how many unrated.
struct Part {
    std::string category;
    long long calls;
    long long seconds;
    Li cost;
    long long unrated = 0;
};

Totals totalsOf(const Part& part) { return {part.calls, part.seconds, part.cost, part.unrated}; }

RatedCall call(std::string caller, std::string person, std::string department, std::string callee, std::string category,
               std::string start, long long seconds, Li cost, bool rated = true) {
    RatedCall c;
    c.switchName = "00-1A-2B-3C-4D-5E";
    c.callId = "77-1";
    c.caller = c.account = std::move(caller);
    c.person = std::move(person);
    c.department = std::move(department);
    c.known = c.person != c.caller;
    c.callee = std::move(callee);
    c.category = std::move(category);
    c.start = std::move(start);
    c.day = c.start.substr(0, 10);
    c.seconds = seconds;
    c.rated = rated;
    c.cost = rated ? cost : 0;
    c.unratedWhy = rated ? "" : "没有适用于特服电话的规则";
    c.tariffVersion = rated ? "2026-07-01" : "";
    return c;
}

// November 2026 by person: six people (one with markup for a name, one not
// in the directory), five categories, unrated calls, amounts that are not
// whole fen, a month of days with a silent Sunday, the hours of a working
// week, and lists of which one holds only the first of its calls.
Report fixture() {
    Report report;
    auto& bill = report.bill;
    bill.from = "2026-11-01";
    bill.to = "2026-11-30";
    bill.by = "person";
    bill.tariffVersions = {"2026-01-01", "2026-07-01"};
    bill.categories = {"内线", "市话", "国内长途", "国际长途", "特服电话"};
    report.generated = "2026-12-01 08:30";
    const std::vector<std::tuple<std::string, std::string, std::vector<Part>>> people = {
        {"张伟", "财务部", {{"内线", 40, 3600, 0}, {"市话", 25, 4500, 8250}, {"国内长途", 12, 5400, 34567}}},
        {"李娜", "市场部", {{"市话", 60, 9000, 16500}, {"国内长途", 45, 27000, 162000}, {"国际长途", 3, 2700, 219600}}},
        {"王芳", "研发中心", {{"内线", 120, 9600, 0}, {"国内长途", 20, 6000, 36000}, {"特服电话", 4, 300, 0, 4}}},
        {hostile, "R&D \"Lab\" 'x'", {{"市话", 5, 600, 1100}, {"国际长途", 1, 1200, 97650}}},
        {"8009", "", {{"市话", 8, 960, 2640}, {"特服电话", 2, 120, 0, 2}}},
        {"赵磊", "市场部", {{"市话", 30, 5400, 9900}, {"国内长途", 18, 8100, 48600}}},
    };
    std::map<std::string, std::map<std::string, Totals>> departments;
    for (const auto& [name, department, parts] : people) {
        quelvar::report::BillGroup group;
        group.name = name;
        group.department = department;
        for (const Part& part : parts) {
            const Totals totals = totalsOf(part);
            group.byCategory[part.category].add(totals);
            group.total.add(totals);
            bill.byCategory[part.category].add(totals);
            departments[department][part.category].add(totals);
        }
        bill.total.add(group.total);
        bill.groups.push_back(group);
    }
    for (const auto& entry : departments) report.departments.emplace_back(entry.first, entry.second);
    const auto cost = [](const std::pair<std::string, std::map<std::string, Totals>>& department) {
        Li sum = 0;
        for (const auto& entry : department.second) sum += entry.second.cost;
        return sum;
    };
    std::sort(report.departments.begin(), report.departments.end(),
              [&](const auto& a, const auto& b) { return cost(a) > cost(b); });

    // The days: busy on weekdays, quiet at weekends, nothing on 15 November.
    long first = 0;
    quelvar::report::parseDate(bill.from, first);
    for (long day = first; day < first + 30; ++day) {
        const int weekday = quelvar::report::weekdayOf(day);
        Totals totals;
        totals.calls = day == first + 14 ? 0 : weekday >= 6 ? 2 + day % 3 : 10 + (day * 7) % 9;
        totals.seconds = totals.calls * 170;
        totals.cost = totals.calls * 1234;
        report.days.emplace_back(quelvar::report::dateText(day), totals);
    }
    // The hours: a working week with a peak mid-morning, a little at night
    // and at weekends.
    for (int weekday = 0; weekday < 5; ++weekday)
        for (int hour = 8; hour < 18; ++hour)
            report.heat[weekday][hour] = hour == 12 ? 3 : 6 + (hour * 5 + weekday) % 7;
    report.heat[1][10] = report.heat[2][10] = report.heat[3][9] = 20;
    report.heat[0][21] = 2;
    report.heat[5][10] = 4;
    report.heat[6][15] = 1;

    report.topDestinations = {{"13912345678", "", {14, 2520, 4620, 0}},
                              {"02087654321", "", {9, 5400, 32400, 0}},
                              {"075512345678", "", {6, 720, 2400, 0}}};
    report.topCallers = {{"8002", "李娜", {108, 38700, 398100, 0}},
                         {"8004", hostile, {6, 1800, 98750, 0}},
                         {"8006", "赵磊", {48, 13500, 58500, 0}}};
    report.longCalls.count = 2;
    report.longCalls.calls = {
        call("8002", "李娜", "市场部", "02087654321", "国内长途", "2026-11-12T10:05:00", 3 * 3600 + 5 * 60 + 9, 66300),
        call("8001", "张伟", "财务部", "075512345678", "国内长途", "2026-11-20T15:40:12", 1805, 10830)};
    report.longCalls.calls[0].legs = 2;
    // More after-hours calls than the list holds.
    report.afterHours.count = 250;
    report.afterHours.calls = {
        call("8004", hostile, "R&D \"Lab\" 'x'", "0014155550100", "国际长途", "2026-11-03T21:14:00", 1200, 97650),
        call("8009", "8009", "", "95588", "特服电话", "2026-11-07T10:02:00", 60, 0, false),
        call("8006", "赵磊", "市场部", "13912345678", "市话", "2026-11-14T19:00:00", 300, 550),
    };
    report.international.count = 2;
    report.international.calls = {
        call("8002", "李娜", "市场部", "00442071234567", "国际长途", "2026-11-18T16:20:00", 1500, 122000),
        call("8004", hostile, "R&D \"Lab\" 'x'", "0014155550100", "国际长途", "2026-11-03T21:14:00", 1200, 97650)};
    return report;
}

// The page with its appendix: every section there is.
std::string withAppendix(const Report& report) {
    return quelvar::report::renderHtml(report, quelvar::report::HtmlOptions{true, std::nullopt});
}

std::size_t occurrences(const std::string& text, const std::string& part) {
    std::size_t found = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++found;
    return found;
}

// The text of the element with this id, up to its first tag.
std::string textOfId(const std::string& html, const std::string& id) {
    const std::size_t at = html.find("id=\"" + id + "\"");
    if (at == std::string::npos) return "(no element " + id + ")";
    const std::size_t start = html.find('>', at) + 1;
    return html.substr(start, html.find('<', start) - start);
}

// One section of the page, by its id.
std::string section(const std::string& html, const std::string& id) {
    const std::size_t at = html.find("<section id=\"" + id + "\"");
    if (at == std::string::npos) return "";
    return html.substr(at, html.find("</section>", at) - at);
}

// ---- The page as text.

TEST(HtmlReport, IsOneDocumentThatFetchesNothing) {
    const std::string html = withAppendix(fixture());
    EXPECT_TRUE(html.starts_with("<!DOCTYPE html>\n<html lang=\"zh-CN\">")) << html.substr(0, 80);
    EXPECT_NE(html.find("<meta charset=\"utf-8\">"), std::string::npos);
    EXPECT_NE(html.find("\"Noto Sans CJK SC\""), std::string::npos);
    EXPECT_NE(html.find("@media print"), std::string::npos);
    EXPECT_NE(html.find("@page"), std::string::npos);
    EXPECT_EQ(occurrences(html, "</html>"), 1u);
    for (const char* outside : {"http://", "https://", "<script", "src=", "href=", "@import", "url(", "<link", "<img",
                                "<iframe", "<object", "<embed", "@font-face"})
        EXPECT_EQ(html.find(outside), std::string::npos) << outside;
    EXPECT_EQ(html, quelvar::report::validUtf8(html)) << "not valid UTF-8";
}

TEST(HtmlReport, EscapesEveryTextFromTheData) {
    Report report = fixture();
    report.bill.groups[0].name = "张伟 \xFF\xFE & <b>";
    report.topDestinations[0].name = std::string("1\x01\x7F") + "2";
    const std::string html = withAppendix(report);
    EXPECT_EQ(occurrences(html, "<script"), 0u);
    EXPECT_EQ(occurrences(html, "<b>"), 0u);
    // In the bill, the callers, the department chart's bars and the lists.
    EXPECT_GE(occurrences(html, "&lt;script&gt;alert(1)&lt;/script&gt;"), 4u);
    EXPECT_GE(occurrences(html, "R&amp;D &quot;Lab&quot; &#39;x&#39;"), 3u);
    EXPECT_NE(html.find("张伟 \xEF\xBF\xBD\xEF\xBF\xBD &amp; &lt;b&gt;"), std::string::npos);
    EXPECT_NE(html.find(std::string("1\xEF\xBF\xBD\xEF\xBF\xBD") + "2"), std::string::npos);
    EXPECT_EQ(html, quelvar::report::validUtf8(html));
    // A name cut short in a chart is cut between characters.
    report.departments[0].first = std::string(40, 'x') + "部门";
    report.departments[1].first = "研发中心研发中心研发中心研发中心研发中心";
    const std::string cut = withAppendix(report);
    EXPECT_NE(cut.find(">" + std::string(21, 'x') + "…<"), std::string::npos);
    EXPECT_NE(cut.find(">研发中心研发中心研发…<"), std::string::npos);
    EXPECT_EQ(cut, quelvar::report::validUtf8(cut));
}

TEST(HtmlReport, ShowsTheTotalsTheBillAndTheLists) {
    const Report report = fixture();
    const std::string html = withAppendix(report);
    EXPECT_EQ(textOfId(html, "total-cost"), quelvar::report::yuanCents(report.bill.total.cost));
    EXPECT_EQ(textOfId(html, "total-cost"), "636.81");  // 636.807: rounded half up
    EXPECT_EQ(textOfId(html, "total-calls"), "393");
    EXPECT_EQ(textOfId(html, "total-minutes"), "1408.0");
    EXPECT_EQ(textOfId(html, "total-unrated"), "6");
    EXPECT_NE(html.find("精确值 636.807 元"), std::string::npos);
    // Amounts that are parts of a total add up, and a line under them says how.
    EXPECT_NE(section(html, "department-table").find("各行金额按最大余数法舍入到分"), std::string::npos);
    EXPECT_EQ(textOfId(html, "period"), "2026-11-01 至 2026-11-30");
    EXPECT_EQ(textOfId(html, "generated"), "2026-12-01 08:30");
    EXPECT_EQ(textOfId(html, "tariff-versions"), "2026-01-01 起施行的版本、2026-07-01 起施行的版本");

    // The bill: a row per person with the department, the categories in
    // the bill's order, and the total row last.
    const std::string bill = section(html, "bill");
    std::size_t last = 0;
    for (const char* category : {"内线", "市话", "国内长途", "国际长途", "特服电话", "合计 *", "未计费"}) {
        const std::size_t at = bill.find("<th class=\"num\">" + std::string(category) + "</th>");
        ASSERT_NE(at, std::string::npos) << category;
        EXPECT_GT(at, last) << category;
        last = at;
    }
    for (const char* person : {"张伟", "李娜", "王芳", "8009", "赵磊", "财务部", "研发中心", "（未登记）"})
        EXPECT_NE(bill.find(person), std::string::npos) << person;
    // 李娜: 108 calls, 645.0 minutes, 16.50 + 162.00 + 219.60, no 内线 or 特服电话.
    EXPECT_NE(bill.find("<tr><th scope=\"row\">李娜</th><td>市场部</td><td class=\"num\">108</td>"
                        "<td class=\"num\">645.0</td><td class=\"num muted\">–</td><td class=\"num\">16.50</td>"
                        "<td class=\"num\">162.00</td><td class=\"num\">219.60</td><td class=\"num muted\">–</td>"
                        "<td class=\"num\"><strong>398.10</strong></td><td class=\"num\"></td></tr>"),
              std::string::npos)
        << bill;
    // The rows of each column add up to its total: 张伟's 34.567 and 42.817
    // take the fen left over; a line under the table says so.
    EXPECT_NE(bill.find("<td class=\"num\">34.57</td>"), std::string::npos);
    EXPECT_NE(bill.find("<strong>42.82</strong>"), std::string::npos);
    EXPECT_NE(bill.find("最大余数法"), std::string::npos);
    EXPECT_NE(bill.find("<tr class=\"total\"><th scope=\"row\">合计</th><td></td><td class=\"num\">393</td>"),
              std::string::npos);
    EXPECT_LT(bill.find("王芳"), bill.find("class=\"total\""));
    // Unrated calls are counted and said why.
    EXPECT_NE(section(html, "totals").find("6 通未计费"), std::string::npos);

    // The lists: one says how many there were beyond those it shows.
    EXPECT_NE(section(html, "after-hours").find("共 250 通，下表只列出费用最高的前 3 通"), std::string::npos);
    EXPECT_NE(section(html, "long-calls").find("共 2 通。"), std::string::npos);
    EXPECT_NE(section(html, "long-calls").find("3:05:09"), std::string::npos);
    EXPECT_NE(section(html, "long-calls").find("2026-11-12 10:05:00"), std::string::npos);
    EXPECT_NE(section(html, "after-hours").find("未计费"), std::string::npos);
    EXPECT_NE(section(html, "international").find("00442071234567"), std::string::npos);
    EXPECT_NE(section(html, "top-callers").find("398.10"), std::string::npos);
    EXPECT_NE(section(html, "top-destinations").find("13912345678"), std::string::npos);

    // The charts, each with its marking colour.
    for (const char* chart : {"chart-departments", "chart-days", "chart-heat"})
        EXPECT_NE(html.find("<svg id=\"" + std::string(chart) + "\""), std::string::npos) << chart;
    EXPECT_NE(section(html, "days").find(std::string(quelvar::report::dayLineColour)), std::string::npos);
    EXPECT_NE(section(html, "heat").find(std::string(quelvar::report::heatDarkestColour)), std::string::npos);
    EXPECT_NE(section(html, "departments").find(quelvar::report::categoryColour(1)), std::string::npos);
    // The heat map holds every hour of every day, the counts in <title>s.
    EXPECT_EQ(occurrences(section(html, "heat"), "<rect"), 7u * 24 + 1 + 6);
    EXPECT_NE(section(html, "heat").find("<title>周二 10:00–11:00：20 通</title>"), std::string::npos);
    // A day without calls is on the line.
    EXPECT_NE(section(html, "days").find("<title>2026-11-15 周日：0 通，0.0 分钟，0.00 元</title>"), std::string::npos);
}

TEST(HtmlReport, MarkingColoursAreUsedByTheirChartOnly) {
    const std::string html = withAppendix(fixture());
    std::vector<std::pair<std::string, std::string>> marks = {
        {std::string(quelvar::report::dayLineColour), "days"},
        {std::string(quelvar::report::heatDarkestColour), "heat"}};
    for (std::size_t i = 0; i < 5; ++i) marks.emplace_back(quelvar::report::categoryColour(i), "departments");
    for (const auto& [colour, owner] : marks) {
        const std::string inside = section(html, owner);
        EXPECT_GT(occurrences(inside, colour), 0u) << colour;
        EXPECT_EQ(occurrences(html, colour), occurrences(inside, colour)) << colour << " outside " << owner;
    }
    // Ten fixed colours, then more, all different.
    std::set<std::string> colours;
    for (std::size_t i = 0; i < 40; ++i) {
        const std::string colour = quelvar::report::categoryColour(i);
        EXPECT_TRUE(std::regex_match(colour, std::regex("#[0-9a-f]{6}"))) << colour;
        colours.insert(colour);
    }
    EXPECT_EQ(colours.size(), 40u);
}

// Every number in an SVG attribute is a plain number: no NaN, no infinity,
// no negative width or height.
void expectSaneSvg(const std::string& html) {
    EXPECT_EQ(html.find("nan"), std::string::npos);
    EXPECT_EQ(html.find("NaN"), std::string::npos);
    EXPECT_EQ(html.find("inf"), std::string::npos);
    const std::regex attribute(R"re(\s(x|y|x1|x2|y1|y2|cx|cy|r|width|height)="([^"]*)")re");
    for (auto it = std::sregex_iterator(html.begin(), html.end(), attribute); it != std::sregex_iterator(); ++it) {
        const std::string name = (*it)[1], value = (*it)[2];
        EXPECT_TRUE(std::regex_match(value, std::regex(R"(-?\d+(\.\d+)?)"))) << name << "=" << value;
        if (name == "width" || name == "height" || name == "r") {
            EXPECT_FALSE(value.starts_with("-")) << name << "=" << value;
        }
    }
    const std::regex points(R"re(points="([^"]*)")re");
    for (auto it = std::sregex_iterator(html.begin(), html.end(), points); it != std::sregex_iterator(); ++it)
        EXPECT_TRUE(std::regex_match((*it)[1].str(), std::regex(R"((-?\d+\.\d,-?\d+\.\d ?)+)"))) << (*it)[1];
}

TEST(HtmlReport, EmptyReportsRenderSensibly) {
    // Nothing at all: not even a period.
    Report nothing;
    std::string html = withAppendix(nothing);
    expectSaneSvg(html);
    EXPECT_EQ(textOfId(html, "total-cost"), "0.00");
    EXPECT_EQ(textOfId(html, "total-calls"), "0");
    EXPECT_EQ(textOfId(html, "tariff-versions"), "无：本期没有按资费计费的通话");
    EXPECT_EQ(html.find("id=\"total-unrated\""), std::string::npos);
    EXPECT_EQ(html.find("id=\"rounding\""), std::string::npos);
    for (const char* list : {"long-calls", "after-hours", "international", "top-destinations", "top-callers"})
        EXPECT_NE(section(html, list).find("<p class=\"none\">无。</p>"), std::string::npos) << list;
    EXPECT_NE(section(html, "bill").find("本期没有通话"), std::string::npos);
    EXPECT_NE(section(html, "departments").find("本期没有部门的费用"), std::string::npos);

    // One day without a call, a department that cost nothing.
    Report quiet;
    quiet.bill.from = quiet.bill.to = "2026-11-15";
    quiet.bill.by = "department";
    quiet.days = {{"2026-11-15", {}}};
    quiet.departments = {{"", {}}};
    html = withAppendix(quiet);
    expectSaneSvg(html);
    EXPECT_NE(html.find("（共 1 天）"), std::string::npos);
    EXPECT_NE(section(html, "days").find("<circle cx=\"418.0\""), std::string::npos);  // alone, in the middle

    // One day of calls; a department whose cost is negative (a hand-made
    // tariff) and one that only costs.
    Report one = fixture();
    one.days.resize(1);
    one.departments[0].second.begin()->second.cost = -5000;
    html = withAppendix(one);
    expectSaneSvg(html);

    // The whole fixture, and a long period: labels thinned out.
    expectSaneSvg(withAppendix(fixture()));
    Report year = fixture();
    year.days.clear();
    long first = 0;
    quelvar::report::parseDate("2026-01-01", first);
    for (long day = first; day < first + 365; ++day)
        year.days.emplace_back(quelvar::report::dateText(day), Totals{day % 11, 0, 0, 0});
    html = withAppendix(year);
    expectSaneSvg(html);
    // Over a year: the first of each month labelled, no weekends shaded.
    const std::string days = section(html, "days");
    EXPECT_EQ(occurrences(days, "text-anchor=\"middle\">"), 12u) << days;
    EXPECT_NE(days.find(">01-01<"), std::string::npos);
    EXPECT_NE(days.find(">12-01<"), std::string::npos);
    EXPECT_EQ(days.find("#f0f2f4"), std::string::npos);
    // Over a month: every other day, weekends shaded.
    const std::string month = section(withAppendix(fixture()), "days");
    EXPECT_EQ(occurrences(month, "text-anchor=\"middle\">"), 15u);
    EXPECT_EQ(occurrences(month, "#f0f2f4"), 9u);
}

TEST(HtmlReport, ManyDepartmentsAndLargeCountsStayReadable) {
    Report report = fixture();
    // Sixty departments: a chart of 24 rows at most, so that printing never
    // splits one; the legend with the first.
    const auto department = report.departments[0];
    report.departments.assign(60, department);
    report.heat[0][0] = 12345;
    report.heat[0][1] = 99999;
    report.heat[0][2] = 1234567;
    const std::string html = withAppendix(report);
    const std::string departments = section(html, "departments");
    EXPECT_EQ(occurrences(departments, "<svg "), 3u);
    for (const char* chart : {"chart-departments\"", "chart-departments-2\"", "chart-departments-3\""})
        EXPECT_NE(departments.find("<svg id=\"" + std::string(chart)), std::string::npos) << chart;
    EXPECT_EQ(occurrences(departments, ">市场部<"), 60u);
    EXPECT_EQ(occurrences(departments, ">国内长途</text>"), 1u);  // the legend
    // Counts of ten thousand and more in 万, exact in the cell's title.
    const std::string heat = section(html, "heat");
    EXPECT_NE(heat.find(">1.2万<"), std::string::npos);
    EXPECT_NE(heat.find(">10万<"), std::string::npos);
    EXPECT_NE(heat.find(">123万<"), std::string::npos);
    EXPECT_NE(heat.find("<title>周一 00:00–01:00：12345 通</title>"), std::string::npos);
    expectSaneSvg(html);
}

TEST(HtmlReport, RendersALargeReportQuickly) {
    // A thousand extensions, a year of days, every list full.
    Report report = fixture();
    report.bill.by = "ext";
    const auto group = report.bill.groups[1];
    report.bill.groups.clear();
    for (int i = 0; i < 1000; ++i) {
        report.bill.groups.push_back(group);
        report.bill.groups.back().name = std::to_string(8000 + i);
    }
    const auto department = report.departments[0];
    report.departments.assign(60, department);
    long first = 0;
    quelvar::report::parseDate("2026-01-01", first);
    report.days.clear();
    for (long day = first; day < first + 366; ++day)
        report.days.emplace_back(quelvar::report::dateText(day), Totals{day % 50, day * 3, day * 5, 0});
    for (auto* list : {&report.longCalls, &report.afterHours, &report.international}) {
        list->calls.assign(quelvar::report::listLimit, report.international.calls.front());
        list->count = 5000;
    }
    report.topCallers.assign(quelvar::report::topLimit, report.topCallers.front());
    report.topDestinations.assign(quelvar::report::topLimit, report.topDestinations.front());
    const auto start = std::chrono::steady_clock::now();
    const std::string html = withAppendix(report);
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    // Well under 100 ms in a release build; room for a sanitized one.
    EXPECT_LT(took.count(), 1000) << took.count() << " ms";
    // Each with its header row; the page's own top callers are ten.
    EXPECT_EQ(occurrences(section(html, "bill"), "<tr>"), 1000u + 1);
    for (const char* list : {"long-calls", "after-hours", "international"})
        EXPECT_EQ(occurrences(section(html, list), "<tr>"), quelvar::report::listLimit + 1) << list;
    EXPECT_EQ(occurrences(section(html, "top-destinations"), "<tr>"), quelvar::report::topLimit + 1);
    EXPECT_EQ(occurrences(section(html, "top-callers"), "<tr>"), 10u + 1);
    std::cout << "rendered " << html.size() << " bytes in " << took.count() << " ms\n";
}

// ---- The page of a month without its appendix.

TEST(HtmlPage, HoldsItsSectionsAndPartsThatAddUpToTheirTotal) {
    Report report = fixture();
    // Three departments of 1.005 yuan each: each rounded by itself they
    // would show 1.01 three times against a total of 3.02.
    report.departments.clear();
    for (const char* name : {"内科", "外科", "儿科"})
        report.departments.push_back({name, {{"市话", {1, 60, 1005, 0}}}});
    report.bill.byCategory = {{"市话", {3, 180, 3015, 0}}};
    report.bill.total = {3, 180, 3015, 0};
    report.unusual.directoryUsed = true;
    report.unusual.offHours.count = 1;
    report.unusual.offHours.calls = {call("8999", "8999", "", hostile, "国际长途", "2026-11-21T02:00:00", 600, 80000)};
    report.unusual.unlisted = {{hostile, {12, 7200, 960000, 0}, "2026-11-21T02:00:00", "2026-11-21T02:44:00"}};
    report.unusual.unlistedCalls = 12;
    report.unusual.longCalls.count = 1;
    report.unusual.longCalls.calls = {
        call("8001", "张伟", "财务部", "95588", "特服电话", "2026-11-02T09:00:00", 25 * 3600, 0, false)};
    report.unusual.bursts = {{"008821650012", 12, "2026-11-21T02:00:00", "2026-11-21T02:44:00", 960000, {hostile}, 12}};
    report.unratedCalls.count = 6;
    report.unratedCalls.calls = {call("8009", "8009", "", "95588", "特服电话", "2026-11-07T10:02:00", 60, 0, false)};
    report.unratedCalls.calls[0].callId = "4711-1";

    const std::string html = quelvar::report::renderHtml(report);
    for (const char* id : {"totals", "unrated", "department-table", "top-callers", "unusual"})
        EXPECT_NE(html.find("<section id=\"" + std::string(id) + "\""), std::string::npos) << id;
    for (const char* id : {"bill", "days", "heat", "long-calls", "after-hours", "international", "top-destinations"})
        EXPECT_EQ(html.find("<section id=\"" + std::string(id) + "\""), std::string::npos) << id;
    EXPECT_EQ(html.find("<section id=\"trend\""), std::string::npos) << "no months given, no section";

    const std::string departments = section(html, "department-table");
    EXPECT_NE(departments.find("<strong>1.01</strong></td></tr>\n<tr><th scope=\"row\">外科</th>"), std::string::npos)
        << departments;
    const std::string lastRow = departments.substr(departments.find("<th scope=\"row\">儿科</th>"));
    EXPECT_NE(lastRow.find("<td class=\"num\">1.00</td>"), std::string::npos) << lastRow;
    EXPECT_NE(lastRow.find("<strong>1.00</strong>"), std::string::npos) << lastRow;
    EXPECT_NE(departments.find("id=\"departments-total\">3.02<"), std::string::npos);
    EXPECT_NE(departments.find("最大余数法"), std::string::npos);

    // The unusual calls, every text escaped; a call over a day flagged.
    const std::string unusual = section(html, "unusual");
    EXPECT_EQ(unusual.find("<script"), std::string::npos);
    EXPECT_EQ(occurrences(unusual, "&lt;script&gt;alert(1)&lt;/script&gt;"), 3u);
    EXPECT_NE(unusual.find("2026-11-21 02:00:00"), std::string::npos);
    EXPECT_NE(unusual.find("其中 1 通超过一天"), std::string::npos);
    EXPECT_NE(unusual.find("12 通</td>"), std::string::npos);
    // The unrated calls by the key explain takes, with how many there are.
    const std::string unrated = section(html, "unrated");
    EXPECT_NE(unrated.find("共 6 通"), std::string::npos);
    EXPECT_NE(unrated.find(">4711-1<"), std::string::npos);
    EXPECT_NE(unrated.find("没有适用于特服电话的规则"), std::string::npos);

    // The months, when given: the last one against the one before.
    report.trend.months = {"2026-10", "2026-11"};
    report.trend.groups = {{"内科", {{2, 60, 1005, 0}, {4, 60, 2010, 0}}},
                           {"外科", {{1, 60, 1005, 0}, {1, 60, 1005, 0}}}};
    report.trend.total = {{3, 120, 2010, 0}, {5, 120, 3015, 0}};
    const std::string trend = section(quelvar::report::renderHtml(report), "trend");
    EXPECT_NE(trend.find("<svg id=\"chart-trend\""), std::string::npos);
    EXPECT_NE(trend.find("+100.0%"), std::string::npos);
    EXPECT_NE(trend.find("<strong>2.01</strong>"), std::string::npos);
    EXPECT_NE(trend.find("<strong>1.01</strong>"), std::string::npos) << "2.010 and 1.005 shown adding up to 3.02";
    expectSaneSvg(quelvar::report::renderHtml(report));
}

// ---- The page in a browser: Debian's chromium, headless.

std::string chromium() {
    const char* named = std::getenv("QUELVAR_TEST_CHROMIUM");
    return named != nullptr && *named != '\0' ? named : "/usr/bin/chromium";
}

// Beside this file: counts the pixels of a screenshot with python3-pil.
const std::filesystem::path pngPixels = std::filesystem::path(QUELVAR_REPORT_TEST_SCRIPTS) / "png_pixels.py";

// Standard output alone; standard error goes to `log`.
int runQuietly(const std::string& command, const std::filesystem::path& log, std::string& output) {
    return outside::run(command + " 2>" + outside::quoted(log.string()) + " </dev/null", output);
}

class HtmlInChromium : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::filesystem::exists(chromium()))
            GTEST_SKIP() << "Chromium (" << chromium() << ") is not installed: Debian's package chromium";
        page = folder.path() / "report.html";
        writeBytes(page, withAppendix(report));
    }
    void TearDown() override {
        // QUELVAR_TEST_KEEP=DIR keeps the page and what Chromium made of it, to look at.
        const char* keep = std::getenv("QUELVAR_TEST_KEEP");
        if (keep == nullptr || *keep == '\0') return;
        std::filesystem::create_directories(keep);
        for (const auto& entry : std::filesystem::directory_iterator(folder.path()))
            if (entry.is_regular_file() && entry.path().extension() != ".log")
                std::filesystem::copy_file(entry.path(), std::filesystem::path(keep) / entry.path().filename(),
                                           std::filesystem::copy_options::overwrite_existing);
    }

    // Chromium on `file` with these arguments, in a profile of its own that
    // nothing else uses; its standard output.
    std::string browse(const std::string& arguments, const std::filesystem::path& file,
                       const std::string& windowSize = "1280,5000") {
        const std::string command =
            "timeout 120 " + outside::quoted(chromium()) +
            " --headless --no-sandbox --disable-gpu --hide-scrollbars --no-first-run --no-default-browser-check"
            " --disable-extensions --disable-sync --disable-background-networking --disable-component-update"
            " --mute-audio --force-device-scale-factor=1 --window-size=" +
            windowSize + " --user-data-dir=" + outside::quoted((folder.path() / "profile").string()) + " " + arguments +
            " " + outside::quoted("file://" + file.string());
        std::string output;
        const int status = runQuietly(command, folder.path() / "chromium.log", output);
        EXPECT_EQ(status, 0) << command << "\n" << readBytes(folder.path() / "chromium.log");
        return output;
    }

    // What png_pixels.py says of an image, by the first word of its lines;
    // empty, with the test skipped, without python3-pil.
    std::map<std::string, long long> pixels(const std::string& arguments) {
        std::string output;
        const int status =
            runQuietly(outside::quoted(outside::python()) + " " + outside::quoted(pngPixels.string()) + " " + arguments,
                       folder.path() / "python.log", output);
        if (WIFEXITED(status) && WEXITSTATUS(status) == 3) {
            skipped = "python3 cannot read PNG: Debian's package python3-pil";
            return {};
        }
        EXPECT_EQ(status, 0) << output << readBytes(folder.path() / "python.log");
        std::map<std::string, long long> values;
        std::istringstream lines(output);
        for (std::string name; lines >> name;) {
            long long value = 0;
            lines >> value;
            values[name] = value;
            if (name == "size") lines >> value;  // the height
        }
        return values;
    }

    const Report report = fixture();
    TempFolder folder;
    std::filesystem::path page;
    std::string skipped;
};

TEST_F(HtmlInChromium, TheDomHoldsTheTotalsAndTheChineseNames) {
    const std::string dom = browse("--dump-dom", page);
    ASSERT_NE(dom.find("</html>"), std::string::npos) << dom.substr(0, 400);
    EXPECT_EQ(textOfId(dom, "total-cost"), quelvar::report::yuanCents(report.bill.total.cost));
    EXPECT_EQ(textOfId(dom, "total-calls"), "393");
    for (const char* name : {"张伟", "李娜", "王芳", "赵磊", "财务部", "市场部", "研发中心", "国际长途", "话费账单"})
        EXPECT_NE(dom.find(name), std::string::npos) << name;
    // The name with markup is text, not an element.
    EXPECT_EQ(dom.find("<script"), std::string::npos);
    EXPECT_NE(dom.find("&lt;script&gt;alert(1)&lt;/script&gt;"), std::string::npos);
    for (const char* chart : {"chart-departments", "chart-days", "chart-heat"})
        EXPECT_NE(dom.find("<svg id=\"" + std::string(chart) + "\""), std::string::npos) << chart;
}

TEST_F(HtmlInChromium, TheScreenshotShowsTheChartsAndChineseText) {
    const std::filesystem::path shot = folder.path() / "report.png";
    browse("--screenshot=" + outside::quoted(shot.string()), page);
    ASSERT_TRUE(std::filesystem::exists(shot)) << readBytes(folder.path() / "chromium.log");
    // Each chart's own colour, to within what anti-aliasing leaves exact.
    const std::string day(quelvar::report::dayLineColour), heat(quelvar::report::heatDarkestColour);
    std::vector<std::string> categories;
    for (std::size_t i = 0; i < report.bill.categories.size(); ++i)
        categories.push_back(quelvar::report::categoryColour(i));
    std::string arguments =
        "count " + outside::quoted(shot.string()) + " 12 " + outside::quoted(day) + " " + outside::quoted(heat);
    for (const std::string& colour : categories) arguments += " " + outside::quoted(colour);
    const auto counts = pixels(arguments);
    if (!skipped.empty()) GTEST_SKIP() << skipped;
    ASSERT_EQ(counts.at("size"), 1280);
    // Not blank: text, rules and shades all over (about 170000 and 27000
    // pixels).
    EXPECT_GT(counts.at("ink"), 60000);
    EXPECT_GT(counts.at("dark"), 9000);
    // The line of calls per day, about 740 pixels long and 2.5 wide (4300).
    EXPECT_GT(counts.at(day), 1400) << "calls per day";
    // The three hours of 20 calls, the busiest, in the darkest shade (2900).
    EXPECT_GT(counts.at(heat), 1000) << "heat map";
    // The departments' bars: each category that cost something (1100 for
    // 市话, 6800 and 7900); 内线 and 特服电话 cost nothing and have their
    // swatch in the legend alone (150).
    EXPECT_GT(counts.at(categories[0]), 60) << "内线";
    EXPECT_GT(counts.at(categories[4]), 60) << "特服电话";
    for (std::size_t i = 1; i <= 3; ++i) EXPECT_GT(counts.at(categories[i]), 400) << report.bill.categories[i];

    // Chinese text drawn with glyphs: a line of it differs from a line of
    // characters no font has, which would be the same empty boxes.
    const auto probe = [&](const std::string& name, const std::string& text) {
        const std::filesystem::path html = folder.path() / (name + ".html"), png = folder.path() / (name + ".png");
        writeBytes(html,
                   "<!DOCTYPE html><html lang=\"zh-CN\"><meta charset=\"utf-8\"><body style=\"margin:0;"
                   "font:48px 'Noto Sans CJK SC','Source Han Sans SC','WenQuanYi Micro Hei',sans-serif\">" +
                       text + "</body></html>");
        browse("--screenshot=" + outside::quoted(png.string()), html, "800,200");
        return png;
    };
    const auto chinese = probe("chinese", "话费账单");
    const auto missing = probe("missing", "\U000F0000\U000F0001\U000F0002\U000F0003");  // private use
    const auto drawn = pixels("count " + outside::quoted(chinese.string()) + " 0");
    ASSERT_GT(drawn.at("dark"), 200) << "no text in " << chinese;
    const auto difference =
        pixels("differ " + outside::quoted(chinese.string()) + " " + outside::quoted(missing.string()));
    if (difference.at("differ") == 0)
        GTEST_SKIP() << "no font with Chinese characters: Debian's package fonts-wqy-microhei";
    EXPECT_GT(difference.at("differ"), 1000);
}

TEST_F(HtmlInChromium, PrintsOnSeveralA4Pages) {
    const std::filesystem::path pdf = folder.path() / "report.pdf";
    browse("--no-pdf-header-footer --print-to-pdf=" + outside::quoted(pdf.string()), page);
    const std::string bytes = readBytes(pdf);
    ASSERT_TRUE(bytes.starts_with("%PDF-")) << readBytes(folder.path() / "chromium.log");
    EXPECT_GT(bytes.size(), 20000u);
    const std::regex pageObject(R"(/Type\s*/Page\b(?!s))");
    const auto pages =
        std::distance(std::sregex_iterator(bytes.begin(), bytes.end(), pageObject), std::sregex_iterator());
    EXPECT_GE(pages, 2) << "pages";
    // A4: 210 by 297 mm, 595 by 842 points.
    EXPECT_TRUE(
        std::regex_search(bytes, std::regex(R"(/MediaBox\s*\[\s*0\s+0\s+59[45](\.\d+)?\s+84[12](\.\d+)?\s*\])")))
        << "not A4";
}

}  // namespace
