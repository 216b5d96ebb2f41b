#include "filing/mac_folder.h"

#include <gtest/gtest.h>

#include <string>

namespace quelvar {
namespace {

TEST(MacFolder, NeverLeavesTheRecordBase) {
    const struct {
        const char* mac;
        const char* folder;
    } cases[] = {
        {"00:1A:2B:3C:4D:5E", "00-1A-2B-3C-4D-5E"},
        {"00:1A:2B:3C:4D:5E:6F", "00-1A-2B-3C-4D-5E"},
        {"../../../../tmp/x", "..-..-..-..-tmp-x"},
        {"..", "--"},
        {".", "-"},
        {"a\\b", "a-b"},
#ifdef _WIN32
        // What Windows refuses, drops or keeps for its devices.
        {"...", "---"},
        {"A*B?C<D>E|F\"G", "A-B-C-D-E-F-G"},
        {"AA. ", "AA--"},
        {"CON", "CON-"},
        {"aux.1", "aux.1-"},
        {"Com7", "Com7-"},
        {"COM10", "COM10"},
        {"CONSOLE", "CONSOLE"},
#else
        {"...", "..."},
        {"A*B?C", "A*B?C"},
        {"CON", "CON"},
#endif
    };
    for (const auto& each : cases) {
        EXPECT_EQ(macFolderOf(std::string(each.mac)), each.folder);
        const std::string wide(each.folder);
        EXPECT_EQ(macFolderOf(std::wstring(each.mac, each.mac + std::string(each.mac).size())),
                  std::wstring(wide.begin(), wide.end()));
    }
}

}  // namespace
}  // namespace quelvar
