// Start-up of the real collector in a program folder of its own.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <vector>

#include "e2e/harness.h"

namespace {

namespace fs = std::filesystem;

std::string startLines(const ProgramFolder& folder, const std::string& modeLine) {
    return "Quelvar startup 2.0.0.10\r\n" + modeLine + collectorPath(folder.path()) + "\r\n";
}

// Starts the collector, ends it from outside once it listens, and gives the
// texts of its log.
std::string logOfOneStart(ProgramFolder& folder) {
    folder.start();
    folder.stop();
    return folder.todaysLogTexts();
}

std::string todaysRecordFile() {
    const std::string today = todayCompact();
    return "CDR_" + today.substr(0, 4) + "_" + today.substr(4, 2) + "_" + today.substr(6, 2) + ".txt";
}

TEST(Startup, WithoutConfigurationLogsTheStartAndLaysOutTheFolder) {
    ProgramFolder folder;
    EXPECT_EQ(logOfOneStart(folder), startLines(folder, "encrypt:1 areacode: \r\n"));
    EXPECT_TRUE(fs::is_directory(folder / "rec"));
    EXPECT_EQ(folder.standardError(), "");

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
    const struct {
        std::string configuration;
        std::string modeLine;
    } cases[] = {
        {"encrypt=0\r\n", "encrypt:1 areacode: \r\n"},
        {"[Quelvar]\r\n  AREACODE=0755\r\nENCRYPT=1\r\n", "encrypt:1 areacode:0755 \r\n"},
        {"AREACODE=0755", "encrypt:1 areacode:0755 \r\n"},
        {"AREACODE = 075512345\r\n", "encrypt:1 areacode:07551234 \r\n"},
        {"AREACODE=\xE4\xB8\xAD\r\n", "encrypt:1 areacode:\xD6\xD0 \r\n"},  // the log is GBK
    };
    for (const auto& each : cases) {
        ProgramFolder folder;
        // Windows reads it in the ANSI code page.
        folder.write("Quelvar.ini", ansiText(each.configuration));
        EXPECT_EQ(logOfOneStart(folder), startLines(folder, each.modeLine))
            << testing::PrintToString(each.configuration);
    }
}

TEST(Startup, PlainModeIsChosenWithBlanksAroundTheEqualsSign) {
    ProgramFolder folder;
    folder.write("Quelvar.ini", "ENCRYPT = 0\r\n");
    EXPECT_EQ(logOfOneStart(folder), startLines(folder, "encrypt:0 areacode: \r\n"));
}

TEST(Startup, SocketThatCannotBeMadeEndsWithTheStopLine) {
    if (underWine()) GTEST_SKIP() << "takes the sockets away by a preloaded library";
    ProgramFolder folder;
    EXPECT_EQ(folder.runToExit(QUELVAR_REFUSE_SOCKETS), 0);
    EXPECT_EQ(folder.todaysLogTexts(),
              startLines(folder, "encrypt:1 areacode: \r\n") + "Sock Create failed!\r\nQuelvar stop 2.0.0.10\r\n");
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
              ansiText("Quelvar: \xE6\x96\x87\xE4\xBB\xB6\xE5\xA4\xB9\xE8\xAE\xBF\xE9\x97\xAE\xE9\x94\x99\xE8\xAF\xAF!\n"));
}

TEST(Startup, UnwritableLogFolderDoesNotStopTheCollector) {
    ProgramFolder folder;
    folder.write("log", "not a folder");
    if (underWine()) GTEST_SKIP() << "takes the sockets away by a preloaded library";
    EXPECT_EQ(folder.runToExit(QUELVAR_REFUSE_SOCKETS), 0);
    EXPECT_EQ(folder.read("log"), "not a folder");
    EXPECT_TRUE(fs::is_directory(folder / "rec"));
}

TEST(Startup, ProgramFolderNamedInChineseIsLoggedAsItsBytes) {
    ProgramFolder folder("\xE8\xAF\x9D\xE5\x8D\x95 collector");
    EXPECT_EQ(logOfOneStart(folder), startLines(folder, "encrypt:1 areacode: \r\n"));
    EXPECT_TRUE(fs::is_regular_file(folder / "tele.ini"));
}

}  // namespace
