#include "filing/intake.h"

#include "core/format.h"
#include "core/text.h"
#include "filing/record_files.h"

namespace quelvar {

Status Intake::submitMessage(const Record& record, std::wstring_view text, std::wstring_view& reply) {
    reply = {};
    if (!record.isRecord()) {
        log_.writeEventLine(escapeControlCharacters(text));
        return {};
    }
    if (record[Field::mac].empty()) {
        if (const Status exported = workbook_.exportToWorkbook(record); !exported.ok())
            log_.writeEventLine(workbookErrorLine(exported));
        return {};
    }
    const StoredRecord stored = records_.storeRecord(record);
    // Told once for the line as it came, not again for the merged call.
    if (stored.noSuchDay && stored.text.ok() && !text.empty())
        log_.writeEventLine(filedWithoutDay(record[Field::rid], record[Field::timeStart]));
    if (!stored.text.ok()) log_.writeEventLine(recordNotWritten(stored.text));
    if (!stored.csv.ok()) log_.writeEventLine(recordNotWritten(stored.csv));
    if (!stored.text.ok()) return stored.text;
    reply = record[Field::id];
    return stored.csv;
}

}  // namespace quelvar
