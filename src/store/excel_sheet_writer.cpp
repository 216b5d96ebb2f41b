#include "store/excel_sheet_writer.h"

#include "core/text.h"
#include "platform/clock.h"
#include "platform/file_in_use.h"
#include "store/warning.h"

namespace quelvar {

const wchar_t* const workbookHeldWarning = L"EXCEL文件已被打开，新数据无法写入。\r\n请关闭文件后再点“确定”！\r\n\r\n";

bool ExcelSheetWriter::openWorkbook(const std::wstring& path) {
    const std::string file = toAnsi(path);
    if (platform::fileInUse(file)) {
        // Where no operator can press OK, the workbook's release stands for it.
        if (!showWarning(L"注意", formatText(L"%s%s", workbookHeldWarning, path)))
            while (platform::fileInUse(file)) platform::sleepMilliseconds(1000);
    }
    WorkbookError error;
    if (database_.connect(path, error)) return true;
    remember(error);
    return false;
}

bool ExcelSheetWriter::executeStatement(const std::wstring& statement) {
    if (!database_.connected()) return false;
    WorkbookError error;
    if (database_.execute(statement, error)) return true;
    remember(error);
    return false;
}

bool ExcelSheetWriter::commitWork() {
    WorkbookError error;
    if (database_.commit(error)) return true;
    remember(error);
    return false;
}

void ExcelSheetWriter::closeWorkbook() { database_.close(); }

// The message up to its first line feed, so that it stays one line of the log.
void ExcelSheetWriter::remember(const WorkbookError& error) {
    const std::size_t lineFeed = error.message.find(L'\n');
    const std::size_t length = lineFeed != std::wstring::npos ? lineFeed : error.message.size();
    errorText_ = formatText(L"XLS-%05d: %.*s", static_cast<int>(error.code), length, error.message);
}

}  // namespace quelvar
