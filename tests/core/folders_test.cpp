#include "core/folders.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <filesystem>

#include "support/temp_folder.h"

namespace quelvar {
namespace {

namespace fs = std::filesystem;

// What the settings tell apart: made, a file on the way, anything else.
std::string outcome(const Status& status) {
    if (status.ok()) return "ok";
    return status.is(Status::Code::exists) ? "a name on the way exists" : "failed";
}

TEST(GetProgramDir, IsTheFolderOfTheRunningExecutable) {
#ifdef _WIN32
    wchar_t name[MAX_PATH];
    const fs::path self(std::wstring(name, GetModuleFileNameW(nullptr, name, MAX_PATH)));
#else
    const fs::path self = fs::read_symlink("/proc/self/exe");
#endif
    EXPECT_EQ(getProgramDir(), self.parent_path().wstring());
}

TEST(EnsureFolderPath, MakesTheMissingFoldersOfAChain) {
    TempFolder root;
    const std::wstring chain = root.path().wstring() + L"/A/B/C";
    fs::create_directory(root.path() / "A");
    EXPECT_EQ(outcome(ensureFolderPath(chain)), "ok");
    EXPECT_TRUE(fs::is_directory(root.path() / "A/B/C"));
    EXPECT_EQ(outcome(ensureFolderPath(chain)), "ok");
    EXPECT_EQ(outcome(ensureFolderPath(chain + L"/")), "ok");
}

TEST(EnsureFolderPath, TellsAFileOnTheWayFromOtherFailures) {
    TempFolder root;
    fs::create_directory(root.path() / "A");
    writeBytes(root.path() / "A/B", "file");
    EXPECT_EQ(outcome(ensureFolderPath(root.path().wstring() + L"/A/B/C")), "a name on the way exists");
    EXPECT_EQ(outcome(ensureFolderPath(root.path().wstring() + L"/A/B")), "a name on the way exists");
    EXPECT_EQ(outcome(ensureFolderPath(L"")), "failed");
#ifdef _WIN32
    EXPECT_EQ(outcome(ensureFolderPath(root.path().wstring() + L"\\A\\bad<name")), "failed");
#else
    fs::permissions(root.path() / "A", fs::perms::owner_read | fs::perms::owner_exec);
    if (geteuid() != 0) {
        EXPECT_EQ(outcome(ensureFolderPath(root.path().wstring() + L"/A/X")), "failed");
    }
    EXPECT_EQ(outcome(ensureFolderPath(L"/proc/quelvar-test")), "failed");
#endif
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
