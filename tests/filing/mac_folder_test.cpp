#include "filing/mac_folder.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <string>

namespace quelvar {
namespace {

struct MacCase {
    const char* mac;
    const char* folder;
};

// Both forms, the 8-bit one of the plain mode and the wide one.
template <std::size_t count>
void expectFolders(const MacCase (&cases)[count]) {
    for (const auto& each : cases) {
        EXPECT_EQ(macFolderOf(std::string(each.mac)), each.folder);
        const std::string wide(each.folder);
        EXPECT_EQ(macFolderOf(std::wstring(each.mac, each.mac + std::string(each.mac).size())),
                  std::wstring(wide.begin(), wide.end()));
    }
}

TEST(MacFolder, NeverLeavesTheRecordBase) {
    const MacCase cases[] = {
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
    expectFolders(cases);
}

TEST(MacFolder, NeverTakesTheNameOfAFileOfTheCollectorsOwn) {
    const MacCase cases[] = {
        // In any letter case; what merely looks like one stays.
        {"202612.xls", "202612.xls-"},
        {"199901.XLS", "199901.XLS-"},
        {"202612.xls.queue", "202612.xls.queue-"},
        {"202612.xls.Queue:", "202612.xls.Queue-"},
        {".202612.xls.1.new", ".202612.xls.1.new-"},
        {".202612.xls.12.new", ".202612.xls.12.ne"},
        {"err", "err-"},
        {"ERR", "ERR-"},
        {"202612.xls-journal", "202612.xls-journa"},
        {"20261.xls", "20261.xls"},
        {"2026123.xls", "2026123.xls"},
        {"202612.xlsx", "202612.xlsx"},
        {"20a612.xls", "20a612.xls"},
        {".202612.xls.new", ".202612.xls.new"},
        {".202612.xls.a.new", ".202612.xls.a.new"},
        {"errors", "errors"},
        {"er", "er"},
        {"quelvar.undo", "quelvar.undo-"},
        {"Quelvar.UNDO", "Quelvar.UNDO-"},
        {"quelvar.undo2", "quelvar.undo2"},
        // Real MACs in every spelling keep their folders.
        {"00-1a-2b-3c-4d-5e", "00-1a-2b-3c-4d-5e"},
        {"001a.2b3c.4d5e", "001a.2b3c.4d5e"},
        {"001A2B3C4D5E", "001A2B3C4D5E"},
    };
    expectFolders(cases);
}

}  // namespace
}  // namespace quelvar
