#pragma once
// What `quelvar-report --help` and `quelvar-report help COMMAND` print.
#include <optional>
#include <string>

namespace quelvar::report {

// Every command in a line or two, and where to read more.
std::string overallHelp();
// One command's options; nothing for a command there is not.
std::optional<std::string> commandHelp(const std::string& command);
// The first line of each command's help: for a mistake on the command line.
std::string usageLines();

}  // namespace quelvar::report
