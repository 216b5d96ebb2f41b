#pragma once
#include <string>

#include "filing/classification.h"
#include "filing/filing_batch.h"
#include "filing/switch_folders.h"
#include "message/plain_fields.h"
#include "platform/status.h"

namespace quelvar {

// What became of a plain record's three lines; the record may be
// acknowledged only when all of them were written.
struct StoredPlainRecord {
    Status newText;
    Status csv;
    Status oldText;
    // Its start names no day of the calendar: filed under rec/err.
    bool noSuchDay = false;

    bool written() const { return newText.ok() && csv.ok() && oldText.ok(); }
};

// The record writer of the plain mode: files 8-bit records byte for byte
// into three daily files of their switch under <programDir>/rec/<MAC>, or
// rec/err/<MAC> for a record dated a day no calendar has.
class PlainRecordWriter {
public:
    // The program's folder in the 8-bit code page of file names. Each append
    // is noted in the batch of the datagram in hand when there is one. A
    // switch new to rec gets a folder only when `folders` (if any) grants it.
    PlainRecordWriter(std::string programFolder, Classifier& classifier, FilingBatch* batch = nullptr,
                      SwitchFolders* folders = nullptr)
        : programFolder_(std::move(programFolder)), classifier_(classifier), batch_(batch), folders_(folders) {}

    // A record without MAC is skipped: nothing is written, nothing fails.
    StoredPlainRecord storePlainRecord(const PlainFields& fields);

private:
    Status appendLine(const std::string& switchFolder, std::string_view switchName, const std::string& subFolder,
                      const std::string& file, const std::string& header, const std::string& line) const;

    std::string programFolder_;
    Classifier& classifier_;
    FilingBatch* batch_;
    SwitchFolders* folders_;
};

}  // namespace quelvar
