#pragma once
#include <string>
#include <string_view>

#include "platform/locked_file.h"
#include "store/workbook.h"
#include "store/workbook_error.h"

namespace quelvar {

// The built-in workbook driver: a connection to one workbook file. Connecting
// locks the file and reads it whole (a missing file is a new, empty
// workbook); statements change the copy in memory; committing replaces the
// file at once; closing lets go of the lock.
class WorkbookConnection {
public:
    bool connect(const std::wstring& path, WorkbookError& error);
    bool connected() const { return connected_; }
    bool execute(std::wstring_view statement, WorkbookError& error);
    bool commit(WorkbookError& error);
    void close();

private:
    std::wstring path_;
    platform::LockedFile file_;
    Workbook workbook_;
    bool connected_ = false;
    bool changed_ = false;
};

}  // namespace quelvar
