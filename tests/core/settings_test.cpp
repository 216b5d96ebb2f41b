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

namespace quelvar {
namespace {

// The warnings of one configuration text, "line: text" each.
std::vector<std::string> warningsOf(const std::string& contents, Settings* taken = nullptr) {
    Settings settings;
    std::vector<SettingsWarning> warnings;
    applySettingsText(contents, settings, [](Settings&) {}, &warnings);
    if (taken != nullptr) *taken = settings;
    std::vector<std::string> texts;
    for (const SettingsWarning& warning : warnings) {
        std::string text(warning.text.begin(), warning.text.end());
        texts.push_back(std::to_string(warning.line) + ": " + text);
    }
    return texts;
}

TEST(SettingsWarnings, TellWhatIsIgnoredOrTakenOtherThanItLooks) {
    const struct {
        std::string contents;
        std::vector<std::string> warnings;
    } cases[] = {
        // What is meant to be ignored, or read as written, says nothing.
        {"[Quelvar]\r\n; comment\r\n# comment\r\n\r\n  AREACODE = 0755\r\nENCRYPT=0\r\nTYPE=IN,OU\r\nPATH=/srv/cdr\r\n"
         "ALLOW=10.0.0.0/8, 192.168.1.5\r\n",
         {}},
        {"areacode=0755\n",
         {"1: the key \"areacode\" is not written AREACODE (keys are in capitals): the line is ignored"}},
        {"\nSPEED=9\n",
         {"2: the key \"SPEED\" is unknown (TYPE, PATH, ENCRYPT, AREACODE, ALLOW, SWITCHES, SYNC): the line is ignored"}},
        {"hello\n", {"1: the line is no setting and is ignored: \"hello\""}},
        {"AREACODE=0755 ; Shenzhen\n", {"1: AREACODE is longer than 8 characters: taken \"0755 ; S\""}},
        {"AREACODE=07a5\n", {"1: AREACODE is not digits: taken \"07a5\""}},
        {"TYPE=IN ; calls in\n", {"1: TYPE has blanks or a comment in its value: taken \"IN ; calls in\""}},
        {"PATH=/srv/cdr \n", {"1: PATH ends in blanks, which belong to the folder's name: taken \"/srv/cdr \""}},
        {"ENCRYPT=yes\n",
         {"1: ENCRYPT=yes: only a 0 right after '=' selects the plain mode: the encrypted mode stays"}},
        {"ENCRYPT=00\n", {"1: ENCRYPT=00: only the 0 right after '=' counts: the plain mode is taken"}},
        {"SYNC=no\n", {"1: SYNC=no: only 0 (no syncing) or 1 (syncing) is read: syncing stays on"}},
        {"TYPES=IN\n", {"1: \"TYPES\" is taken for the key TYPE"}},
        {"ALLOW=10.0.0.0/8, switch-7, 10.1.2.3/33\n",
         {"1: ALLOW: \"switch-7\" is no IPv4 address or network: it is left out",
          "1: ALLOW: \"10.1.2.3/33\" is no IPv4 address or network: it is left out"}},
        {std::string(300, ';') + "\nareacode=1\n",
         {"1: the line is longer than 259 bytes and is read in pieces, each as a line of its own",
          "2: the key \"areacode\" is not written AREACODE (keys are in capitals): the line is ignored"}},
    };
    for (const auto& each : cases) EXPECT_EQ(warningsOf(each.contents), each.warnings) << each.contents;
}

TEST(SettingsWarnings, LeaveTheGrammarAsItIs) {
    Settings taken;
    warningsOf("ENCRYPT=00\nAREACODE=075512345\nTYPES=IN\nALLOW=10.1.2.3/8\nALLOW=192.168.1.5\n", &taken);
    EXPECT_EQ(taken.encryptMode, 0);
    EXPECT_EQ(taken.areaCode, L"07551234");
    EXPECT_EQ(taken.typeFilter, L"=IN\n");
    ASSERT_EQ(taken.allow.size(), 2u) << "ALLOW lines add up";
    EXPECT_EQ(addressRangeText(taken.allow[0]), "10.0.0.0/8");
    EXPECT_EQ(addressRangeText(taken.allow[1]), "192.168.1.5/32");
}

TEST(SettingsWarnings, SyncIsOnUnlessSyncZeroTurnsItOff) {
    const struct {
        std::string contents;
        bool sync;
    } cases[] = {{"", true},
                 {"SYNC=0\n", false},
                 {"SYNC = 0\r\n", false},
                 {"SYNC=0\nSYNC=1\n", true},
                 {"SYNC=0\nSYNC=off\n", false}};
    for (const auto& each : cases) {
        Settings taken;
        warningsOf(each.contents, &taken);
        EXPECT_EQ(taken.sync, each.sync) << each.contents;
    }
}

TEST(LoadSettings, AFileThatCannotBeReadIsWarnedOfAndGivesTheDefaults) {
    TempFolder folder;
    fs::create_directory(folder.path() / "Quelvar.ini");
    Settings loaded;
    std::vector<SettingsWarning> warnings;
    loadSettings(folder / "Quelvar.ini", loaded, &warnings);
    EXPECT_EQ(loaded.encryptMode, 1);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0].line, 0);
    EXPECT_TRUE(warnings[0].text.starts_with(L"the file cannot be read (")) << std::string(warnings[0].text.begin(), warnings[0].text.end());
    loadSettings(folder / "missing.ini", loaded, &warnings);
    EXPECT_EQ(warnings.size(), 1u) << "a missing file is no mistake";
}

TEST(LoadSettings, AFileLargerThanAMegabyteCountsUpToTheLastLineEndOfItsFirstMegabyteWithOneWarning) {
    TempFolder folder;
    std::string contents = "ENCRYPT=0\r\n";
    const std::string comment = "; " + std::string(60, '-') + "\r\n";
    while (contents.size() + comment.size() < configurationFileLimit - 15) contents += comment;
    // The limit cuts this line in two: its first half would be another area code.
    contents += std::string(configurationFileLimit - 15 - contents.size(), ';') + "\r\nAREACODE=07551234\r\n";
    contents += "TYPE=IN\r\n";
    ASSERT_EQ(contents.find("AREACODE=0755") + 13, configurationFileLimit);
    writeBytes(folder.path() / "Quelvar.ini", contents);
    Settings loaded;
    loaded.programDirAnsi = folder.path().string();
    std::vector<SettingsWarning> warnings;
    loadSettings(folder / "Quelvar.ini", loaded, &warnings);
    EXPECT_EQ(loaded.encryptMode, 0);
    EXPECT_EQ(loaded.areaCode, L"");
    EXPECT_EQ(loaded.typeFilter, L"");
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0].line, 0);
    EXPECT_EQ(warnings[0].text, L"the file is larger than 1 MiB (" + std::to_wstring(contents.size()) +
                                    L" bytes): only its first MiB is read, up to its last line end");
}

TEST(AddressRange, ReadsAddressesAndNetworksStrictly) {
    const struct {
        const char* text;
        const char* read;  // null: refused
    } cases[] = {
        {"10.1.2.3", "10.1.2.3/32"},   {"10.1.2.3/8", "10.0.0.0/8"}, {"0.0.0.0/0", "0.0.0.0/0"},
        {"255.255.255.255", "255.255.255.255/32"},                  {"10.1.2", nullptr},
        {"10.1.2.256", nullptr},       {"10.1.2.3/33", nullptr},     {"10.1.2.3/", nullptr},
        {"10.1.2.3 ", nullptr},        {"1.2.3.4.5", nullptr},       {"0x0a.1.2.3", nullptr},
        {"", nullptr},
    };
    for (const auto& each : cases) {
        AddressRange range;
        const bool read = parseAddressRange(each.text, range);
        EXPECT_EQ(read, each.read != nullptr) << each.text;
        if (read && each.read != nullptr) {
            EXPECT_EQ(addressRangeText(range), each.read);
        }
    }
    AddressRange network;
    ASSERT_TRUE(parseAddressRange("192.168.7.0/24", network));
    EXPECT_TRUE(contains(network, 0xC0A807FE));
    EXPECT_FALSE(contains(network, 0xC0A808FE));
}

}  // namespace
}  // namespace quelvar
