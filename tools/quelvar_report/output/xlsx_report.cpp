#include "quelvar_report/output/xlsx_report.h"

#include <fcntl.h>
#include <unistd.h>
#include <xlsxwriter.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>

#include "quelvar_report/output/bill_render.h"
#include "quelvar_report/output/output.h"
#include "quelvar_report/rating/bill.h"
#include "quelvar_report/reading/dates.h"

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
    const char* zh;
    const char* en;
    double width;  // the least, in widths of a digit
};

constexpr ColumnLook callColumns[callColumnCount] = {
    {"开始时间", "start", 19}, {"交换机", "switch", 6},         {"编号", "id", 6},
    {"主叫", "caller", 6},     {"姓名", "person", 6},           {"部门", "department", 6},
    {"被叫", "callee", 6},     {"类别", "category", 6},         {"段数", "legs", 5},
    {"时长", "duration", 10},  {"费用(元)", "cost (yuan)", 10}, {"资费", "tariff", 12},
};

// Columns as wide as what they hold, in widths of a digit: a Chinese
// character takes two, and a little room keeps one cell off the next.
constexpr double widestColumn = 40;
double widthFor(std::string_view text) {
    return std::min(static_cast<double>(displayWidth(text)) * 1.1 + 2, widestColumn);
}

std::string asciiLower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// A sheet's name as Excel takes it: at most 31 characters (UTF-16 units),
// none of []:*?/\, no quote at either end, and none taken already, whatever
// its case (`taken` holds them in lower case).
std::string sheetName(const std::string& raw, std::set<std::string>& taken) {
    const std::string wanted = validUtf8(raw);
    std::vector<std::pair<std::string, std::size_t>> characters;  // each with its units
    for (std::size_t at = 0; at < wanted.size();) {
        const auto lead = static_cast<unsigned char>(wanted[at]);
        const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        const bool refused = std::string_view("[]:*?/\\").find(wanted[at]) != std::string_view::npos || lead < 0x20 ||
                             lead == 0x7F;
        characters.emplace_back(refused ? std::string("_") : wanted.substr(at, length), length == 4 ? 2 : 1);
        at += length;
    }
    if (characters.empty() || characters.front().first == "'") characters.insert(characters.begin(), {"_", 1});
    if (characters.back().first == "'") characters.back().first = "_";
    for (int n = 1;; ++n) {
        const std::string suffix = n == 1 ? std::string() : " (" + std::to_string(n) + ")";
        std::string name;
        std::size_t units = suffix.size();
        for (const auto& [character, width] : characters) {
            if (units + width > 31) break;
            name += character;
            units += width;
        }
        name += suffix;
        if (taken.insert(asciiLower(name)).second) return name;
    }
}

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
    formats_.wrapped = format(false, nullptr);
    format_set_text_wrap(formats_.wrapped);
    format_set_align(formats_.wrapped, LXW_ALIGN_VERTICAL_TOP);

    // The bill comes first, though it is written last: each sheet has rows of
    // its own, and constant_memory only wants each sheet's in order.
    bill_ = workbook_add_worksheet(workbook_, said(lang_, "账单", "Bill"));
    if (bill_ != nullptr) sheets_.push_back(bill_);
    unrated_ = bill_ == nullptr ? nullptr : workbook_add_worksheet(workbook_, said(lang_, "未计费", "Unrated"));
    if (unrated_ != nullptr) {
        sheets_.push_back(unrated_);
        unratedRows_ = 0;
        unratedWidths_.clear();
        const std::vector<Column> columns = unratedColumns(lang_);
        for (std::size_t i = 0; i < columns.size(); ++i) {
            const bool numeric = columns[i].kind == Kind::number;
            check(worksheet_write_string(unrated_, 0, static_cast<lxw_col_t>(i), columns[i].title.c_str(),
                                         numeric ? formats_.headerNumber : formats_.header),
                  "write the unrated calls");
            unratedWidths_.push_back(columns[i].kind == Kind::time ? 19 : widthFor(columns[i].title));
        }
    }
    if (unrated_ == nullptr || !startCallSheet()) {
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
    const std::size_t number = sheets_.size() - 1;  // the bill and the unrated calls are two
    const std::string calls = said(lang_, "通话", "Calls");
    const std::string name = number == 1 ? calls : calls + " (" + std::to_string(number) + ")";
    lxw_worksheet* sheet = workbook_add_worksheet(workbook_, name.c_str());
    if (sheet == nullptr) return false;
    sheets_.push_back(sheet);
    callSheet_ = sheet;
    rowsOnSheet_ = 0;
    callWidths_.clear();
    for (lxw_col_t col = 0; col < callColumnCount; ++col) {
        const bool numeric = col == cLegs || col == cDuration || col == cCost;
        lxw_format* header = numeric ? formats_.headerNumber : formats_.header;
        const char* title = lang_ == Lang::en ? callColumns[col].en : callColumns[col].zh;
        check(worksheet_write_string(sheet, 0, col, title, header), "write the calls");
        callWidths_.push_back(std::max(callColumns[col].width, widthFor(title)));
    }
    worksheet_freeze_panes(sheet, 1, 0);
    printOnA4(sheet, 0);
    // Numbers as text are what the id, caller and callee columns are meant to hold.
    check(worksheet_ignore_errors(sheet, LXW_IGNORE_NUMBER_STORED_AS_TEXT, "B1:H1048576"), "lay out the calls");
    return true;
}

void XlsxReport::endCallSheet() {
    if (callSheet_ == nullptr) return;
    // Widths are written when the workbook closes: they can follow the rows.
    for (lxw_col_t col = 0; col < callColumnCount; ++col) {
        lxw_format* look = col == cStart      ? formats_.moment
                           : col == cDuration ? formats_.duration
                           : col == cCost     ? formats_.money
                                              : nullptr;
        check(worksheet_set_column(callSheet_, col, col, callWidths_[col], look), "lay out the calls");
    }
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
    const auto fitted = [&](lxw_col_t col, std::string_view value) {
        text(col, value);
        callWidths_[col] = std::max(callWidths_[col], widthFor(value));
    };
    fitted(cSwitch, call.switchName);
    fitted(cId, call.callId);
    fitted(cCaller, call.caller);
    fitted(cPerson, call.person);
    fitted(cDepartment, call.department);
    fitted(cCallee, call.callee);
    fitted(cCategory, call.category);
    number(cLegs, call.legs, nullptr);
    number(cDuration, days(call.seconds), formats_.duration);
    if (call.rated) {
        number(cCost, yuan(call.cost), formats_.money);
        text(cTariff, call.tariffVersion);
    } else {
        const std::string unrated = said(lang_, "未计费", "unrated");
        fitted(cTariff, call.unratedWhy.empty() ? unrated : unrated + ": " + call.unratedWhy);
    }
    ++calls_;
    check(error, "write the calls");
    if (!call.rated && unrated_ != nullptr && error == LXW_NO_ERROR) {
        const auto at = static_cast<lxw_row_t>(++unratedRows_);
        const std::vector<Column> columns = unratedColumns(lang_);
        const std::vector<std::string> values = unratedRow(call);
        for (std::size_t i = 0; i < columns.size() && error == LXW_NO_ERROR; ++i) {
            const auto col = static_cast<lxw_col_t>(i);
            long long when = 0;
            const double serial =
                columns[i].kind == Kind::time && parseMoment(values[i], when) ? unixEpochSerial + days(when) : 0;
            if (columns[i].kind == Kind::number) {
                error = worksheet_write_number(unrated_, at, col, static_cast<double>(call.seconds), nullptr);
            } else if (serial >= firstSerial) {
                error = worksheet_write_number(unrated_, at, col, serial, formats_.moment);
            } else if (!values[i].empty()) {
                error = worksheet_write_string(unrated_, at, col, cellText(values[i]).c_str(), nullptr);
                unratedWidths_[i] = std::max(unratedWidths_[i], widthFor(values[i]));
            }
        }
        check(error, "write the unrated calls");
    }
    if (perDepartment_) {
        Member& member = members_[departmentShown(call)][call.person + '\x1f' + call.caller];
        if (member.name.empty()) {
            member.name = call.person;
            member.number = call.caller.empty() ? call.account : call.caller;
        }
        member.total.add(call.seconds, call.cost, call.rated);
        member.byCategory[call.category] += call.cost;
    }
}

void XlsxReport::printOnA4(lxw_worksheet* sheet, int headingRow) {
    worksheet_set_paper(sheet, 9);  // A4
    worksheet_set_portrait(sheet);
    worksheet_fit_to_pages(sheet, 1, 0);  // one page wide, as many long as it takes
    check(worksheet_repeat_rows(sheet, static_cast<lxw_row_t>(headingRow), static_cast<lxw_row_t>(headingRow)),
          "lay out a sheet");
}

// ---- The bill.

void XlsxReport::writeBill(const Report& report) {
    const Bill& bill = report.bill;
    const bool en = lang_ == Lang::en;
    lxw_worksheet* sheet = bill_;
    const std::string sheetTitle = said(lang_, "账单", "Bill");
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
    const auto fen = [](long long amount) { return static_cast<double>(amount) / 100.0; };

    // The title: the period, how the calls are grouped, the tariffs used.
    std::string tariffs;
    for (const std::string& version : bill.tariffVersions) tariffs += (tariffs.empty() ? "" : ", ") + version;
    const std::string groupTitle =
        en ? (bill.by == "ext" ? std::string("extension") : bill.by) : groupHeading(bill.by, lang_);
    if (en)
        text(0, 0,
             "Bill " + bill.from + " to " + bill.to + " by " + groupTitle + "; " +
                 (tariffs.empty() ? std::string("no tariff")
                                  : (bill.tariffVersions.size() == 1 ? "tariff of " : "tariffs of ") + tariffs),
             formats_.title);
    else
        text(0, 0,
             "话费账单 " + bill.from + " 至 " + bill.to + "，按" + groupTitle + "；" +
                 (tariffs.empty() ? std::string("无资费") : "资费 " + tariffs + " 起施行"),
             formats_.title);
    const BillFen shown = billFen(bill);
    std::string note = said(lang_, "费用单位：元。", "Costs in yuan.");
    if (!shown.exact)
        note += said(lang_, "按最大余数法取整到分：各组之和等于合计，组内各类之和等于该组。",
                     " Rounded to the fen by largest remainder: the groups add up to the total, each group's "
                     "categories to the group.");
    if (!report.generated.empty()) note += en ? " Made " + report.generated + "." : "制表 " + report.generated + "。";
    if (bill.total.unrated > 0)
        note += en ? " " + std::to_string(bill.total.unrated) + (bill.total.unrated == 1 ? " call" : " calls") +
                         " no tariff covered: counted, costing nothing (column \"unrated calls\"; each on Unrated)."
                   : std::to_string(bill.total.unrated) + " 次通话无适用资费，按 0 元计（见“未计费”列及“未计费”表）。";
    if (const auto& unlisted = report.unlistedExtensions; !unlisted.empty()) {
        constexpr std::size_t named = 60;  // a long list is cut
        std::string numbers;
        for (std::size_t i = 0; i < std::min(named, unlisted.size()); ++i)
            numbers += (i ? (en ? ", " : "、") : "") + unlisted[i];
        if (unlisted.size() > named)
            numbers += en ? " and " + std::to_string(unlisted.size() - named) + " more"
                          : " 等 " + std::to_string(unlisted.size()) + " 个";
        note += en ? std::string(" ") + std::string(unlistedDepartment) + " (extensions not in the directory): " + numbers + "."
                   : std::string(unlistedDepartment) + "（名录中没有的分机）：" + numbers + "。";
    }
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

    const std::string departmentTitle = said(lang_, "部门", "department");
    const std::string callsTitle = said(lang_, "通话次数", "calls");
    const std::string unratedTitle = said(lang_, "未计费", "unrated calls");
    const std::string durationTitle = said(lang_, "时长", "duration");
    const std::string totalTitle = said(lang_, "合计", "total");
    double groupWidth = widthFor(groupTitle);
    double departmentWidth = widthFor(departmentTitle);
    for (const BillGroup& group : bill.groups) {
        groupWidth = std::max(groupWidth, widthFor(group.name));
        departmentWidth = std::max(departmentWidth, widthFor(group.department));
    }
    std::vector<double> widths(totalCol + 1, 0);
    widths[groupCol] = std::max(groupWidth, 8.0);
    if (byPerson) widths[departmentCol] = departmentWidth;
    widths[callsCol] = std::max(widthFor(callsTitle), 7.0);
    widths[unratedCol] = std::max(widthFor(unratedTitle), 7.0);
    widths[durationCol] = std::max(widthFor(durationTitle), 10.0);
    // Money to 9,999,999.99 fits.
    for (std::size_t i = 0; i < bill.categories.size(); ++i)
        widths[firstCategoryCol + i] = std::max(11.0, widthFor(bill.categories[i]));
    widths[totalCol] = 12;
    double tableWidth = 0;
    for (lxw_col_t c = 0; c <= totalCol; ++c) {
        if (widths[c] == 0) continue;
        check(worksheet_set_column(sheet, c, c, widths[c], nullptr), "lay out the bill");
        tableWidth += widths[c];
    }

    text(headerRow, groupCol, groupTitle, formats_.header);
    if (byPerson) text(headerRow, departmentCol, departmentTitle, formats_.header);
    text(headerRow, callsCol, callsTitle, formats_.headerNumber);
    text(headerRow, unratedCol, unratedTitle, formats_.headerNumber);
    text(headerRow, durationCol, durationTitle, formats_.headerNumber);
    for (std::size_t i = 0; i < bill.categories.size(); ++i)
        text(headerRow, static_cast<lxw_col_t>(firstCategoryCol + i), bill.categories[i], formats_.headerNumber);
    text(headerRow, totalCol, totalTitle, formats_.headerNumber);

    // A row per group, the amounts as shown to the fen (billFen), so that the
    // formulas sum what is shown and their cached results are those sums: a
    // reader that does not recalculate agrees with one that does.
    const lxw_row_t firstRow = headerRow + 1;
    lxw_row_t row = firstRow;
    Totals sum;
    for (std::size_t g = 0; g < bill.groups.size(); ++g) {
        const BillGroup& group = bill.groups[g];
        text(row, groupCol, group.name, nullptr);
        if (byPerson) text(row, departmentCol, group.department, nullptr);
        number(row, callsCol, static_cast<double>(group.total.calls), nullptr);
        number(row, unratedCol, static_cast<double>(group.total.unrated), nullptr);
        number(row, durationCol, days(group.total.seconds), formats_.duration);
        for (std::size_t i = 0; i < bill.categories.size(); ++i)
            number(row, static_cast<lxw_col_t>(firstCategoryCol + i), fen(shown.groupCategories[g][i]), formats_.money);
        const std::string categories = cellName(row, firstCategoryCol) + ":" + cellName(row, totalCol - 1);
        formula(row, totalCol, bill.categories.empty() ? "=0" : "=SUM(" + categories + ")", fen(shown.groups[g]),
                formats_.money);
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
    text(totalRow, groupCol, said(lang_, "合计", "Total"), formats_.total);
    if (byPerson && error == LXW_NO_ERROR)
        error = worksheet_write_blank(sheet, totalRow, departmentCol, formats_.total);
    formula(totalRow, callsCol, columnSum(callsCol), static_cast<double>(sum.calls), formats_.total);
    formula(totalRow, unratedCol, columnSum(unratedCol), static_cast<double>(sum.unrated), formats_.total);
    formula(totalRow, durationCol, columnSum(durationCol), days(sum.seconds), formats_.totalDuration);
    for (std::size_t i = 0; i < bill.categories.size(); ++i) {
        const auto c = static_cast<lxw_col_t>(firstCategoryCol + i);
        formula(totalRow, c, columnSum(c), fen(shown.categories[i]), formats_.totalMoney);
    }
    formula(totalRow, totalCol, columnSum(totalCol), fen(shown.total), formats_.totalMoney);
    check(error, "write the bill");

    worksheet_freeze_panes(sheet, headerRow + 1, 1);
    printOnA4(sheet, headerRow);
    check(worksheet_ignore_errors(sheet, LXW_IGNORE_NUMBER_STORED_AS_TEXT, "A1:B1048576"), "lay out the bill");

    // The cost per group, stacked by category, from the cells above; below
    // the table and no wider, so that the page is as wide as the table.
    if (bill.groups.empty() || bill.categories.empty()) return;
    lxw_chart* chart = workbook_add_chart(workbook_, LXW_CHART_COLUMN_STACKED);
    if (chart == nullptr) {
        check(LXW_ERROR_MEMORY_MALLOC_FAILED, "draw the bill's chart");
        return;
    }
    const std::string chartTitle = en ? "Cost per " + groupTitle + " (yuan)" : "各" + groupTitle + "费用（元）";
    chart_title_set_name(chart, chartTitle.c_str());
    chart_axis_set_num_format(chart->y_axis, "0.00");
    chart_legend_set_position(chart, LXW_CHART_LEGEND_BOTTOM);
    for (std::size_t i = 0; i < bill.categories.size(); ++i) {
        const auto c = static_cast<lxw_col_t>(firstCategoryCol + i);
        lxw_chart_series* series = chart_add_series(chart, nullptr, nullptr);
        if (series == nullptr) {
            check(LXW_ERROR_MEMORY_MALLOC_FAILED, "draw the bill's chart");
            return;
        }
        chart_series_set_categories(series, sheetTitle.c_str(), firstRow, groupCol, totalRow - 1, groupCol);
        // The library learns that the groups' names are text from the cells
        // it holds, and constant_memory holds none: without this the chart
        // would refer to them as numbers.
        series->categories->has_string_cache = LXW_TRUE;
        chart_series_set_values(series, sheetTitle.c_str(), firstRow, c, totalRow - 1, c);
        chart_series_set_name_range(series, sheetTitle.c_str(), headerRow, c);
    }
    lxw_chart_options place{};
    // A digit's width is about 7 pixels; the chart is 480 wide unscaled.
    place.x_scale = std::max(tableWidth * 7.0 / 480.0, 0.5);
    place.y_scale = 1.2;
    check(worksheet_insert_chart_opt(sheet, totalRow + 2, 0, chart, &place), "draw the bill's chart");
}

// A sheet a department: its people's costs, the figures adding up by the
// bill's rule, and a line for its head's signature.
void XlsxReport::writeDepartments(const Report& report) {
    const Bill& bill = report.bill;
    const bool en = lang_ == Lang::en;
    const BillFen shownBill = billFen(bill);
    std::set<std::string> taken;
    for (lxw_worksheet* made : sheets_) taken.insert(asciiLower(made->name));
    // By name, the extensions nobody is listed for last.
    std::vector<const decltype(members_)::value_type*> order;
    for (const auto& entry : members_) order.push_back(&entry);
    std::stable_partition(order.begin(), order.end(), [](const auto* entry) { return entry->first != unlistedDepartment; });
    for (const auto* entry : order) {
        const auto& [department, members] = *entry;
        lxw_worksheet* sheet = workbook_add_worksheet(workbook_, sheetName(department, taken).c_str());
        if (sheet == nullptr) {
            check(LXW_ERROR_MEMORY_MALLOC_FAILED, "write the departments");
            return;
        }
        int error = LXW_NO_ERROR;
        const auto text = [&](lxw_row_t row, lxw_col_t col, std::string_view value, lxw_format* look) {
            if (error == LXW_NO_ERROR && !value.empty())
                error = worksheet_write_string(sheet, row, col, cellText(value).c_str(), look);
        };
        const auto number = [&](lxw_row_t row, lxw_col_t col, double value, lxw_format* look) {
            if (error == LXW_NO_ERROR) error = worksheet_write_number(sheet, row, col, value, look);
        };
        const auto formula = [&](lxw_row_t row, lxw_col_t col, const std::string& sum, double cached,
                                 lxw_format* look) {
            if (error == LXW_NO_ERROR) error = worksheet_write_formula_num(sheet, row, col, sum.c_str(), look, cached);
        };
        text(0, 0,
             en ? department + ": telephone costs " + bill.from + " to " + bill.to
                : department + " 话费 " + bill.from + " 至 " + bill.to,
             formats_.title);
        text(1, 0, said(lang_, "费用单位：元。", "Costs in yuan."), nullptr);

        // The department's figure: the bill's where the bill is by
        // department, so that the two agree; its people add up to it.
        std::vector<Li> costs;
        Li exact = 0;
        for (const auto& [key, member] : members) {
            costs.push_back(member.total.cost);
            exact += member.total.cost;
        }
        long long target = fenRounded(exact);
        if (bill.by == "department")
            for (std::size_t g = 0; g < bill.groups.size(); ++g)
                if (bill.groups[g].name == department) target = shownBill.groups[g];
        const std::vector<long long> memberFen = fenAddingUp(costs, target);

        const lxw_row_t headerRow = 3;
        const lxw_col_t firstCategoryCol = 4;
        const auto totalCol = static_cast<lxw_col_t>(firstCategoryCol + bill.categories.size());
        const std::vector<std::string> titles = {said(lang_, "姓名", "person"), said(lang_, "分机", "ext"),
                                                 said(lang_, "通话次数", "calls"), said(lang_, "时长", "duration")};
        std::vector<double> widths = {8, 8, 0, 10};
        for (lxw_col_t c = 0; c < 4; ++c) {
            text(headerRow, c, titles[c], c >= 2 ? formats_.headerNumber : formats_.header);
            widths[c] = std::max(widths[c], widthFor(titles[c]));
        }
        for (std::size_t i = 0; i < bill.categories.size(); ++i)
            text(headerRow, static_cast<lxw_col_t>(firstCategoryCol + i), bill.categories[i], formats_.headerNumber);
        text(headerRow, totalCol, said(lang_, "合计", "total"), formats_.headerNumber);
        lxw_row_t row = headerRow + 1;
        std::size_t m = 0;
        Totals sum;
        std::vector<long long> categorySums(bill.categories.size(), 0);
        for (const auto& [key, member] : members) {
            std::vector<Li> parts;
            for (const std::string& category : bill.categories) {
                const auto found = member.byCategory.find(category);
                parts.push_back(found == member.byCategory.end() ? 0 : found->second);
            }
            const std::vector<long long> partFen = fenAddingUp(parts, memberFen[m]);
            text(row, 0, member.name, nullptr);
            text(row, 1, member.number, nullptr);
            widths[0] = std::max(widths[0], widthFor(member.name));
            widths[1] = std::max(widths[1], widthFor(member.number));
            number(row, 2, static_cast<double>(member.total.calls), nullptr);
            number(row, 3, days(member.total.seconds), formats_.duration);
            for (std::size_t i = 0; i < parts.size(); ++i) {
                number(row, static_cast<lxw_col_t>(firstCategoryCol + i), static_cast<double>(partFen[i]) / 100,
                       formats_.money);
                categorySums[i] += partFen[i];
            }
            formula(row, totalCol,
                    bill.categories.empty()
                        ? "=0"
                        : "=SUM(" + cellName(row, firstCategoryCol) + ":" + cellName(row, totalCol - 1) + ")",
                    static_cast<double>(memberFen[m]) / 100, formats_.money);
            sum.add(member.total);
            ++row;
            ++m;
        }
        const lxw_row_t first = headerRow + 1;
        const auto columnSum = [&](lxw_col_t c) {
            return "=SUM(" + cellName(first, c) + ":" + cellName(row - 1, c) + ")";
        };
        text(row, 0, said(lang_, "合计", "Total"), formats_.total);
        if (error == LXW_NO_ERROR) error = worksheet_write_blank(sheet, row, 1, formats_.total);
        formula(row, 2, columnSum(2), static_cast<double>(sum.calls), formats_.total);
        formula(row, 3, columnSum(3), days(sum.seconds), formats_.totalDuration);
        for (std::size_t i = 0; i < bill.categories.size(); ++i)
            formula(row, static_cast<lxw_col_t>(firstCategoryCol + i),
                    columnSum(static_cast<lxw_col_t>(firstCategoryCol + i)), static_cast<double>(categorySums[i]) / 100,
                    formats_.totalMoney);
        formula(row, totalCol, columnSum(totalCol), static_cast<double>(target) / 100, formats_.totalMoney);
        text(row + 3, 0,
             said(lang_, "部门负责人签字：________________        日期：____年____月____日",
                  "Head of department (signature): ________________        Date: ____________"),
             nullptr);
        check(error, "write the departments");
        for (lxw_col_t c = 0; c < 4; ++c)
            check(worksheet_set_column(sheet, c, c, widths[c], nullptr), "lay out a department");
        for (std::size_t i = 0; i < bill.categories.size(); ++i) {
            const auto c = static_cast<lxw_col_t>(firstCategoryCol + i);
            check(worksheet_set_column(sheet, c, c, std::max(11.0, widthFor(bill.categories[i])), nullptr),
                  "lay out a department");
        }
        check(worksheet_set_column(sheet, totalCol, totalCol, 12, nullptr), "lay out a department");
        worksheet_freeze_panes(sheet, headerRow + 1, 1);
        printOnA4(sheet, headerRow);
        check(worksheet_ignore_errors(sheet, LXW_IGNORE_NUMBER_STORED_AS_TEXT, "A1:B1048576"), "lay out a department");
    }
}

Status XlsxReport::finish(const Report& report) {
    if (workbook_ == nullptr)
        return failure_.ok() ? Status::error(Status::Code::failed, "write", path_, "no workbook is open") : failure_;
    endCallSheet();
    if (unrated_ != nullptr) {
        for (std::size_t i = 0; i < unratedWidths_.size(); ++i)
            check(worksheet_set_column(unrated_, static_cast<lxw_col_t>(i), static_cast<lxw_col_t>(i),
                                       unratedWidths_[i], nullptr),
                  "lay out the unrated calls");
        check(worksheet_autofilter(unrated_, 0, 0, static_cast<lxw_row_t>(unratedRows_),
                                   static_cast<lxw_col_t>(unratedWidths_.size() - 1)),
              "lay out the unrated calls");
        worksheet_freeze_panes(unrated_, 1, 0);
        printOnA4(unrated_, 0);
        check(worksheet_ignore_errors(unrated_, LXW_IGNORE_NUMBER_STORED_AS_TEXT, "A1:J1048576"),
              "lay out the unrated calls");
    }
    writeBill(report);
    if (perDepartment_) writeDepartments(report);
    lxw_workbook* workbook = workbook_;
    workbook_ = nullptr;  // closing frees it, whatever happens
    sheets_.clear();
    bill_ = nullptr;
    unrated_ = nullptr;
    members_.clear();
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
