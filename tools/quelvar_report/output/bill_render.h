#pragma once
// A bill for the terminal, for Excel and for programs.
#include <map>
#include <string>

#include "quelvar_report/output/output.h"
#include "quelvar_report/rating/report_data.h"

namespace quelvar::report {

// The bill as a table, CSV or JSON (see the README for the JSON's shape).
std::string renderBill(const Bill& bill, const std::map<std::string, long long>& unratedReasons, Format format);

}  // namespace quelvar::report
