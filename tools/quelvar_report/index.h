#pragma once
#include <string>
#include <vector>

#include "platform/status.h"

struct sqlite3;

namespace quelvar::report {

// What one run of `index` did.
struct IndexReport {
    long filesSeen = 0;
    long filesRead = 0;      // new or changed, read in part or whole
    long callsAdded = 0;
    long unparsableLines = 0;
};

// The roots read when none is given: the collector's program folder (its
// workbooks), the data root its Quelvar.ini names, and its rec folder.
std::vector<std::string> defaultRoots(const std::string& programFolder);

// Brings the database up to date with the record files under the roots:
// reads every file it has not seen, the new part of every file that grew,
// and every file that changed otherwise anew.
Status updateIndex(sqlite3* database, const std::vector<std::string>& roots, IndexReport& report);

}  // namespace quelvar::report
