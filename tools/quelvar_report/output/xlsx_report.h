#pragma once
// The bill as an Excel workbook (XLSX), written with libxlsxwriter while the
// calls of the period stream past: a sheet "Bill" (the one that opens) with a
// row per group, formulas for the totals and a chart, then the calls a row
// each on "Calls", "Calls (2)", ... Rows go to disk as they are written
// (libxlsxwriter's constant_memory mode): a million calls take little memory.
#include <cstddef>
#include <string>
#include <vector>

#include "platform/status.h"
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
    };

    bool check(int error, const char* what);
    bool startCallSheet();
    void endCallSheet();
    void writeBill(const Report& report);
    void abandon();

    std::size_t callsPerSheet_;
    std::string path_;
    lxw_workbook* workbook_ = nullptr;
    lxw_worksheet* bill_ = nullptr;
    lxw_worksheet* callSheet_ = nullptr;
    std::vector<lxw_worksheet*> sheets_;
    Formats formats_;
    std::size_t rowsOnSheet_ = 0;  // calls on the current sheet of calls
    long long calls_ = 0;
    Status failure_;
};

}  // namespace quelvar::report
