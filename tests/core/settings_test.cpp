#include "core/settings.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/temp_folder.h"
#include "support/today.h"

namespace quelvar {
namespace {

namespace fs = std::filesystem;

Settings loadFrom(const TempFolder& folder, const std::string& contents) {
    writeBytes(folder.path() / "Quelvar.ini", contents);
    Settings loaded;
    loaded.programDirAnsi = folder.path().string();
    loadSettings(folder / "Quelvar.ini", loaded);
    return loaded;
}

std::string todaysFileName() { return todayAs("CDR_%Y_%m_%d.txt"); }

TEST(LoadSettings, ReadsTheGrammarWithItsQuirks) {
    const struct {
        const char* contents;
        int encryptMode;
        const wchar_t* areaCode;
        const wchar_t* typeFilter;
    } cases[] = {
        {"", 1, L"", L""},
        {"ENCRYPT = 0\n", 0, L"", L""},
        {"ENCRYPT=00\r\n", 0, L"", L""},
        {"ENCRYPT=1\n", 1, L"", L""},
        {"ENCRYPT=\n", 1, L"", L""},
        {"encrypt=0\n", 1, L"", L""},
        {"ENCRYPT=0\nENCRYPT=1\n", 0, L"", L""},  // nothing sets it back to 1
        {"  AREACODE=0755\r\n", 1, L"0755", L""},
        {"AREACODE=0755", 1, L"0755", L""},
        {"AREACODE   =   0755\n", 1, L"0755", L""},
        {"AREACODE=075512345\n", 1, L"07551234", L""},
        {"AREACODE=01234567\n", 1, L"01234567", L""},
        {"AREACODE=010\nAREACODE=020\n", 1, L"020", L""},
        {"AREACODE\n", 1, L"", L""},
        {"TYPE=\n", 1, L"", L"\n"},
        {"TYPE=\r\n", 1, L"", L"\n"},
        {"TYPE=IN", 1, L"", L"IN"},
        {"TYPE = IN,OU\n", 1, L"", L"IN,OU\n"},
        {"TYPE\n", 1, L"", L""},
        {"TYPEX=IN\n", 1, L"", L"=IN\n"},  // the character after the key is never looked at
        {"\t TYPE=A B = C\n", 1, L"", L"A B=C\n"},
        {"[general]\n;ENCRYPT=0\n# AREACODE=1\n", 1, L"", L""},
#ifdef _WIN32
        {"AREACODE=0\xD6\xD0\n", 1, L"0中", L""},  // the ANSI code page of a Chinese Windows
#else
        {"AREACODE=0\xE4\xB8\xAD\n", 1, L"0中", L""},
#endif
    };
    for (const auto& each : cases) {
        TempFolder folder;
        const Settings loaded = loadFrom(folder, each.contents);
        const std::string label = testing::PrintToString(std::string(each.contents));
        EXPECT_EQ(loaded.encryptMode, each.encryptMode) << label;
        EXPECT_EQ(loaded.areaCode, each.areaCode) << label;
        EXPECT_EQ(loaded.typeFilter, each.typeFilter) << label;
        EXPECT_EQ(loaded.dataRoot, L"") << label;
    }
}

TEST(LoadSettings, MissingFileKeepsTheSettings) {
    Settings loaded;
    loaded.areaCode = L"010";
    loadSettings("/nonexistent/Quelvar.ini", loaded);
    EXPECT_EQ(loaded.encryptMode, 1);
    EXPECT_EQ(loaded.areaCode, L"010");
}

TEST(LoadSettings, ReadsALongLineInPiecesOf259Bytes) {
    // 600 bytes: the pieces of 259, 259 and 82 bytes are lines of their own,
    // so a key at the start of the third piece takes effect.
    std::string line = "TYPE=" + std::string(254, 'a');
    line += std::string(259, 'b');
    line += "AREACODE=0755";
    line += std::string(600 - line.size() - 1, 'c') + "\n";
    ASSERT_EQ(line.size(), 600u);
    TempFolder folder;
    const Settings loaded = loadFrom(folder, line);
    EXPECT_EQ(loaded.typeFilter, std::wstring(254, L'a'));
    EXPECT_EQ(loaded.areaCode, L"0755cccc");
}

TEST(LoadSettings, PathMakesTheDataRootAndTodaysFileInEveryFolder) {
    TempFolder folder;
    const fs::path root = folder.path() / "data/cdr";
    fs::create_directories(root / "A");
    fs::create_directories(root / "B");
    writeBytes(root / "plain-file", "x");
    writeBytes(root / "B" / todaysFileName(), "kept");
    const Settings loaded = loadFrom(folder, "PATH = " + root.string() + "\r\n");
    EXPECT_EQ(loaded.dataRoot, root.wstring());
    EXPECT_EQ(readBytes(root / "A" / todaysFileName()), "");
    EXPECT_TRUE(fs::exists(root / "A" / todaysFileName()));
    EXPECT_EQ(readBytes(root / "B" / todaysFileName()), "kept");
    EXPECT_EQ(readBytes(root / "plain-file"), "x");
}

TEST(LoadSettings, EveryPathLineRunsTheFolderProcedureAndTheLastStays) {
    TempFolder folder;
    const Settings loaded = loadFrom(folder, "PATH=" + (folder / "first") + "\nPATH=" + (folder / "second/deep") + "\n");
    EXPECT_TRUE(fs::is_directory(folder.path() / "first"));
    EXPECT_TRUE(fs::is_directory(folder.path() / "second/deep"));
    EXPECT_EQ(loaded.dataRoot, (folder.path() / "second/deep").wstring());
}

TEST(LoadSettings, UnmakeableDataRootFallsBackToTheRecordFolder) {
    TempFolder folder;
    fs::create_directories(folder.path() / "rec/00-11-22-33-44-55");
    const Settings loaded = loadFrom(folder, "PATH=/proc/quelvar/cdr\n");
    EXPECT_EQ(loaded.dataRoot, L"");
    EXPECT_TRUE(fs::exists(folder.path() / "rec/00-11-22-33-44-55" / todaysFileName()));
}

TEST(LoadSettings, DataRootThatIsAFileStaysConfigured) {
    TempFolder folder;
    writeBytes(folder.path() / "taken", "");
    const Settings loaded = loadFrom(folder, "PATH=" + (folder / "taken") + "\n");
    EXPECT_EQ(loaded.dataRoot, (folder.path() / "taken").wstring());
}

}  // namespace
}  // namespace quelvar
