#include "filing/filing_batch.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>

#include "core/text.h"
#include "filing/record_writer.h"
#include "filing/special_numbers.h"
#include "message/record.h"
#include "platform/file_faults.h"
#include "support/temp_folder.h"

namespace quelvar {
namespace {

namespace fs = std::filesystem;
using platform::FaultAction;
using platform::FileChange;
using platform::FileStep;

// A call of one leg as the encrypted mode files it: the leg's text line,
// then the merged call's text and CSV lines.
const std::wstring firstCall =
    L"RECORD:ID=1&RID=1-1&CPN=8001&CDPN=8002&TYPE=OU&ROUTE=IP&MAC=00-11&"
    L"TIME-S=240315093000&DURATION=75&TRUNKN=3&";
const std::wstring secondCall =
    L"RECORD:ID=2&RID=2-1&CPN=8001&CDPN=8002&TYPE=OU&ROUTE=IP&MAC=00-11&"
    L"TIME-S=240315093000&DURATION=20&TRUNKN=3&";

// A program folder with the record writer of the encrypted mode and a batch
// over the undo file in it, as a start of the collector makes them.
class FilingBatchTest : public testing::Test {
protected:
    FilingBatchTest() {
        settings.programDir = fromAnsi(folder.path().string());
        settings.programDirAnsi = folder.path().string();
    }
    ~FilingBatchTest() override { platform::setFaultHook({}); }

    std::string undoPath() const { return folder / undoFileName; }
    std::vector<std::string> recordBases() const { return {folder / "rec"}; }

    // A start: the batch opened over the undo file.
    FilingBatch::Leftover start(FilingBatch& batch) {
        FilingBatch::Leftover leftover;
        EXPECT_TRUE(batch.open(undoPath(), recordBases(), leftover).ok());
        return leftover;
    }

    // Files the call's leg and its merged record as the receive loop does;
    // whether every line of it was written.
    bool file(FilingBatch& batch, const std::wstring& text, const std::string& key) {
        RecordWriter writer(settings, classifier, &batch);
        Record leg;
        parseRecord(text, leg);
        Record merged = leg;
        merged.set(Field::count, L"1");
        const StoredRecord legLines = writer.storeRecord(leg);
        const StoredRecord mergedLines = writer.storeRecord(merged);
        std::vector<Status> failures;
        return legLines.text.ok() && mergedLines.text.ok() && mergedLines.csv.ok() && batch.finish(key, key).ok() &&
               batch.commit(failures).ok();
    }

    // The record files and what each holds.
    std::map<std::string, std::string> recordFiles() const {
        std::map<std::string, std::string> files;
        for (const auto& entry : fs::recursive_directory_iterator(folder.path() / "rec"))
            if (entry.is_regular_file())
                files[fs::relative(entry.path(), folder.path()).generic_string()] = readBytes(entry.path());
        return files;
    }

    TempFolder folder;
    Settings settings;
    Classifier classifier{L"", specialNumberFilePath(folder.path().string())};
};

TEST_F(FilingBatchTest, AFailedLineTakesBackEveryLineOfItsDatagram) {
    FilingBatch batch;
    start(batch);
    ASSERT_TRUE(file(batch, firstCall, "1"));
    const auto before = recordFiles();
    // Each of the datagram's three appends fails in turn, the merged call's
    // CSV line last of all.
    for (const std::string failing : {"old/CDR_2024_03_15.txt", "new/CDR_2024_03_15.txt", "new/CDR_2024_03_15.csv"}) {
        SCOPED_TRACE(failing);
        platform::setFaultHook([&](const FileChange& change) {
            std::string path = change.path;
            std::replace(path.begin(), path.end(), '\\', '/');
            return change.step == FileStep::write && path.ends_with(failing) ? FaultAction::fail : FaultAction::proceed;
        });
        EXPECT_FALSE(file(batch, secondCall, "2"));
        std::vector<Status> failures;
        batch.takeBack(failures);
        platform::setFaultHook({});
        EXPECT_TRUE(failures.empty());
        EXPECT_EQ(recordFiles(), before);
    }
    // The switch's copy is filed once.
    ASSERT_TRUE(file(batch, secondCall, "2"));
    for (const auto& [name, contents] : recordFiles()) {
        const std::string old = before.at(name);
        EXPECT_EQ(contents.substr(0, old.size()), old) << name;
        EXPECT_EQ(std::count(contents.begin() + static_cast<std::ptrdiff_t>(old.size()), contents.end(), '\n'), 1)
            << name;
    }
}

// The undo file is no list of files anyone may cut: only the record
// writers' own files below the record bases are.
TEST_F(FilingBatchTest, AStartCutsBackOnlyRecordFilesBelowTheRecordBases) {
    const auto under = [&](const std::string& names) {
        std::string path = folder / names;
        std::replace(path.begin(), path.end(), '/', platform::pathSeparator);
        return path;
    };
    const struct {
        std::string path;
        bool cut;
    } cases[] = {
        {under("rec/00-11/old/CDR_2024_03_15.txt"), true},
        {under("rec/err/00-11/new/CDR_2024_03_15.csv"), true},
        {under("rec/00-11/new/CDR_2024_03_15.txt"), true},
        {under("outside.txt"), false},
        {under("rec/202403.xls"), false},
        {under("rec/00-11/old/notes.txt"), false},
        {under("rec/00-11/new/../../../outside.txt"), false},
        {under("rec/00-11/other/CDR_2024_03_15.txt"), false},
    };
    std::string undo;
    for (const auto& each : cases) {
        fs::create_directories(fs::path(each.path).parent_path());
        writeBytes(each.path, "0123456789");
        std::string hex;
        for (const char c : each.path) {
            constexpr char digits[] = "0123456789abcdef";
            hex += digits[static_cast<unsigned char>(c) >> 4];
            hex += digits[static_cast<unsigned char>(c) & 15];
        }
        undo += "U 7 4 " + hex + "\n";
    }
    writeBytes(undoPath(), undo);
    FilingBatch batch;
    const FilingBatch::Leftover leftover = start(batch);
    for (const auto& each : cases) EXPECT_EQ(readBytes(each.path), each.cut ? "0123" : "0123456789") << each.path;
    EXPECT_EQ(leftover.takenBack.size(), 3u);
    EXPECT_EQ(leftover.refused, 5u);
    EXPECT_EQ(leftover.firstRefused, under("outside.txt"));
    EXPECT_FALSE(leftover.cutShort);
    EXPECT_EQ(readBytes(undoPath()), "");
}

TEST_F(FilingBatchTest, AKillAtAnyStepLeavesEveryLineOnceAfterTheStartAndTheRetry) {
    // How the files stand with both calls filed once, and how many changes
    // the second takes.
    std::map<std::string, std::string> once;
    std::size_t changes = 0;
    {
        FilingBatch batch;
        start(batch);
        ASSERT_TRUE(file(batch, firstCall, "1"));
        platform::setFaultHook([&](const FileChange&) {
            ++changes;
            return FaultAction::proceed;
        });
        ASSERT_TRUE(file(batch, secondCall, "2"));
        platform::setFaultHook({});
        once = recordFiles();
    }
    // An append and a flush for each of three files (noted already by the
    // first call's commit), and the D line's write and flush.
    EXPECT_EQ(changes, 8u);
    for (std::size_t nth = 1; nth <= changes + 1; ++nth) {
        SCOPED_TRACE("killed at change " + std::to_string(nth));
        fs::remove_all(folder.path() / "rec");
        fs::remove(undoPath());
        {
            FilingBatch batch;
            start(batch);
            ASSERT_TRUE(file(batch, firstCall, "1"));
            std::size_t seen = 0;
            platform::setFaultHook(
                [&](const FileChange&) { return ++seen == nth ? FaultAction::crash : FaultAction::proceed; });
            static_cast<void>(file(batch, secondCall, "2"));
            platform::setFaultHook({});
        }
        // The next start, and the switch sending the call again unless the
        // collector remembers having filed it.
        FilingBatch batch;
        const FilingBatch::Leftover leftover = start(batch);
        EXPECT_TRUE(leftover.failures.empty());
        const auto& before = batch.filedBeforeStart();
        const bool filed = before.size() == 1 && before[0].key == "2";
        EXPECT_EQ(filed, nth >= changes) << "the D line's write is the next to last change, its flush the last";
        if (filed)
            EXPECT_EQ(before[0].answer, "2");
        else
            ASSERT_TRUE(file(batch, secondCall, "2"));
        EXPECT_EQ(recordFiles(), once);
    }
}

TEST_F(FilingBatchTest, StartCutsBackOnlyWhatIsLongerThanNoted) {
    // Record files, as only they are ever cut.
    const fs::path longer = folder.path() / "rec" / "00-11" / "old" / "CDR_2024_03_15.txt";
    const fs::path shorter = folder.path() / "rec" / "00-11" / "new" / "CDR_2024_03_15.txt";
    fs::create_directories(longer.parent_path());
    fs::create_directories(shorter.parent_path());
    const auto hex = [](const std::string& bytes) {
        std::string text;
        for (const char c : bytes) {
            static const char digits[] = "0123456789abcdef";
            text += digits[static_cast<unsigned char>(c) >> 4];
            text += digits[static_cast<unsigned char>(c) & 15];
        }
        return text;
    };
    // What a kill leaves: the lines of the datagram in hand, and behind them
    // what is left of older ones, which is not read: the rest of a line, or
    // a whole line of an older datagram. Either would cut `longer` to 0.
    const std::string older[] = {" 0 " + hex(longer.string()) + "\n", "U 6 0 " + hex(longer.string()) + "\n"};
    for (const std::string& tail : older) {
        SCOPED_TRACE(tail);
        writeBytes(longer, "kept\r\nhalf a datagram\r\n");
        writeBytes(shorter, "ab");
        writeBytes(undoPath(), "U 7 6 " + hex(longer.string()) + "\nU 7 5 " + hex(shorter.string()) + "\nU 7 0 " +
                                   hex((folder.path() / "rec" / "00-11" / "old" / "CDR_2024_03_16.txt").string()) +
                                   "\n" + tail + "U 7 0 " + hex(longer.string()) + "\n");
        FilingBatch batch;
        const FilingBatch::Leftover leftover = start(batch);
        EXPECT_EQ(leftover.takenBack, std::vector<std::string>{longer.string()});
        EXPECT_TRUE(leftover.failures.empty());
        EXPECT_EQ(readBytes(longer), "kept\r\n");
        EXPECT_EQ(readBytes(shorter), "ab");
        EXPECT_EQ(readBytes(undoPath()), "");
    }
}

#ifndef _WIN32
TEST_F(FilingBatchTest, RefusesAnUndoFileThatIsNoRegularFile) {
    const fs::path target = folder.path() / "target";
    writeBytes(target, "U 0 00\n");
    const struct {
        const char* what;
        std::function<void()> lay;
        const char* reason;
    } cases[] = {
        {"a link", [&] { fs::create_symlink(target, undoPath()); }, "A symbolic link, which is not followed"},
        {"a folder", [&] { fs::create_directory(undoPath()); }, "Is a directory"},
        {"a pipe", [&] { ASSERT_EQ(mkfifo(undoPath().c_str(), 0600), 0); }, "Not a regular file"},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(each.what);
        fs::remove_all(undoPath());
        each.lay();
        FilingBatch batch;
        FilingBatch::Leftover leftover;
        const Status opened = batch.open(undoPath(), recordBases(), leftover);
        EXPECT_FALSE(opened.ok());
        EXPECT_EQ(opened.subject(), undoPath());
        EXPECT_EQ(opened.reason(), each.reason);
        EXPECT_EQ(readBytes(target), "U 0 00\n");
    }
}
#endif

}  // namespace
}  // namespace quelvar
