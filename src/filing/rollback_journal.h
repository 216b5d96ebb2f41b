#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/files.h"
#include "platform/status.h"
#include "xls/append.h"

namespace quelvar {

// A change of one or two files that a crash at any moment leaves made
// whole or not at all, as SQLite's rollback journal does (FORMAT.md, "The
// journal"): what the change will overwrite, and each file's size, go into
// a journal beside the files, which is on the disk before either file is
// touched; then the files are changed and put on the disk; then the
// journal is removed. A journal found later is undone: the old bytes go
// back, each file to its old size, and a file that was not there goes.

// The change of one file.
struct FileChangePlan {
    std::string path;
    platform::LockedFile* file = nullptr;  // held by the caller; one that was not there, made here
    bool existed = true;
    std::uint64_t sizeBefore = 0;
    std::uint64_t sizeAfter = 0;
    std::vector<xls::FileEdit> edits;  // each with the bytes it overwrites
    std::string cutAway;               // the bytes from sizeAfter on, where the file shrinks
    // Others may append to it while the journal waits to be undone (a
    // queue): its size is neither checked nor put back.
    bool growing = false;
};

// What a journal says of one file: whether it was there, its size before
// and after, and the bytes to put back.
struct JournalFile {
    bool existed = true;
    bool growing = false;
    std::uint64_t sizeBefore = 0;
    std::uint64_t sizeAfter = 0;
    std::vector<std::pair<std::uint64_t, std::string>> oldBytes;
};

std::string encodeJournal(const std::vector<FileChangePlan>& files);
// False for a journal cut short, damaged, or not one at all.
bool decodeJournal(std::string_view bytes, std::vector<JournalFile>& files);

// Makes the change, or none of it. On failure it is undone at once where
// that can be done, and otherwise by the next undoJournal.
Status changeUnderJournal(const std::string& journal, std::vector<FileChangePlan>& files);

// A file a journal speaks of, in the order the change gave them: held by
// the caller, or null to be opened here.
struct JournalTarget {
    std::string path;
    platform::LockedFile* file = nullptr;
};

// Undoes what a journal left by a crash speaks of and removes it; nothing
// when there is none. A journal that does not read whole was cut short
// before any file was touched: it is only removed. `unsupported` when the
// files cannot be the ones it speaks of (their sizes do not fit it): then
// they and the journal are left as they are. A file the journal says was
// not there is removed, and a caller's handle on it closed.
Status undoJournal(const std::string& journal, const std::vector<JournalTarget>& targets);

}  // namespace quelvar
