#pragma once
#include <string>

#include "core/settings.h"
#include "filing/classification.h"
#include "filing/filing_batch.h"
#include "filing/switch_folders.h"
#include "message/record.h"
#include "platform/status.h"

namespace quelvar {

// What became of a record's lines: its text line (which decides whether the
// record may be acknowledged) and, for a new-format record, its CSV line.
struct StoredRecord {
    Status text;
    Status csv;
    // Its start names no day of the calendar: filed under the err tree.
    bool noSuchDay = false;
};

// The record writer of the encrypted mode: files the records of switches
// into their daily files under the data root (or <programDir>/rec), noting
// each append in the batch of the datagram in hand when it has one. A
// switch new to its base gets a folder only when `folders` (if any) grants it.
class RecordWriter {
public:
    RecordWriter(const Settings& settings, Classifier& classifier, FilingBatch* batch = nullptr,
                 SwitchFolders* folders = nullptr)
        : settings_(settings), classifier_(classifier), batch_(batch), folders_(folders) {}

    // Files one record that carries a MAC: one with COUNT as a text and a
    // CSV line under <mac>/new, one without as a text line under <mac>/old,
    // one lacking a required field or dated a day no calendar has under the
    // err tree. A record held back by
    // the type filter counts as written.
    StoredRecord storeRecord(const Record& record);

private:
    const Settings& settings_;
    Classifier& classifier_;
    FilingBatch* batch_;
    SwitchFolders* folders_;
};

}  // namespace quelvar
