#include "store/intake.h"

#include "core/folders.h"
#include "message/field_map.h"
#include "store/event_log.h"
#include "store/record_writer.h"
#include "store/workbook_export.h"

namespace quelvar {

IntakeOutcome submitMessageOutcome(const std::wstring& message, const std::wstring& origin) {
    FieldMap fields;
    parseFieldMap(message, fields);
    const std::wstring programDir = getProgramDir();
    ensureFolderPath(pathIn(programDir, L"log"));
    const std::wstring mac = fieldValue(fields, L"MAC");
    if (fieldValue(fields, L"HEAD") == L"RECORD") {
        if (!mac.empty()) {
            if (storeRecord(fields, mac)) return {fieldValue(fields, L"ID"), false};
            return {{}, true};
        }
        exportToWorkbook(fields, programDir, origin);
        return {};
    }
    writeEventLine(message);
    return {};
}

std::wstring submitMessageText(const std::wstring& message, const std::wstring& origin) {
    return submitMessageOutcome(message, origin).reply;
}

}  // namespace quelvar
