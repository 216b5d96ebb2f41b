#pragma once
// A bill for the terminal, for Excel and for programs.
#include <map>
#include <string>
#include <vector>

#include "quelvar_report/output/output.h"
#include "quelvar_report/rating/report_data.h"

namespace quelvar::report {

// The bill as a table, CSV or JSON (see the README for the JSON's shape).
// Amounts to the fen as billFen shows them. A table has its notes below it;
// CSV holds the one table, and its notes go to `notes` when given.
std::string renderBill(const Bill& bill, const std::map<std::string, UnratedCalls>& unrated, Format format,
                       Lang lang = Lang::zh, std::vector<std::string>* notes = nullptr);

// The heading of a grouping (ext, person, department, switch).
std::string groupHeading(const std::string& by, Lang lang);

// The calls no tariff rule covered, one row each: what `bill --unrated` and
// the workbook list.
std::vector<Column> unratedColumns(Lang lang);
std::vector<std::string> unratedRow(const RatedCall& call);

}  // namespace quelvar::report
