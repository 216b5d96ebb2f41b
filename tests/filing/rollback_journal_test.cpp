#include "filing/rollback_journal.h"

#include <gtest/gtest.h>

#include "support/temp_folder.h"

namespace quelvar {
namespace {

std::vector<FileChangePlan> change() {
    std::vector<FileChangePlan> files(2);
    files[0] = {"book.xls", nullptr, true, 10, 14, {{2, "xy", "23"}, {10, "abcd", ""}}, {}, false};
    files[1] = {"book.xls.queue", nullptr, true, 20, 20, {{8, "\x02\0\0\0", std::string(4, '\0')}}, {}, true};
    return files;
}

TEST(RollbackJournal, ReadsBackOnlyWhole) {
    const std::string bytes = encodeJournal(change());
    std::vector<JournalFile> files;
    ASSERT_TRUE(decodeJournal(bytes, files));
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[0].sizeBefore, 10u);
    EXPECT_EQ(files[0].sizeAfter, 14u);
    EXPECT_FALSE(files[0].growing);
    EXPECT_TRUE(files[1].growing);
    // Bytes past the old end are cut away, not put back.
    EXPECT_EQ(files[0].oldBytes, (std::vector<std::pair<std::uint64_t, std::string>>{{2, "23"}}));
    for (std::size_t size = 0; size < bytes.size(); ++size)
        EXPECT_FALSE(decodeJournal(bytes.substr(0, size), files)) << "cut at " << size;
    for (std::size_t at = 0; at < bytes.size(); ++at) {
        std::string changed = bytes;
        changed[at] ^= 0x01;
        EXPECT_FALSE(decodeJournal(changed, files)) << "changed at " << at;
    }
}

TEST(RollbackJournal, PutsTheOldBytesBackOnlyIntoTheFilesItSpeaksOf) {
    TempFolder folder;
    const std::string book = folder / "book.xls";
    const std::string journal = folder / "book.xls-journal";
    std::vector<FileChangePlan> plan = change();
    plan[0].path = book;
    plan.resize(1);
    writeBytes(book, "0123456789");
    platform::LockedFile file;
    ASSERT_TRUE(file.open(book).ok());
    plan[0].file = &file;
    ASSERT_TRUE(changeUnderJournal(journal, plan).ok());
    file.close();
    EXPECT_EQ(readBytes(book), "01xy456789abcd");
    EXPECT_FALSE(platform::pathExists(journal));

    // A crash after the changes: the journal puts the file back.
    writeBytes(journal, encodeJournal(plan));
    ASSERT_TRUE(undoJournal(journal, {{book}}).ok());
    EXPECT_EQ(readBytes(book), "0123456789");
    EXPECT_FALSE(platform::pathExists(journal));
    // A journal cut short was written before anything else: it only goes.
    writeBytes(journal, encodeJournal(plan).substr(0, 20));
    ASSERT_TRUE(undoJournal(journal, {{book}}).ok());
    EXPECT_FALSE(platform::pathExists(journal));
    // A file of another size is not the one it speaks of: both stay as they are.
    writeBytes(journal, encodeJournal(plan));
    writeBytes(book, "another program's file");
    EXPECT_TRUE(undoJournal(journal, {{book}}).is(Status::Code::unsupported));
    EXPECT_EQ(readBytes(book), "another program's file");
    EXPECT_TRUE(platform::pathExists(journal));
}

}  // namespace
}  // namespace quelvar
