// quelvar-send against the real collector.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "e2e/harness.h"
#include "e2e/switch_client.h"

namespace {

namespace fs = std::filesystem;

using Outcome = CommandOutcome;

// Runs quelvar-send with the arguments (already quoted for the shell). It
// waits a short time for each answer unless the arguments say how long.
Outcome send(const std::string& arguments, const std::string& input = {}) {
    const std::string program =
        underWine() ? "wine '" + (windowsBuild() / "quelvar-send.exe").string() + "'" : std::string(QUELVAR_SEND);
    const bool timed = arguments.find("--timeout") != std::string::npos;
    std::string command = program + (timed ? " " : " --timeout 1000 ") + arguments;
    if (!input.empty()) command = "printf '" + input + "' | " + command;
    return runCommand(command, std::chrono::seconds(30));
}

// Data lines of every file with the extension under the folder, headers
// (the lines that begin with '#' or a blank) left out.
long dataLines(const fs::path& root, const std::string& extension, const std::string& subFolder) {
    long lines = 0;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (!entry.is_regular_file() || entry.path().extension() != extension ||
            entry.path().parent_path().filename() != subFolder)
            continue;
        std::istringstream text(readBytes(entry.path()));
        for (std::string line; std::getline(text, line);)
            if (!line.empty() && line[0] != '#' && line[0] != ' ') ++lines;
    }
    return lines;
}

TEST(QuelvarSend, RecordsAreAcknowledgedInEitherMode) {
    ProgramFolder folder;
    folder.start();
    Outcome outcome = send("'RECORD:ID=41&RID=77-1&MAC=00:11:22:33:44:55&TIME-S=240315093000&DURATION=75&'");
    EXPECT_EQ(outcome.status, 0) << outcome.output;
    EXPECT_NE(outcome.output.find("ack     RECORD:ID=41 ("), std::string::npos) << outcome.output;
    EXPECT_NE(outcome.output.find("sent 1, acknowledged 1, lost 0"), std::string::npos) << outcome.output;

    // The legs of a call from standard input, one datagram.
    outcome = send("--file -", "RECORD:ID=8&RID=5-1&MAC=AA&\\nRECORD:ID=9&RID=5-2&MAC=AA&\\n\\nhello\\n");
    EXPECT_EQ(outcome.status, 0) << outcome.output;
    EXPECT_NE(outcome.output.find("ack     RECORD:ID=9 ("), std::string::npos) << outcome.output;
    EXPECT_NE(outcome.output.find("sent 2, acknowledged 1, lost 0"), std::string::npos) << outcome.output;
    EXPECT_NE(folder.todaysLog().find("recvfrom 127.0.0.1"), std::string::npos);

    ProgramFolder plainFolder("plain");
    folder.stop();
    plainFolder.write("Quelvar.ini", "ENCRYPT=0\r\n");
    plainFolder.start();
    outcome = send("--plain 'RECORD:RID=5-1&MAC=00:11:22:33:44:55&'");
    EXPECT_EQ(outcome.status, 0) << outcome.output;
    EXPECT_NE(outcome.output.find("ack     RECORD:RID=5-1 ("), std::string::npos) << outcome.output;
}

TEST(QuelvarSend, GeneratedCallsAreAllFiled) {
    // The merged record is filed after the answer: the collector is stopped
    // only once it has handled the last call.
    const SwitchClient sw;
    ProgramFolder folder;
    folder.start();
    const Outcome outcome = send("--generate 300 --quiet");
    EXPECT_EQ(outcome.status, 0) << outcome.output;
    EXPECT_NE(outcome.output.find("sent 300, acknowledged 300, lost 0"), std::string::npos) << outcome.output;
    waitUntilHandled(folder, sw);
    folder.stop();
    EXPECT_EQ(dataLines(folder / "rec", ".txt", "new"), 300) << "one merged record a call";
    EXPECT_EQ(dataLines(folder / "rec", ".csv", "new"), 300);
    EXPECT_GE(dataLines(folder / "rec", ".txt", "old"), 300) << "every leg";

    ProgramFolder plainFolder("plain");
    plainFolder.write("Quelvar.ini", "ENCRYPT=0\r\n");
    plainFolder.start();
    const Outcome plain = send("--plain --generate 200 --quiet --rate 5000");
    EXPECT_EQ(plain.status, 0) << plain.output;
    waitUntilHandled(plainFolder, sw, true);
    plainFolder.stop();
    for (const char* sub : {"new", "old"}) EXPECT_EQ(dataLines(plainFolder / "rec", ".txt", sub), 200) << sub;
    EXPECT_EQ(dataLines(plainFolder / "rec", ".csv", "new"), 200);
}

TEST(QuelvarSend, ReportsLossAndBadArguments) {
    const Outcome nobody = send("--port 1810 --timeout 200 'RECORD:ID=1&RID=1-1&MAC=AA&'");
    EXPECT_EQ(nobody.status, 1);
    EXPECT_NE(nobody.output.find("lost    RECORD:ID=1&RID=1-1&MAC=AA&"), std::string::npos) << nobody.output;
    EXPECT_NE(nobody.output.find("sent 1, acknowledged 0, lost 1"), std::string::npos) << nobody.output;

    const struct {
        std::string arguments, message;
    } cases[] = {
        {"--port 70000", "quelvar-send: --port must be a number from 1 to 65535, not \"70000\" (see --help)\n"},
        {"--timeout", "quelvar-send: --timeout needs a value (see --help)\n"},
        {"--bogus", "quelvar-send: unknown option --bogus (see --help)\n"},
        {"--generate 5 x",
         "quelvar-send: give records on the command line, --file or --generate, not several of "
         "them (see --help)\n"},
        {"--host no-such-host.invalid x", "quelvar-send: cannot resolve host no-such-host.invalid\n"},
        {"--file /nonexistent", "quelvar-send: cannot read /nonexistent\n"},
    };
    for (const auto& each : cases) {
        const Outcome outcome = send(each.arguments);
        EXPECT_EQ(outcome.status, 2) << each.arguments;
        std::string message = each.message;
        // A Windows console program ends its lines as Windows does.
        if (underWine()) message.insert(message.size() - 1, "\r");
        EXPECT_EQ(outcome.output, message);
    }
    const Outcome help = send("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.output.find("--generate N"), std::string::npos);
}

}  // namespace
