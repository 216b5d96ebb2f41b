// The arguments of the Windows service as an operator meets them: on Linux
// they say that they are for Windows and touch nothing; only the Windows
// build lists them. tests/windows/service_under_wine.sh runs the service
// itself under Wine's service manager.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "e2e/harness.h"
#include "support/temp_folder.h"

namespace {

namespace fs = std::filesystem;

struct Answer {
    int status;
    std::string output;
    std::string errors;
};

// The collector of the folder run with the arguments from another folder,
// as an operator runs it.
Answer run(const ProgramFolder& folder, const std::string& arguments) {
    TempFolder outputs;
    const fs::path errors = outputs.path() / "stderr";
    const std::string program =
        underWine() ? "wine '" + (folder / "quelvar.exe").string() + "'" : "'" + (folder / "quelvar").string() + "'";
    const CommandOutcome outcome = runCommand(
        "cd / && exec " + program + " " + arguments + " 2>'" + errors.string() + "'", std::chrono::seconds(30));
    return {outcome.status, outcome.output, readBytes(errors)};
}

std::vector<std::string> namesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(folder))
        names.push_back(fs::relative(entry.path(), folder).string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(ServiceArguments, OnLinuxSayTheyAreForWindowsAndTouchNothing) {
    if (underWine()) GTEST_SKIP() << "the Windows build has the service: tests/windows/service_under_wine.sh runs it";
    ProgramFolder folder;
    for (const std::string argument : {"--install", "--uninstall", "--service"}) {
        const Answer answer = run(folder, argument);
        EXPECT_EQ(answer.status, 2) << argument;
        EXPECT_EQ(answer.output, "") << argument;
        EXPECT_EQ(answer.errors, "quelvar: " + argument +
                                     " is for Windows; on Linux systemd runs the collector as a service (see the "
                                     "README)\n");
        EXPECT_EQ(namesIn(folder.path()), std::vector<std::string>{"quelvar"}) << argument;
    }
}

TEST(ServiceArguments, OnlyTheWindowsBuildListsThem) {
    ProgramFolder folder;
    const Answer help = run(folder, "--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.errors, "");
    for (const std::string argument : {"--install", "--uninstall", "--service"})
        EXPECT_EQ(help.output.find("\n  " + argument + " ") != std::string::npos, underWine())
            << argument << " in the help:\n"
            << help.output;

    const std::string usage = underWine() ? "usage: quelvar [--check | --version | --help | --install | --uninstall]\n"
                                          : "usage: quelvar [--check | --version | --help]\n";
    EXPECT_EQ(help.output.substr(0, usage.size()), usage);
    for (const std::string wrong : {"--instal", "--install --service", "--uninstall now"}) {
        const Answer answer = run(folder, wrong);
        EXPECT_EQ(answer.status, 2) << wrong;
        EXPECT_EQ(answer.output, "") << wrong;
        EXPECT_EQ(answer.errors, usage) << wrong;
    }
    EXPECT_EQ(namesIn(folder.path()), std::vector<std::string>{underWine() ? "quelvar.exe" : "quelvar"});
}

}  // namespace
