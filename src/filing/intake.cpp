#include "filing/intake.h"

#include "core/format.h"
#include "core/text.h"
#include "filing/record_files.h"

namespace quelvar {

Status Intake::submitMessage(const Record& record, std::wstring_view text, std::wstring_view& reply, bool* filed) {
    reply = {};
    if (filed != nullptr) *filed = false;
    if (!record.isRecord()) {
        // The sender's text behind a head of the collector's own: it never
        // passes for a line the collector wrote.
        network_.write(NetworkLine::other, formatText(L"not a record %s:%d [%s]\r\n", fromAnsi(network_.address()),
                                                      network_.port(), shownPayload(text)));
        return {};
    }
    if (record[Field::mac].empty()) {
        const Status exported = workbook_.exportToWorkbook(record);
        if (!exported.ok()) network_.write(NetworkLine::other, workbookErrorLine(exported));
        if (filed != nullptr) *filed = exported.ok();
        return {};
    }
    const StoredRecord stored = records_.storeRecord(record);
    // Told once for the line as it came, not again for the merged call.
    if (stored.noSuchDay && stored.text.ok() && !text.empty())
        network_.write(NetworkLine::other, filedWithoutDay(record[Field::rid], record[Field::timeStart]));
    if (!stored.text.ok()) network_.write(NetworkLine::notWritten, recordNotWritten(stored.text));
    if (!stored.csv.ok()) network_.write(NetworkLine::notWritten, recordNotWritten(stored.csv));
    if (!stored.text.ok()) return stored.text;
    reply = record[Field::id];
    if (filed != nullptr) *filed = stored.csv.ok();
    return stored.csv;
}

}  // namespace quelvar
