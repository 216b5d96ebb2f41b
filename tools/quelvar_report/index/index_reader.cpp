#include "quelvar_report/index/index_reader.h"

#include "platform/files.h"
#include "quelvar_report/index/schema.h"

namespace quelvar::report {

Status openIndex(const std::string& path, sqlite3*& database) {
    if (!platform::pathExists(path))
        return Status::error(Status::Code::notFound, "", "", "no index at " + path + ": run `quelvar-report index` first");
    // One thread reads: no locking on every call.
    if (sqlite3_open_v2(path.c_str(), &database, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
        const std::string why = database ? sqlite3_errmsg(database) : "out of memory";
        sqlite3_close(database);
        database = nullptr;
        return Status::error(Status::Code::failed, "open", path, why);
    }
    // A month is read end to end: mapped, the pages are not copied.
    sqlite3_exec(database, "PRAGMA mmap_size = 4294967296", nullptr, nullptr, nullptr);
    Statement application(database, "PRAGMA application_id");
    const long long id = application.step() ? application.integer(0) : 0;
    if (!application.status().ok())
        return Status::error(Status::Code::damaged, "read", path, application.status().reason());
    if (id != applicationId && id != 0)  // 0: an index made before the id was set
        return Status::error(Status::Code::unsupported, "", "", path + " is not a Quelvar index: name the index with --db");
    Statement version(database, "PRAGMA user_version");
    const bool read = version.step();
    if (!version.status().ok())
        return Status::error(Status::Code::damaged, "read", path, version.status().reason());
    if (!read || version.integer(0) != schemaVersion)
        return Status::error(Status::Code::unsupported, "", "",
                             "the index at " + path + " is not of this version: run `quelvar-report index` first");
    return {};
}

}  // namespace quelvar::report
