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

// The lines filed for the datagrams in hand, so that they are taken back
// whole when one of them fails, or at the next start after the process was
// killed or the power was cut midway. The datagrams received together form
// a batch that is committed at once: every file written is put on the disk,
// then the batch's "filed" mark, and only then may their answers go out.
// Before a file's first line of a batch reaches the file, its path and size
// then are in the undo file and, with syncing on, on the disk, so that no
// line the undo file does not guard can be on the disk. runCollector owns
// it; the writers append through it, and the receive loop finishes or takes
// back each datagram and commits each batch.
class FilingBatch final : public platform::AppendWatch {
public:
    // What the undo file held at start.
    struct Leftover {
        // Files an unfinished batch had lengthened, cut back to their size before it.
        std::vector<std::string> takenBack;
        // Files of an unfinished batch that could not be cut back.
        std::vector<Status> failures;
        // Paths it names that are no record file below the record bases,
        // left as they are: how many, and the first.
        std::uint64_t refused = 0;
        std::string firstRefused;
        // The file is larger than it is read (undoReadLimit, undo_reading.h).
        bool cutShort = false;
    };

    // A datagram filed whole: its repeat key and answer.
    struct Filed {
        std::string key;
        std::string answer;
    };

    // Opens the undo file, made when missing, and takes back what an
    // unfinished batch left in the record files below `recordBases` (the
    // data root, the program's rec), never any other file. Fails when the
    // file cannot be opened or set right, or is no regular file. Without
    // it, the list alone is kept.
    [[nodiscard]] Status open(const std::string& path, const std::vector<std::string>& recordBases, Leftover& leftover);

    // With syncing off nothing is put on the disk on purpose: a kill still
    // loses nothing, a power cut may (storage with a cache of its own that
    // survives one).
    void setSyncing(bool on) { syncing_ = on; }
    bool syncing() const { return syncing_; }

    // Appends the bytes (and the header first to an empty file) as
    // platform::appendWithHeader does, noting the file for the datagram in
    // hand and the batch; the file is kept open while it is the same.
    [[nodiscard]] Status append(const std::string& path, std::string_view header, std::string_view bytes);

    [[nodiscard]] Status beforeAppend(const std::string& path, std::uint64_t sizeBefore) override;

    // The folders from `deepest` up to `root` may have been made now: their
    // names go to the disk with the batch.
    void foldersMade(std::string_view root, const std::string& deepest);

    // Every line of the datagram is written, so none of it is taken back
    // unless the batch fails. Its repeat key and answer go to the undo file
    // with the batch's mark: a copy sent again after a kill before the
    // answer went out is answered, not filed twice.
    [[nodiscard]] Status finish(std::string_view key, std::string_view answer);

    // Cuts each file of the datagram in hand back to its size before it;
    // the files that could not be are in `failures`. The batch's other
    // datagrams stay.
    void takeBack(std::vector<Status>& failures);

    // The batch's files on the disk, then its mark: on success every
    // finished datagram of the batch may be answered. On failure none may:
    // each of their files is cut back to its size before the batch (the
    // files that could not be are in `failures`).
    [[nodiscard]] Status commit(std::vector<Status>& failures);

    // Nothing came for a while: the files kept open are closed, so that a
    // quiet collector holds none (a file system can then be made read-only).
    void rest() { files_.closeAll(); }

    // The datagrams of the batch last committed before the start: they may
    // not have been answered.
    const std::vector<Filed>& filedBeforeStart() const { return filedBefore_; }

private:
    struct Entry {
        std::string path;
        std::uint64_t size = 0;
    };
    // A file of the batch: its size before the batch and now.
    struct Touched {
        std::string path;
        std::uint64_t before = 0;
        std::uint64_t now = 0;
    };

    [[nodiscard]] Status empty();
    [[nodiscard]] Status note(const std::string& path, std::uint64_t size);
    void rollBack(std::vector<Status>& failures);

    platform::LockedFile undo_;
    platform::AppendingFiles files_;
    bool opened_ = false;
    bool syncing_ = true;
    // The datagram in hand's files, each with its size before the datagram.
    std::vector<Entry> entries_;
    // The batch's files, its finished datagrams, and the folders in which
    // it may have made a file.
    std::vector<Touched> touched_;
    std::vector<Filed> finished_;
    std::vector<std::string> folders_;
    // Files the last commit noted for this batch already, at their sizes then.
    std::vector<Entry> noted_;
    // The number of the batch in hand, and the bytes of the undo file that
    // are read at a start.
    std::uint64_t batch_ = 1;
    std::uint64_t used_ = 0;
    // Why the undo file could not be emptied after a failed commit: until
    // it is, nothing is filed.
    Status stuck_;
    std::vector<Filed> filedBefore_;
};

}  // namespace quelvar
