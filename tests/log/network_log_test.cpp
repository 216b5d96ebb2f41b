#include "log/network_log.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "support/temp_folder.h"
#include "support/today.h"

namespace quelvar {
namespace {

TEST(ShownPayload, CutsAfter512CharactersAndSaysHowManyBytesAreLeftOut) {
    const struct {
        std::string bytes;
        std::string shown;
    } cases[] = {
        {"short\r\n", "short\\r\\n"},
        {std::string(512, 'a'), std::string(512, 'a')},
        {std::string(513, 'a'), std::string(512, 'a') + "... (1 more bytes)"},
        // An escape is never split: the one that does not fit is left out whole.
        {std::string(510, 'a') + "\x01" + "b", std::string(510, 'a') + "... (2 more bytes)"},
    };
    for (const auto& each : cases) EXPECT_EQ(shownPayload(std::string_view(each.bytes)), each.shown);
    // Wide text counts characters, and the bytes left out in GBK.
    EXPECT_EQ(shownPayload(std::wstring(512, L'x') + L"中文"), std::wstring(512, L'x') + L"... (4 more bytes)");
}

// Every kind has its own count per sender, and all senders together have a
// bound; what is held back is told, per sender and kind, at the stop.
TEST(NetworkLog, CapsEachSenderAndAllSendersTogether) {
    TempFolder folder;
    const EventLog log(folder.path().string());
    NetworkLog lines(log);
    int written = 0;
    lines.from("10.0.0.1", 5000, 1000);
    for (int line = 0; line < 15; ++line) written += lines.admit(NetworkLine::other) ? 1 : 0;
    for (int line = 0; line < 15; ++line) written += lines.admit(NetworkLine::notWritten) ? 1 : 0;
    EXPECT_EQ(written, 20);
    for (int sender = 2; sender < 100; ++sender) {
        lines.from("10.0.0." + std::to_string(sender), 5000, 1001);
        for (int line = 0; line < 10; ++line) written += lines.admit(NetworkLine::unknown) ? 1 : 0;
    }
    EXPECT_EQ(written, static_cast<int>(NetworkLog::allSendersPerMinute));
    lines.tick(1061);
    lines.from("10.0.0.1", 5000, 1061);
    EXPECT_TRUE(lines.admit(NetworkLine::other)) << "a new minute";
    lines.close();
    static const std::regex stamp("\\d{4}-\\d\\d-\\d\\d   \\d\\d:\\d\\d:\\d\\d   ");
    const std::string told =
        std::regex_replace(readBytes(folder.path() / "log" / todayAs("%Y%m%d.log")), stamp, "");
    EXPECT_NE(told.find("WARNING   5 more records from 10.0.0.1 not written\r\n"), std::string::npos) << told;
    EXPECT_NE(told.find("WARNING   10 more unknown messages from 10.0.0.99 suppressed\r\n"), std::string::npos);
}

}  // namespace
}  // namespace quelvar
