#include "quelvar_report/output/xlsx_report.h"

#include <fcntl.h>
#include <unistd.h>
#include <xlsxwriter.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "quelvar_report/reading/dates.h"
#include "quelvar_report/output/output.h"

namespace quelvar::report {
namespace {

// ---- Cells.

constexpr std::size_t maxCellCharacters = 32767;  // Excel's, counted in UTF-16 units

// Text as a cell may hold it: valid UTF-8 (libxlsxwriter takes the bytes as
// they are), no control characters (XML 1.0 has no room for most; Excel would
// show the rest as _x0001_), no U+FFFE or U+FFFF (no XML characters either),
// and no more than Excel takes.
std::string cellText(std::string_view raw) {
    const bool plain = std::all_of(raw.begin(), raw.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
    if (plain && raw.size() <= maxCellCharacters) return std::string(raw);
    const std::string valid = validUtf8(raw);
    std::string text;
    text.reserve(valid.size());
    std::size_t units = 0;
    for (std::size_t at = 0; at < valid.size();) {
        const auto lead = static_cast<unsigned char>(valid[at]);
        const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        units += length == 4 ? 2 : 1;
        if (units > maxCellCharacters) break;
        if (lead < 0x20 || lead == 0x7F) text += '?';
        else if (lead == 0xEF && valid[at + 1] == '\xBF' && (valid[at + 2] == '\xBE' || valid[at + 2] == '\xBF'))
            text += "\xEF\xBF\xBD";
        else text.append(valid, at, length);
        at += length;
    }
    return text;
}

// A cell's name, A1 style, relative.
std::string cellName(lxw_row_t row, lxw_col_t col) {
    char name[LXW_MAX_CELL_NAME_LENGTH];
    lxw_rowcol_to_cell(name, row, col);
    return name;
}

double yuan(Li amount) { return static_cast<double>(amount) / 1000.0; }
double days(long long seconds) { return static_cast<double>(seconds) / 86400.0; }

// Excel's serial day number of 1970-01-01.
constexpr double unixEpochSerial = 25569.0;
// Days before 1900-03-01 are wrong in Excel (it holds 1900 a leap year).
constexpr double firstSerial = 61.0;

// ---- The calls.

enum CallColumn : lxw_col_t {
    cStart,
    cSwitch,
    cId,
    cCaller,
    cPerson,
    cDepartment,
    cCallee,
    cCategory,
    cLegs,
    cDuration,
    cCost,
    cTariff,
    callColumnCount
};

struct ColumnLook {
    const char* title;
    double width;  // in widths of a digit; a Chinese character takes about two
};

constexpr ColumnLook callColumns[callColumnCount] = {
    {"start", 19}, {"switch", 18}, {"id", 10}, {"caller", 12}, {"person", 12}, {"department", 18},
    {"callee", 18}, {"category", 10}, {"legs", 6}, {"duration", 10}, {"cost (yuan)", 11}, {"tariff", 24},
};

double widthFor(std::string_view text) { return static_cast<double>(displayWidth(text)) * 1.1 + 2; }

Status::Code codeOfErrno(int error) {
    return error == ENOENT || error == ENOTDIR ? Status::Code::notFound : Status::Code::failed;
}

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

XlsxReport::XlsxReport(std::size_t callsPerSheet) : callsPerSheet_(std::max<std::size_t>(callsPerSheet, 1)) {
    callsPerSheet_ = std::min(callsPerSheet_, excelRowsPerSheet - 1);
}

XlsxReport::~XlsxReport() { abandon(); }

// A workbook that is not finished: its sheets' temporary files closed (the
// library would leave them open) and everything freed, nothing written.
void XlsxReport::abandon() {
    if (workbook_ == nullptr) return;
    for (lxw_worksheet* sheet : sheets_) {
        if (sheet->optimize_tmpfile != nullptr) std::fclose(sheet->optimize_tmpfile);
        sheet->optimize_tmpfile = nullptr;
        sheet->file = nullptr;
    }
    lxw_workbook_free(workbook_);
    workbook_ = nullptr;
    sheets_.clear();
}

bool XlsxReport::check(int error, const char* what) {
    if (error == LXW_NO_ERROR) return true;
    if (failure_.ok())
        failure_ = Status::error(Status::Code::failed, what, path_, lxw_strerror(static_cast<lxw_error>(error)));
    return false;
}

Status XlsxReport::open(const std::string& path) {
    if (workbook_ != nullptr) return Status::error(Status::Code::failed, "open", path, "a workbook is open already");
    path_ = path;
    failure_ = {};
    calls_ = 0;
    // libxlsxwriter makes the file only when it closes the workbook: a file
    // that cannot be made is better known before a million calls. A link in
    // its place is not followed.
    const int probe = ::open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (probe < 0) {
        const int error = errno;
        return Status::error(codeOfErrno(error), "create", path, std::strerror(error));
    }
    ::close(probe);

    // The rows wait in temporary files until the workbook is closed; beside
    // the workbook rather than in /tmp, which may be memory.
    std::string folder = folderOf(path);
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    options.tmpdir = folder.data();
    workbook_ = workbook_new_opt(path.c_str(), &options);
    if (workbook_ == nullptr)
        return Status::error(Status::Code::failed, "open", path, lxw_strerror(LXW_ERROR_MEMORY_MALLOC_FAILED));

    const auto format = [&](bool bold, const char* number) {
        lxw_format* made = workbook_add_format(workbook_);
        if (bold) format_set_bold(made);
        if (number != nullptr) format_set_num_format(made, number);
        return made;
    };
    formats_.title = format(true, nullptr);
    format_set_font_size(formats_.title, 13);
    formats_.header = format(true, nullptr);
    format_set_bottom(formats_.header, LXW_BORDER_THIN);
    formats_.headerNumber = format(true, nullptr);
    format_set_bottom(formats_.headerNumber, LXW_BORDER_THIN);
    format_set_align(formats_.headerNumber, LXW_ALIGN_RIGHT);
    formats_.moment = format(false, "yyyy-mm-dd hh:mm:ss");
    formats_.duration = format(false, "[h]:mm:ss");
    formats_.money = format(false, "0.00");
    formats_.total = format(true, nullptr);
    formats_.totalDuration = format(true, "[h]:mm:ss");
    formats_.totalMoney = format(true, "0.00");
    for (lxw_format* made : {formats_.total, formats_.totalDuration, formats_.totalMoney})
        format_set_top(made, LXW_BORDER_THIN);

    // The bill comes first, though it is written last: each sheet has rows of
    // its own, and constant_memory only wants each sheet's in order.
    bill_ = workbook_add_worksheet(workbook_, "Bill");
    if (bill_ != nullptr) sheets_.push_back(bill_);
    if (bill_ == nullptr || !startCallSheet()) {
        const int error = errno;
        abandon();
        return Status::error(Status::Code::failed, "open", path,
                             "no temporary file in " + folder + ": " + std::strerror(error));
    }
    worksheet_activate(bill_);
    return {};
}

// The next sheet of calls, with its header; false when the library could not
// make it.
bool XlsxReport::startCallSheet() {
    const std::size_t number = sheets_.size();  // the bill is one
    const std::string name = number == 1 ? std::string("Calls") : "Calls (" + std::to_string(number) + ")";
    lxw_worksheet* sheet = workbook_add_worksheet(workbook_, name.c_str());
    if (sheet == nullptr) return false;
    sheets_.push_back(sheet);
    callSheet_ = sheet;
    rowsOnSheet_ = 0;
    for (lxw_col_t col = 0; col < callColumnCount; ++col) {
        lxw_format* look = col == cStart ? formats_.moment : col == cDuration ? formats_.duration
                           : col == cCost                  ? formats_.money
                                                           : nullptr;
        check(worksheet_set_column(sheet, col, col, callColumns[col].width, look), "lay out the calls");
        const bool numeric = col == cLegs || col == cDuration || col == cCost;
        lxw_format* header = numeric ? formats_.headerNumber : formats_.header;
        check(worksheet_write_string(sheet, 0, col, callColumns[col].title, header), "write the calls");
    }
    worksheet_freeze_panes(sheet, 1, 0);
    // Numbers as text are what the id, caller and callee columns are meant to hold.
    check(worksheet_ignore_errors(sheet, LXW_IGNORE_NUMBER_STORED_AS_TEXT, "B1:H1048576"), "lay out the calls");
    return true;
}

void XlsxReport::endCallSheet() {
    if (callSheet_ == nullptr) return;
    check(worksheet_autofilter(callSheet_, 0, 0, static_cast<lxw_row_t>(rowsOnSheet_), callColumnCount - 1),
          "lay out the calls");
    callSheet_ = nullptr;
}

void XlsxReport::addCall(const RatedCall& call) {
    if (workbook_ == nullptr || callSheet_ == nullptr || !failure_.ok()) return;
    if (rowsOnSheet_ == callsPerSheet_) {
        endCallSheet();
        if (!startCallSheet()) {
            const int error = errno;
            failure_ = Status::error(Status::Code::failed, "write the calls", path_,
                                     "no temporary file for another sheet: " + std::string(std::strerror(error)));
            return;
        }
    }
    lxw_worksheet* sheet = callSheet_;
    const auto row = static_cast<lxw_row_t>(++rowsOnSheet_);
    int error = LXW_NO_ERROR;
    const auto text = [&](lxw_col_t col, std::string_view value) {
        if (error == LXW_NO_ERROR && !value.empty())
            error = worksheet_write_string(sheet, row, col, cellText(value).c_str(), nullptr);
    };
    const auto number = [&](lxw_col_t col, double value, lxw_format* look) {
        if (error == LXW_NO_ERROR) error = worksheet_write_number(sheet, row, col, value, look);
    };
    long long moment = 0;
    if (!call.start.empty()) {
        const double serial = parseMoment(call.start, moment) ? unixEpochSerial + days(moment) : 0;
        if (serial >= firstSerial) number(cStart, serial, formats_.moment);
        else text(cStart, call.start);  // not a time Excel can show: as it was filed
    }
    text(cSwitch, call.switchName);
    text(cId, call.callId);
    text(cCaller, call.caller);
    text(cPerson, call.person);
    text(cDepartment, call.department);
    text(cCallee, call.callee);
    text(cCategory, call.category);
    number(cLegs, call.legs, nullptr);
    number(cDuration, days(call.seconds), formats_.duration);
    if (call.rated) {
        number(cCost, yuan(call.cost), formats_.money);
        text(cTariff, call.tariffVersion);
    } else {
        text(cTariff, call.unratedWhy.empty() ? std::string("unrated") : "unrated: " + call.unratedWhy);
    }
    ++calls_;
    check(error, "write the calls");
}

// ---- The bill.

void XlsxReport::writeBill(const Report& report) {
    const Bill& bill = report.bill;
    lxw_worksheet* sheet = bill_;
    int error = LXW_NO_ERROR;
    const auto text = [&](lxw_row_t row, lxw_col_t col, std::string_view value, lxw_format* look) {
        if (error == LXW_NO_ERROR && !value.empty())
            error = worksheet_write_string(sheet, row, col, cellText(value).c_str(), look);
    };
    const auto number = [&](lxw_row_t row, lxw_col_t col, double value, lxw_format* look) {
        if (error == LXW_NO_ERROR) error = worksheet_write_number(sheet, row, col, value, look);
    };
    const auto formula = [&](lxw_row_t row, lxw_col_t col, const std::string& sum, double cached, lxw_format* look) {
        if (error == LXW_NO_ERROR) error = worksheet_write_formula_num(sheet, row, col, sum.c_str(), look, cached);
    };

    // The title: the period, how the calls are grouped, the tariffs used.
    std::string tariffs;
    for (const std::string& version : bill.tariffVersions) tariffs += (tariffs.empty() ? "" : ", ") + version;
    const std::string groupTitle = bill.by == "ext" ? "extension" : bill.by;
    text(0, 0,
         "Bill " + bill.from + " to " + bill.to + " by " + groupTitle + "; " +
             (tariffs.empty() ? std::string("no tariff")
                              : (bill.tariffVersions.size() == 1 ? "tariff of " : "tariffs of ") + tariffs),
         formats_.title);
    std::string note = "Costs in yuan.";
    if (!report.generated.empty()) note += " Made " + report.generated + ".";
    if (bill.total.unrated > 0)
        note += " " + std::to_string(bill.total.unrated) + (bill.total.unrated == 1 ? " call" : " calls") +
                " no tariff covered: counted, costing nothing (column \"unrated calls\"; their reason on Calls).";
    text(1, 0, note, nullptr);

    // The columns.
    const bool byPerson = bill.by == "person";
    const lxw_row_t headerRow = 3;
    lxw_col_t col = 0;
    const lxw_col_t groupCol = col++;
    const lxw_col_t departmentCol = byPerson ? col++ : groupCol;
    const lxw_col_t callsCol = col++;
    const lxw_col_t unratedCol = col++;
    const lxw_col_t durationCol = col++;
    const lxw_col_t firstCategoryCol = col;
    col += static_cast<lxw_col_t>(bill.categories.size());
    const lxw_col_t totalCol = col;

    double groupWidth = widthFor(groupTitle);
    double departmentWidth = widthFor("department");
    for (const BillGroup& group : bill.groups) {
        groupWidth = std::max(groupWidth, widthFor(group.name));
        departmentWidth = std::max(departmentWidth, widthFor(group.department));
    }
    check(worksheet_set_column(sheet, groupCol, groupCol, std::min(groupWidth, 40.0), nullptr), "lay out the bill");
    if (byPerson)
        check(worksheet_set_column(sheet, departmentCol, departmentCol, std::min(departmentWidth, 40.0), nullptr),
              "lay out the bill");
    check(worksheet_set_column(sheet, callsCol, unratedCol, 9, nullptr), "lay out the bill");
    check(worksheet_set_column(sheet, durationCol, durationCol, 11, nullptr), "lay out the bill");
    for (std::size_t i = 0; i < bill.categories.size(); ++i) {
        const auto c = static_cast<lxw_col_t>(firstCategoryCol + i);
        const double width = std::max(11.0, widthFor(bill.categories[i]));
        check(worksheet_set_column(sheet, c, c, width, nullptr), "lay out the bill");
    }
    check(worksheet_set_column(sheet, totalCol, totalCol, 12, nullptr), "lay out the bill");

    text(headerRow, groupCol, groupTitle, formats_.header);
    if (byPerson) text(headerRow, departmentCol, "department", formats_.header);
    text(headerRow, callsCol, "calls", formats_.headerNumber);
    text(headerRow, unratedCol, "unrated calls", formats_.headerNumber);
    text(headerRow, durationCol, "duration", formats_.headerNumber);
    for (std::size_t i = 0; i < bill.categories.size(); ++i)
        text(headerRow, static_cast<lxw_col_t>(firstCategoryCol + i), bill.categories[i], formats_.headerNumber);
    text(headerRow, totalCol, "total", formats_.headerNumber);

    // A row per group. The cached results are those of the formulas over the
    // cells as written, so that a reader that does not recalculate agrees.
    const lxw_row_t firstRow = headerRow + 1;
    lxw_row_t row = firstRow;
    Totals sum;
    std::vector<Li> categorySums(bill.categories.size(), 0);
    Li costSum = 0;
    for (const BillGroup& group : bill.groups) {
        text(row, groupCol, group.name, nullptr);
        if (byPerson) text(row, departmentCol, group.department, nullptr);
        number(row, callsCol, static_cast<double>(group.total.calls), nullptr);
        number(row, unratedCol, static_cast<double>(group.total.unrated), nullptr);
        number(row, durationCol, days(group.total.seconds), formats_.duration);
        Li groupCost = 0;
        for (std::size_t i = 0; i < bill.categories.size(); ++i) {
            const auto found = group.byCategory.find(bill.categories[i]);
            const Li cost = found == group.byCategory.end() ? 0 : found->second.cost;
            number(row, static_cast<lxw_col_t>(firstCategoryCol + i), yuan(cost), formats_.money);
            groupCost += cost;
            categorySums[i] += cost;
        }
        const std::string categories = cellName(row, firstCategoryCol) + ":" + cellName(row, totalCol - 1);
        formula(row, totalCol, bill.categories.empty() ? "=0" : "=SUM(" + categories + ")", yuan(groupCost),
                formats_.money);
        costSum += groupCost;
        sum.calls += group.total.calls;
        sum.unrated += group.total.unrated;
        sum.seconds += group.total.seconds;
        ++row;
    }

    // The total: a sum down each column of numbers.
    const lxw_row_t totalRow = row;
    const auto columnSum = [&](lxw_col_t c) {
        if (bill.groups.empty()) return std::string("=0");
        return "=SUM(" + cellName(firstRow, c) + ":" + cellName(totalRow - 1, c) + ")";
    };
    text(totalRow, groupCol, "Total", formats_.total);
    if (byPerson && error == LXW_NO_ERROR)
        error = worksheet_write_blank(sheet, totalRow, departmentCol, formats_.total);
    formula(totalRow, callsCol, columnSum(callsCol), static_cast<double>(sum.calls), formats_.total);
    formula(totalRow, unratedCol, columnSum(unratedCol), static_cast<double>(sum.unrated), formats_.total);
    formula(totalRow, durationCol, columnSum(durationCol), days(sum.seconds), formats_.totalDuration);
    for (std::size_t i = 0; i < bill.categories.size(); ++i) {
        const auto c = static_cast<lxw_col_t>(firstCategoryCol + i);
        formula(totalRow, c, columnSum(c), yuan(categorySums[i]), formats_.totalMoney);
    }
    formula(totalRow, totalCol, columnSum(totalCol), yuan(costSum), formats_.totalMoney);
    check(error, "write the bill");

    worksheet_freeze_panes(sheet, headerRow + 1, 1);
    check(worksheet_repeat_rows(sheet, headerRow, headerRow), "lay out the bill");
    worksheet_set_landscape(sheet);
    worksheet_fit_to_pages(sheet, 1, 0);
    check(worksheet_ignore_errors(sheet, LXW_IGNORE_NUMBER_STORED_AS_TEXT, "A1:B1048576"), "lay out the bill");

    // The cost per group, stacked by category, from the cells above.
    if (bill.groups.empty() || bill.categories.empty()) return;
    lxw_chart* chart = workbook_add_chart(workbook_, LXW_CHART_COLUMN_STACKED);
    if (chart == nullptr) {
        check(LXW_ERROR_MEMORY_MALLOC_FAILED, "draw the bill's chart");
        return;
    }
    chart_title_set_name(chart, ("Cost per " + groupTitle + " (yuan)").c_str());
    chart_axis_set_num_format(chart->y_axis, "0.00");
    chart_legend_set_position(chart, LXW_CHART_LEGEND_BOTTOM);
    for (std::size_t i = 0; i < bill.categories.size(); ++i) {
        const auto c = static_cast<lxw_col_t>(firstCategoryCol + i);
        lxw_chart_series* series = chart_add_series(chart, nullptr, nullptr);
        if (series == nullptr) {
            check(LXW_ERROR_MEMORY_MALLOC_FAILED, "draw the bill's chart");
            return;
        }
        chart_series_set_categories(series, "Bill", firstRow, groupCol, totalRow - 1, groupCol);
        // The library learns that the groups' names are text from the cells
        // it holds, and constant_memory holds none: without this the chart
        // would refer to them as numbers.
        series->categories->has_string_cache = LXW_TRUE;
        chart_series_set_values(series, "Bill", firstRow, c, totalRow - 1, c);
        chart_series_set_name_range(series, "Bill", headerRow, c);
    }
    lxw_chart_options place{};
    place.x_offset = 10;
    place.x_scale = std::clamp(static_cast<double>(bill.groups.size()) / 12.0, 1.0, 4.0);
    place.y_scale = 1.2;
    check(worksheet_insert_chart_opt(sheet, headerRow, totalCol + 2, chart, &place), "draw the bill's chart");
}

Status XlsxReport::finish(const Report& report) {
    if (workbook_ == nullptr)
        return failure_.ok() ? Status::error(Status::Code::failed, "write", path_, "no workbook is open") : failure_;
    endCallSheet();
    writeBill(report);
    lxw_workbook* workbook = workbook_;
    workbook_ = nullptr;  // closing frees it, whatever happens
    sheets_.clear();
    bill_ = nullptr;
    errno = 0;
    const lxw_error closed = workbook_close(workbook);
    const int systemError = errno;
    if (!failure_.ok()) return failure_;
    if (closed == LXW_NO_ERROR) return {};
    std::string reason = lxw_strerror(closed);
    // These come from the system, which said why.
    const bool fromSystem = closed == LXW_ERROR_CREATING_XLSX_FILE || closed == LXW_ERROR_CREATING_TMPFILE ||
                            closed == LXW_ERROR_ZIP_FILE_OPERATION;
    if (fromSystem && systemError != 0) reason += std::string(" (") + std::strerror(systemError) + ")";
    return Status::error(fromSystem ? codeOfErrno(systemError) : Status::Code::failed, "write", path_, reason);
}

}  // namespace quelvar::report
