#pragma once
// What the sections of the page share: the page being written, escaping,
// numbers, SVG coordinates and colours. Each section is written by a
// function of its own file; html_report.cpp puts them in order.
#include <array>
#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "quelvar_report/output/html_report.h"
#include "quelvar_report/rating/report_data.h"

namespace quelvar::report::html {

// The page as it is being written, and what every section reads.
struct Page {
    explicit Page(const Report& report);
    // An amount in yuan with two decimals; one that is not a whole fen
    // carries its exact value, and the footnote says how sums are made.
    std::string money(Li amount);
    // Parts of a total shown to the fen so that they add up to the total
    // shown (fenAddingUp); the footnote then says so.
    std::vector<std::string> addingUp(const std::vector<Li>& parts);

    const Report& report;
    const Bill& bill;
    std::vector<std::string> categories;  // in the columns and bars
    std::string out;
    bool inexact = false;
    bool addedUp = false;
};

// ---- Text.

// HTML text or an attribute's value: valid UTF-8, the five characters
// escaped, control characters (but tab and newline) as U+FFFD.
std::string escaped(std::string_view text);
// The text cut to at most `columns` columns (a wide character takes two),
// with an ellipsis where it was cut; valid UTF-8, not yet escaped.
std::string shortened(std::string_view text, std::size_t columns);
// What a text takes in an SVG at `size`, roughly: a wide character is one
// em, anything else a little over half.
double textWidth(std::string_view text, double size);

// ---- Numbers.

std::string count(long long value);
// Minutes with one decimal, rounded half up.
std::string minutes(long long seconds);
// A quotient with one decimal, rounded half up; both not negative.
std::string tenths(long long numerator, long long denominator);
// H:MM:SS.
std::string clock(long long seconds);
// An SVG coordinate: one decimal, and never NaN or infinite.
std::string at(double value);
// A step of 1, 2 or 5 times a power of ten, at least `least`, so that about
// `parts` steps cover `largest`.
long long niceStep(long long largest, int parts, long long least);
// Yuan on an axis: whole yuan without decimals.
std::string axisYuan(Li amount);

// ---- Days.

inline constexpr std::array<const char*, 7> weekdayNames = {"周一", "周二", "周三", "周四", "周五", "周六", "周日"};
// MM-DD of a YYYY-MM-DD day; another text as it is.
std::string monthDay(const std::string& day);
// 1 Monday .. 7 Sunday, or 0 for a text that is no day.
int weekdayOfText(const std::string& day);

// ---- Colours.

// The heat map's shades: none, then five steps up to heatDarkestColour.
inline constexpr std::array<const char*, 5> heatShades = {"#f1f2f4", "#e4e1f1", "#c3bde0", "#9d93cb", "#7563b0"};
// Whether dark text reads on the colour.
bool light(const std::string& colour);

// ---- Names.

std::string groupingName(const std::string& by);
std::string departmentName(const std::string& name);
// The line under a table whose amounts add up (Page::addingUp).
std::string addingUpNote();

// ---- The frame: html_page.cpp.

void writeHead(Page& page);
void writeMasthead(Page& page);
void writeFooter(Page& page);

// ---- The sections, each in its own file.

// html_totals.cpp: the cards, and the first unrated calls.
void writeTotals(Page& page);
void writeUnrated(Page& page);
// html_departments.cpp: the bill by its grouping, the departments' chart.
void writeBillTable(Page& page);
void writeDepartmentChart(Page& page);
// Departments by category, each column adding up to its total.
void writeDepartmentTable(Page& page);
// html_trend.cpp: the months before against this one.
void writeTrend(Page& page);
// html_unusual.cpp: calls the office should look at; `all` lists every one
// kept, else the first few of each kind.
void writeUnusual(Page& page, bool all);
// html_alerts.cpp: the alerts raised; `all` lists every one read, else the
// first few.
void writeAlerts(Page& page, const std::optional<PageAlerts>& alerts, bool all);
// html_activity.cpp: calls per day, calls by weekday and hour.
void writeDayChart(Page& page);
void writeHeatMap(Page& page);
// html_top.cpp: the most called numbers, the most costly callers.
void writeRanked(Page& page, const char* id, const char* title, const char* order, const char* nameTitle,
                 const char* detailTitle, const std::vector<Ranked>& rows, std::size_t limit = topLimit);
// html_call_lists.cpp: a list of calls with how many there were.
void writeCallList(Page& page, const char* id, const char* title, const std::string& which, const char* order,
                   const CallList& list);
// The first `limit` of the calls as a table; `compact`: a line each,
// without the legs and why a call was not rated.
void writeCallTable(Page& page, const std::vector<RatedCall>& calls, std::size_t limit, bool compact);

}  // namespace quelvar::report::html
