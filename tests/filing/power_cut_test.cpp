#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "core/text.h"
#include "filing/filing_batch.h"
#include "filing/record_writer.h"
#include "filing/special_numbers.h"
#include "message/datagram.h"
#include "message/merged_call.h"
#include "platform/file_faults.h"
#include "support/temp_folder.h"

namespace quelvar {
namespace {

namespace fs = std::filesystem;
using platform::FaultAction;
using platform::FileChange;
using platform::FileStep;

// One change the collector made to a file, as the fault hook saw it, or the
// moment a batch's answers could leave (`answered` holds their datagrams).
struct Step {
    FileStep step = FileStep::write;
    std::string path;
    std::uint64_t offset = 0;
    std::string bytes;
    std::vector<int> answered;
};

// Datagram n is a call of two legs of switch 00-1<n % 2>, the first leg in
// the old format and the second in the new; every line filed for it (legs
// and merged call, in every file) carries its calling number 91<n>0.
std::wstring callText(int n) {
    const std::wstring cpn = L"91" + std::to_wstring(n) + L"0";
    const std::wstring mac = L"00-1" + std::to_wstring(n % 2);
    const std::wstring rid = std::to_wstring(20 + n);
    return L"RECORD:ID=" + std::to_wstring(2 * n + 1) + L"&RID=" + rid + L"-1&CPN=" + cpn +
           L"&CDPN=8002&TYPE=OU&ROUTE=IP&MAC=" + mac + L"&TIME-S=240315093000&DURATION=75&TRUNKN=3&\nRECORD:ID=" +
           std::to_wstring(2 * n + 2) + L"&RID=" + rid + L"-2&CPN=" + cpn +
           L"&CDPN=8003&COUNT=2&TYPE=OU&ROUTE=IP&MAC=" + mac +
           L"&TIME-S=240315093100&TIME-E=240315093200&DURATION=60&TRUNKN=3&";
}

std::string tokenOf(int n) { return "91" + std::to_string(n) + "0"; }

std::string folderOf(const std::string& path) { return fs::path(path).parent_path().string(); }

std::size_t countOf(const std::string& text, const std::string& token) {
    std::size_t count = 0;
    for (std::size_t at = text.find(token); at != std::string::npos; at = text.find(token, at + 1)) ++count;
    return count;
}

class PowerCutTest : public testing::Test {
protected:
    PowerCutTest() {
        settings.programDir = fromAnsi(folder.path().string());
        settings.programDirAnsi = folder.path().string();
    }
    ~PowerCutTest() override { platform::setFaultHook({}); }

    std::string undoPath() const { return folder / undoFileName; }

    // Files a datagram's legs and its merged call as the receive loop does.
    static bool file(FilingBatch& batch, RecordWriter& writer, int n) {
        const std::wstring text = callText(n);
        Datagram datagram;
        decodeDatagram(text, datagram);
        bool written = true;
        for (const DatagramLine& line : datagram.lines) written = writer.storeRecord(line.record).text.ok() && written;
        MergedCall call;
        mergeCall(datagram.lines, CalendarTime{2024, 3, 15, 10, 0, 0}, call);
        const StoredRecord merged = writer.storeRecord(call.record());
        written = merged.text.ok() && merged.csv.ok() && written;
        if (written && batch.finish("k" + std::to_string(n), std::to_string(n)).ok()) return true;
        std::vector<Status> failures;
        batch.takeBack(failures);
        return false;
    }

    TempFolder folder;
    Settings settings;
    Classifier classifier{L"", specialNumberFilePath(folder.path().string())};
};

// The files as a power cut before step `cut` leaves them: what was synced,
// and with `recordsWritten` the record files as written (the system may
// have put any page of them on the disk, while the undo file's last
// changes are lost).
std::map<std::string, std::string> afterCut(const std::vector<Step>& steps, std::size_t cut, bool recordsWritten,
                                            const std::string& undo) {
    std::map<std::string, std::string> written;
    std::map<std::string, std::string> synced;
    std::set<std::string> named;  // files whose name is on the disk
    named.insert(undo);
    for (std::size_t index = 0; index < cut; ++index) {
        const Step& step = steps[index];
        switch (step.step) {
            case FileStep::write: {
                std::string& bytes = written[step.path];
                if (bytes.size() < step.offset + step.bytes.size()) bytes.resize(step.offset + step.bytes.size());
                bytes.replace(step.offset, step.bytes.size(), step.bytes);
                break;
            }
            case FileStep::resize:
                written[step.path].resize(step.offset);
                break;
            case FileStep::flush:
                synced[step.path] = written[step.path];
                break;
            case FileStep::flushFolder:
                for (const auto& [path, contents] : written)
                    if (folderOf(path) == step.path) named.insert(path);
                break;
            default:
                break;
        }
    }
    std::map<std::string, std::string> disk;
    for (const auto& [path, contents] : written) {
        if (recordsWritten && path != undo)
            disk[path] = contents;
        else if (named.count(path) != 0)
            disk[path] = synced[path];
    }
    return disk;
}

TEST_F(PowerCutTest, EveryAnsweredCallIsWholeOnceAndNoUnansweredLineStandsAfterACutAtAnyStep) {
    // Three batches of calls; the fourth call fails at its last line and is
    // taken back alone.
    const std::vector<std::vector<int>> batches = {{0}, {1, 2, 3}, {4, 5}};
    const int failing = 3;
    fs::create_directories(folder.path() / "rec");
    std::vector<Step> steps;
    std::map<std::string, std::string> filedAtEnd;
    {
        FilingBatch batch;
        FilingBatch::Leftover leftover;
        ASSERT_TRUE(batch.open(undoPath(), {folder / "rec"}, leftover).ok());
        RecordWriter writer(settings, classifier, &batch);
        platform::setFaultHook([&](const FileChange& change) {
            if (change.step == FileStep::write && change.path.ends_with(".csv") &&
                countOf(std::string(change.bytes), tokenOf(failing)) != 0)
                return FaultAction::fail;
            steps.push_back({change.step, change.path, change.offset, std::string(change.bytes), {}});
            return FaultAction::proceed;
        });
        for (const std::vector<int>& calls : batches) {
            Step answers;
            for (const int n : calls)
                if (file(batch, writer, n)) answers.answered.push_back(n);
            std::vector<Status> failures;
            ASSERT_TRUE(batch.commit(failures).ok());
            answers.step = FileStep::remove;  // no change: the moment the answers leave
            steps.push_back(answers);
        }
        platform::setFaultHook({});
        for (const auto& entry : fs::recursive_directory_iterator(folder.path() / "rec"))
            if (entry.is_regular_file()) filedAtEnd[entry.path().string()] = readBytes(entry.path());
    }
    ASSERT_EQ(filedAtEnd.size(), 6u) << "old text, new text and CSV of two switches";
    for (const auto& [path, contents] : filedAtEnd) EXPECT_EQ(countOf(contents, tokenOf(failing)), 0u) << path;

    // Each file made in the burst has its name on the disk, up to the
    // record folder, before its first answer leaves.
    for (const auto& [path, contents] : filedAtEnd) {
        const auto firstWrite = std::find_if(steps.begin(), steps.end(), [&](const Step& step) {
            return step.step == FileStep::write && step.path == path;
        });
        const auto firstAnswer = std::find_if(firstWrite, steps.end(), [](const Step& step) {
            return step.step == FileStep::remove && !step.answered.empty();
        });
        for (std::string name = folderOf(path); name.size() >= (folder.path() / "rec").string().size();
             name = folderOf(name))
            EXPECT_TRUE(
                std::any_of(firstWrite, firstAnswer,
                            [&](const Step& step) { return step.step == FileStep::flushFolder && step.path == name; }))
                << name << " for " << path;
    }

    for (std::size_t cut = 0; cut <= steps.size(); ++cut) {
        std::set<int> answered;
        for (std::size_t index = 0; index < cut; ++index)
            answered.insert(steps[index].answered.begin(), steps[index].answered.end());
        for (const bool recordsWritten : {false, true}) {
            SCOPED_TRACE("cut before step " + std::to_string(cut) +
                         (recordsWritten ? ", record files as written" : ""));
            fs::remove_all(folder.path() / "rec");
            fs::remove(undoPath());
            for (const auto& [path, contents] : afterCut(steps, cut, recordsWritten, undoPath())) {
                fs::create_directories(fs::path(path).parent_path());
                writeBytes(path, contents);
            }
            // The start after the power came back.
            FilingBatch batch;
            FilingBatch::Leftover leftover;
            ASSERT_TRUE(batch.open(undoPath(), {folder / "rec"}, leftover).ok());
            EXPECT_TRUE(leftover.failures.empty());
            std::set<int> remembered;
            for (const FilingBatch::Filed& filed : batch.filedBeforeStart())
                remembered.insert(std::stoi(filed.key.substr(1)));
            for (const auto& [path, expected] : filedAtEnd) {
                const std::string contents = readBytes(path);
                EXPECT_TRUE(contents.empty() || contents.ends_with("\r\n")) << path << " ends in half a line";
                for (const std::vector<int>& calls : batches)
                    for (const int n : calls) {
                        // Answered: whole, once. Not answered: not there at
                        // all, unless the start remembers it as filed, so
                        // that the switch's copy is answered, not filed again.
                        const bool stands = answered.count(n) != 0 || remembered.count(n) != 0;
                        EXPECT_EQ(countOf(contents, tokenOf(n)), stands ? countOf(expected, tokenOf(n)) : 0u)
                            << path << ", call " << n;
                    }
            }
        }
    }
}

}  // namespace
}  // namespace quelvar
