// Start-up of the real collector in a program folder of its own.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <sstream>
#include <vector>

#include "e2e/harness.h"

namespace {

namespace fs = std::filesystem;

std::string startLines(const ProgramFolder& folder, const std::string& modeLine) {
    return "Quelvar startup 2.0.0.10\r\n" + modeLine + collectorPath(folder.path()) + "\r\n";
}

// Starts the collector, ends it from outside once it listens, and gives the
// texts of its log without the stop line that ends it.
std::string logOfOneStart(ProgramFolder& folder) {
    folder.start();
    folder.stop();
    const std::string texts = folder.todaysLogTexts();
    const std::string stop = stopLineOfStop();
    EXPECT_TRUE(texts.ends_with(stop)) << "the stop line comes last:\n" << texts;
    return texts.substr(0, texts.size() - stop.size());
}

// The line an operator reads on standard error at every start.
std::string startedLine(const ProgramFolder& folder, const std::string& settings) {
    return ansiText("quelvar 2.0.0.10 started: mode: encrypted, UDP port 1809; program folder: ") +
           collectorPath(folder.path()) + "; data root: " + collectorPath(folder.path() / "rec") + "; " + settings +
           "\n";
}
const std::string defaults = "area code: none; type filter: none; senders: every sender; sync: on";

std::string todaysRecordFile() {
    const std::string today = todayCompact();
    return "CDR_" + today.substr(0, 4) + "_" + today.substr(4, 2) + "_" + today.substr(6, 2) + ".txt";
}

TEST(Startup, WithoutConfigurationLogsTheStartAndLaysOutTheFolder) {
    ProgramFolder folder;
    EXPECT_EQ(logOfOneStart(folder), startLines(folder, "encrypt:1 areacode: \r\n"));
    EXPECT_TRUE(fs::is_directory(folder / "rec"));
    EXPECT_EQ(folder.standardError(), startedLine(folder, defaults));

    const std::string table = folder.read("tele.ini");
    std::vector<std::string> entries;
    std::istringstream lines(table);
    for (std::string line; std::getline(lines, line);) {
        ASSERT_TRUE(!line.empty() && line.back() == '\r') << "every line ends in CR LF";
        entries.push_back(line.substr(0, line.size() - 1));
    }
    ASSERT_EQ(entries.size(), 130u);
    const std::pair<std::size_t, std::string> checks[] = {{1, "110"},      {6, "119"},     {7, "120"},
                                                          {41, "1251"},    {53, "10000"},  {77, "12395"},
                                                          {78, "95119"},   {110, "17900"}, {118, "955588009995558"},
                                                          {121, "962528"}, {122, "100xx"}, {130, "800xxxxxxx"}};
    for (const auto& [line, entry] : checks) EXPECT_EQ(entries[line - 1], entry) << "line " << line;
}

TEST(Startup, ConfigurationChoosesModeAndAreaCode) {
    // What the grammar ignores, or takes other than it looks, is told after the start lines.
    const struct {
        std::string configuration;
        std::string modeLine;
        std::string warnings;
    } cases[] = {
        {"encrypt=0\r\n", "encrypt:1 areacode: \r\n",
         "WARNING   Quelvar.ini line 1: the key \"encrypt\" is not written ENCRYPT (keys are in capitals): the line "
         "is ignored\r\n"},
        {"[Quelvar]\r\n  AREACODE=0755\r\nENCRYPT=1\r\n", "encrypt:1 areacode:0755 \r\n", ""},
        {"AREACODE=0755", "encrypt:1 areacode:0755 \r\n", ""},
        {"AREACODE = 075512345\r\n", "encrypt:1 areacode:07551234 \r\n",
         "WARNING   Quelvar.ini line 1: AREACODE is longer than 8 characters: taken \"07551234\"\r\n"},
        // The log is GBK.
        {"AREACODE=\xE4\xB8\xAD\r\n", "encrypt:1 areacode:\xD6\xD0 \r\n",
         "WARNING   Quelvar.ini line 1: AREACODE is not digits: taken \"\xD6\xD0\"\r\n"},
    };
    for (const auto& each : cases) {
        ProgramFolder folder;
        // Windows reads it in the ANSI code page.
        folder.write("Quelvar.ini", ansiText(each.configuration));
        EXPECT_EQ(logOfOneStart(folder), startLines(folder, each.modeLine) + each.warnings)
            << testing::PrintToString(each.configuration);
    }
}

TEST(Startup, PlainModeIsChosenWithBlanksAroundTheEqualsSign) {
    ProgramFolder folder;
    folder.write("Quelvar.ini", "ENCRYPT = 0\r\n");
    EXPECT_EQ(logOfOneStart(folder), startLines(folder, "encrypt:0 areacode: \r\n"));
}

TEST(Startup, SocketThatCannotBeMadeEndsWithTheReasonTheStopLineAndStatusOne) {
    if (underWine()) GTEST_SKIP() << "takes the sockets away by a preloaded library";
    ProgramFolder folder;
    EXPECT_EQ(folder.runToExit(QUELVAR_REFUSE_SOCKETS), 1);
    const std::string failure = "Sock Create failed!\r\nERROR   open UDP socket: Too many open files\r\n";
    EXPECT_EQ(folder.todaysLogTexts(),
              startLines(folder, "encrypt:1 areacode: \r\n") + failure + "Quelvar stop 2.0.0.10\r\n");
    EXPECT_EQ(folder.standardError(), startedLine(folder, defaults) + "Sock Create failed!\nERROR   open UDP socket: "
                                                                       "Too many open files\n");
}

TEST(Startup, UndoFileThatIsALinkOrAFolderStopsTheStartWithTheReason) {
    if (underWine()) GTEST_SKIP() << "links are made here the Linux way";
    const struct {
        const char* what;
        std::function<void(const ProgramFolder&)> lay;
        std::string reason;
    } cases[] = {
        {"a link",
         [](const ProgramFolder& folder) { fs::create_symlink(folder / "elsewhere", folder / "quelvar.undo"); },
         "A symbolic link, which is not followed"},
        {"a folder", [](const ProgramFolder& folder) { fs::create_directory(folder / "quelvar.undo"); },
         "Is a directory"},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(each.what);
        ProgramFolder folder;
        each.lay(folder);
        EXPECT_EQ(folder.runToExit(), 1);
        EXPECT_EQ(folder.todaysLogTexts(),
                  startLines(folder, "encrypt:1 areacode: \r\n") + "ERROR   cannot keep the undo file " +
                      collectorPath(folder / "quelvar.undo") + ": " + each.reason + "\r\nQuelvar stop 2.0.0.10\r\n");
        EXPECT_FALSE(fs::exists(folder / "elsewhere")) << "a link is never followed";
    }
}

TEST(Startup, DataRootGetsTodaysFileInEveryFolder) {
    ProgramFolder folder;
    TempFolder elsewhere;
    const fs::path first = elsewhere.path() / "first";
    const fs::path root = elsewhere.path() / "cdr root";
    fs::create_directories(root / "A");
    fs::create_directories(root / "B");
    fs::create_directories(first / "C");
    folder.write("Quelvar.ini", "PATH = " + collectorPath(first) + "\r\nTYPE=IN\r\nPATH=" + collectorPath(root) + "\r\n");
    // TYPE and PATH are not logged.
    EXPECT_EQ(logOfOneStart(folder), startLines(folder, "encrypt:1 areacode: \r\n"));
    for (const char* name : {"A", "B"}) {
        EXPECT_TRUE(fs::is_regular_file(root / name / todaysRecordFile())) << name;
        EXPECT_EQ(fs::file_size(root / name / todaysRecordFile()), 0u);
    }
    EXPECT_TRUE(fs::is_regular_file(first / "C" / todaysRecordFile()));
    EXPECT_FALSE(fs::exists(root / todaysRecordFile()));
}

TEST(Startup, DataRootThatCannotBeMadeGivesRecordFolderItsDailyFiles) {
    ProgramFolder folder;
    fs::create_directories(folder / "rec/00-1A-2B-3C-4D-5E");
    folder.write("Quelvar.ini", "PATH=/proc/no-such-root\r\n");
    logOfOneStart(folder);
    EXPECT_TRUE(fs::is_regular_file(folder / "rec/00-1A-2B-3C-4D-5E" / todaysRecordFile()));
}

TEST(Startup, ExistingSpecialNumberFileIsNeverChanged) {
    for (const std::string contents : {"", "95588\n12345"}) {
        ProgramFolder folder;
        folder.write("tele.ini", contents);
        logOfOneStart(folder);
        EXPECT_EQ(folder.read("tele.ini"), contents);
    }
}

TEST(Startup, SpecialNumberFileThatCannotBeMadeWarnsAndGoesOn) {
    ProgramFolder folder;
    fs::create_directory(folder / "tele.ini");
    EXPECT_EQ(logOfOneStart(folder),
              "WARNING   Quelvar: \xCE\xC4\xBC\xFE\xBC\xD0\xB7\xC3\xCE\xCA\xB4\xED\xCE\xF3!\r\n" +
                  startLines(folder, "encrypt:1 areacode: \r\n"));
    EXPECT_EQ(folder.standardError(),
              ansiText("WARNING   Quelvar: \xE6\x96\x87\xE4\xBB\xB6\xE5\xA4\xB9\xE8\xAE\xBF\xE9\x97\xAE\xE9\x94\x99\xE8\xAF\xAF!\n") +
                  startedLine(folder, defaults));
}

TEST(Startup, UnwritableLogFolderDoesNotStopTheCollector) {
    ProgramFolder folder;
    folder.write("log", "not a folder");
    if (underWine()) GTEST_SKIP() << "takes the sockets away by a preloaded library";
    EXPECT_EQ(folder.runToExit(QUELVAR_REFUSE_SOCKETS), 1);
    EXPECT_EQ(folder.read("log"), "not a folder");
    // What the log cannot take, standard error still has.
    EXPECT_NE(folder.standardError().find("Sock Create failed!\nERROR   open UDP socket: "), std::string::npos);
    EXPECT_TRUE(fs::is_directory(folder / "rec"));
}

TEST(Startup, ProgramFolderNamedInChineseIsLoggedAsItsBytes) {
    ProgramFolder folder("\xE8\xAF\x9D\xE5\x8D\x95 collector");
    EXPECT_EQ(logOfOneStart(folder), startLines(folder, "encrypt:1 areacode: \r\n"));
    EXPECT_TRUE(fs::is_regular_file(folder / "tele.ini"));
}

}  // namespace
