#pragma once
// The bill as an Excel workbook (XLSX), written with libxlsxwriter while the
// calls of the period stream past: a sheet "账单" (Bill; the one that opens)
// with a row per group, formulas for the totals and a chart, the calls no
// tariff covered on "未计费" (Unrated), then the calls a row each on "通话"
// (Calls), "通话 (2)", ... and, when asked, a sheet per department. Rows go
// to disk as they are written (libxlsxwriter's constant_memory mode): a
// million calls take little memory. Every sheet prints on A4 portrait, one
// page wide, its heading row on every page.
#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "platform/status.h"
#include "quelvar_report/output/output.h"
#include "quelvar_report/rating/report_data.h"

struct lxw_workbook;
struct lxw_worksheet;
struct lxw_format;

namespace quelvar::report {

// Excel's rows a sheet; the header takes one.
inline constexpr std::size_t excelRowsPerSheet = 1048576;

class XlsxReport {
public:
    // `callsPerSheet` calls fill a sheet of calls before the next begins;
    // tests pass a few.
    explicit XlsxReport(std::size_t callsPerSheet = excelRowsPerSheet - 1);
    ~XlsxReport();
    XlsxReport(const XlsxReport&) = delete;
    XlsxReport& operator=(const XlsxReport&) = delete;

    // Headings and sheet names in `lang` (Chinese unless told); with
    // `perDepartment`, a sheet per department after the calls, its people's
    // costs and a line for its head's signature. Before open.
    void setLook(Lang lang, bool perDepartment = false) {
        lang_ = lang;
        perDepartment_ = perDepartment;
    }

    // Starts the workbook at `path`: fails at once when the file cannot be
    // made there. Writes to `path` alone (its temporary files go beside it,
    // already removed); a caller that wants the workbook whole or not at all
    // writes to a file of its own and renames it.
    [[nodiscard]] Status open(const std::string& path);
    // The next call, in the order the calls arrive; the first failure is kept
    // for finish.
    void addCall(const RatedCall& call);
    // Writes the bill and closes the workbook: the first failure since open,
    // if any (the file is then not a workbook to keep).
    [[nodiscard]] Status finish(const Report& report);

    long long calls() const { return calls_; }

private:
    struct Formats {
        lxw_format* title = nullptr;
        lxw_format* header = nullptr;
        lxw_format* headerNumber = nullptr;
        lxw_format* moment = nullptr;
        lxw_format* duration = nullptr;
        lxw_format* money = nullptr;
        lxw_format* total = nullptr;
        lxw_format* totalDuration = nullptr;
        lxw_format* totalMoney = nullptr;
        lxw_format* wrapped = nullptr;
    };
    // A department's people (or numbers), for its own sheet.
    struct Member {
        std::string name, number;
        Totals total;
        std::map<std::string, Li> byCategory;
    };

    bool check(int error, const char* what);
    bool startCallSheet();
    void endCallSheet();
    void writeBill(const Report& report);
    void writeDepartments(const Report& report);
    void printOnA4(lxw_worksheet* sheet, int headingRow);
    void abandon();

    std::size_t callsPerSheet_;
    std::string path_;
    lxw_workbook* workbook_ = nullptr;
    lxw_worksheet* bill_ = nullptr;
    lxw_worksheet* callSheet_ = nullptr;
    lxw_worksheet* unrated_ = nullptr;
    std::size_t unratedRows_ = 0;
    std::vector<double> callWidths_, unratedWidths_;  // fitted to what the columns hold
    std::vector<lxw_worksheet*> sheets_;
    Lang lang_ = Lang::zh;
    bool perDepartment_ = false;
    std::map<std::string, std::map<std::string, Member>> members_;  // by department, then person
    Formats formats_;
    std::size_t rowsOnSheet_ = 0;  // calls on the current sheet of calls
    long long calls_ = 0;
    Status failure_;
};

}  // namespace quelvar::report
