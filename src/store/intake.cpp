#include "store/intake.h"

#include "core/folders.h"
#include "message/field_map.h"
#include "store/event_log.h"
#include "store/record_writer.h"
#include "store/workbook_export.h"

namespace quelvar {

std::wstring submitMessageText(const std::wstring& message, const std::wstring& origin) {
    FieldMap fields;
    parseFieldMap(message, fields);
    const std::wstring programDir = getProgramDir();
    ensureFolderPath(programDir + L"/log");
    const std::wstring mac = fieldValue(fields, L"MAC");
    if (fieldValue(fields, L"HEAD") == L"RECORD") {
        if (!mac.empty()) return storeRecord(fields, mac) ? fieldValue(fields, L"ID") : std::wstring();
        exportToWorkbook(fields, programDir, origin);
        return {};
    }
    writeEventLine(message);
    return {};
}

}  // namespace quelvar
