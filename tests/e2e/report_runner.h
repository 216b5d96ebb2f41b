#pragma once
// quelvar-report run from a test's program folder, where it lies beside the
// collector as installed.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "e2e/harness.h"
#include "support/json_reader.h"

// `arguments` already quoted for the shell.
inline CommandOutcome runReport(const std::filesystem::path& folder, const std::string& arguments) {
    return runCommand("'" + (folder / "quelvar-report").string() + "' " + arguments, std::chrono::seconds(60));
}

// Its JSON answer; ends the test when there is no single JSON value.
inline quelvar::test::Json reportJson(const std::filesystem::path& folder, const std::string& arguments) {
    const CommandOutcome outcome = runReport(folder, arguments + " --format json");
    EXPECT_EQ(outcome.status, 0) << arguments << ":\n" << outcome.output;
    auto value = quelvar::test::JsonReader::read(outcome.output);
    if (!value) endTest("quelvar-report " + arguments + " printed no single JSON object:\n" + outcome.output);
    return *value;
}
