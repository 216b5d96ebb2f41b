#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files.h"
#include "platform/status.h"

namespace quelvar {

// The undo file's name in the program folder; a switch's folder never takes
// it (mac_folder.h).
inline constexpr const char* undoFileName = "quelvar.undo";

// The lines filed for the datagram in hand, so that they are taken back
// whole when one of them fails, or at the next start after the process was
// killed midway: before each append its file and that file's size go to the
// undo file and to a list here. The undo file is kept open and never
// flushed: a killed process's writes stand, a power cut is not guarded
// against. runCollector owns it; the writers note their appends in it, and
// the receive loop finishes or takes back each datagram.
class FilingBatch final : public platform::AppendWatch {
public:
    // What the undo file held at start.
    struct Leftover {
        // Files an unfinished datagram had lengthened, cut back to their size before it.
        std::vector<std::string> takenBack;
        // Files of an unfinished datagram that could not be cut back.
        std::vector<Status> failures;
        // Paths it names that are no record file below the record bases,
        // left as they are: how many, and the first.
        std::uint64_t refused = 0;
        std::string firstRefused;
        // The file is larger than it is read (undoReadLimit, undo_reading.h).
        bool cutShort = false;
    };

    // Opens the undo file, made when missing, and takes back what an
    // unfinished datagram left in the record files below `recordBases`
    // (the data root, the program's rec), never any other file. Fails when
    // the file cannot be opened or set right, or is no regular file.
    // Without it, the list alone is kept.
    [[nodiscard]] Status open(const std::string& path, const std::vector<std::string>& recordBases, Leftover& leftover);

    [[nodiscard]] Status beforeAppend(const std::string& path, std::uint64_t sizeBefore) override;

    // Every line of the datagram is written, so none is taken back. Its
    // repeat key and answer stay in the undo file until the next datagram
    // is filed: a copy sent again after a kill before the answer went out
    // is answered, not filed twice. On failure the datagram must be taken
    // back.
    [[nodiscard]] Status finish(std::string_view key, std::string_view answer);

    // Cuts each file of the datagram back to its size before it; the files
    // that could not be are in `failures`.
    void takeBack(std::vector<Status>& failures);

    // The repeat key and answer of the datagram last filed before the
    // start, when it was filed whole: it may not have been answered.
    bool filedBeforeStart(std::string& key, std::string& answer) const;

private:
    struct Entry {
        std::string path;
        std::uint64_t size = 0;
    };

    [[nodiscard]] Status empty();

    platform::LockedFile undo_;
    bool opened_ = false;
    std::vector<Entry> entries_;
    // The number of the datagram in hand, and the bytes of the undo file
    // that are its own.
    std::uint64_t datagram_ = 1;
    std::uint64_t used_ = 0;
    // Why the undo file could not be emptied after a take-back: until it
    // is, nothing is filed.
    Status stuck_;
    bool filedBefore_ = false;
    std::string lastKey_;
    std::string lastAnswer_;
};

}  // namespace quelvar
