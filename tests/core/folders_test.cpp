#include "core/folders.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>

#include "support/temp_folder.h"

namespace quelvar {
namespace {

namespace fs = std::filesystem;

TEST(GetProgramDir, IsTheFolderOfTheRunningExecutable) {
    const fs::path self = fs::read_symlink("/proc/self/exe");
    EXPECT_EQ(getProgramDir(), self.parent_path().wstring());
}

TEST(EnsureFolderPath, MakesTheMissingFoldersOfAChain) {
    TempFolder root;
    const std::wstring chain = root.path().wstring() + L"/A/B/C";
    fs::create_directory(root.path() / "A");
    EXPECT_EQ(ensureFolderPath(chain), FolderResult::ok);
    EXPECT_TRUE(fs::is_directory(root.path() / "A/B/C"));
    EXPECT_EQ(ensureFolderPath(chain), FolderResult::ok);
    EXPECT_EQ(ensureFolderPath(chain + L"/"), FolderResult::ok);
}

TEST(EnsureFolderPath, TellsAFileOnTheWayFromOtherFailures) {
    TempFolder root;
    fs::create_directory(root.path() / "A");
    writeBytes(root.path() / "A/B", "file");
    EXPECT_EQ(ensureFolderPath(root.path().wstring() + L"/A/B/C"), FolderResult::alreadyExists);
    EXPECT_EQ(ensureFolderPath(root.path().wstring() + L"/A/B"), FolderResult::alreadyExists);
    EXPECT_EQ(ensureFolderPath(L""), FolderResult::failed);
    fs::permissions(root.path() / "A", fs::perms::owner_read | fs::perms::owner_exec);
    if (geteuid() != 0) {
        EXPECT_EQ(ensureFolderPath(root.path().wstring() + L"/A/X"), FolderResult::failed);
    }
    EXPECT_EQ(ensureFolderPath(L"/proc/quelvar-test"), FolderResult::failed);
}

TEST(EnsureFolder, MakesOneLevelOnly) {
    TempFolder root;
    ensureFolder(root / "missing/child");
    EXPECT_FALSE(fs::exists(root.path() / "missing"));
    ensureFolder(root / "one");
    EXPECT_TRUE(fs::is_directory(root.path() / "one"));
    writeBytes(root.path() / "file", "x");
    ensureFolder(root / "file");
    EXPECT_TRUE(fs::is_regular_file(root.path() / "file"));
}

}  // namespace
}  // namespace quelvar
