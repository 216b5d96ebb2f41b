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
    // A rebuild that could not read the alerts raised from the index it
    // replaced (a damaged one) says so here; '' otherwise.
    std::string alertsLost;
};

// The roots read when none is given: the collector's program folder (its
// workbooks), the data root its Quelvar.ini names, and its rec folder.
std::vector<std::string> defaultRoots(const std::string& programFolder);

// Brings the database up to date with the record files under the roots:
// reads every file it has not seen and the new part of every file that
// grew (its size or modification time changed, the part read before is as
// it was), joining what it finds to the calls indexed already; a switch's
// day with a file that changed otherwise, or went, is read anew. A file
// whose size and modification time are as they were is not opened. Each
// root must be a folder that can be read; links under a root are not
// followed, and a file under two roots counts once.
Status updateIndex(sqlite3* database, const std::vector<std::string>& roots, IndexReport& report);

// Makes the index at `path` anew from the files under the roots, for one
// that is damaged: the new one is built beside it and takes its place only
// once it is complete. A file that is another program's database, or no
// SQLite database at all, is refused and left as it is. The alerts raised
// and their deliveries are taken over from it, as far as they can be read.
Status rebuildIndex(const std::string& path, const std::vector<std::string>& roots, IndexReport& report);

// Makes every daily figure anew from `calls` (and forgets every cost), for
// an index whose calls were written by other means than updateIndex.
Status rebuildFigures(sqlite3* database);

}  // namespace quelvar::report
