#include "quelvar_report/index.h"

namespace quelvar::report {

std::vector<std::string> defaultRoots(const std::string& programFolder) { return {programFolder}; }

Status updateIndex(sqlite3*, const std::vector<std::string>&, IndexReport&) {
    return Status::error(Status::Code::unsupported, "index", "", "not built yet");
}

}  // namespace quelvar::report
