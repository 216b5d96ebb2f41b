#include "log/line_cap.h"

#include <gtest/gtest.h>

#include <regex>

#include "support/temp_folder.h"
#include "support/today.h"

namespace quelvar {
namespace {

class LineCapTest : public testing::Test {
protected:
    std::string told() const {
        static const std::regex stamp("\\d{4}-\\d\\d-\\d\\d   \\d\\d:\\d\\d:\\d\\d   ");
        return std::regex_replace(readBytes(folder.path() / "log" / todayAs("%Y%m%d.log")), stamp, "");
    }
    int admitted(LineCap& cap, const std::string& source, int times, TimeValue now) const {
        int passed = 0;
        for (int i = 0; i < times; ++i) passed += cap.admit(source, now) ? 1 : 0;
        return passed;
    }

    TempFolder folder;
    const EventLog log{folder.path().string()};
};

TEST_F(LineCapTest, LetsTenASourceAndMinuteThroughAndCountsTheRest) {
    LineCap cap(L"WARNING   %d more from %s\r\n");
    EXPECT_EQ(admitted(cap, "10.0.0.1", 25, 1000), 10);
    EXPECT_EQ(admitted(cap, "10.0.0.2", 3, 1010), 3) << "each source has its own count";
    cap.tell(log, 1059);
    EXPECT_FALSE(std::filesystem::exists(folder.path() / "log")) << "nothing before the minute is over";
    cap.tell(log, 1060);
    EXPECT_EQ(told(), "WARNING   15 more from 10.0.0.1\r\n") << "a source without held lines is not told";
    EXPECT_EQ(admitted(cap, "10.0.0.1", 12, 1061), 10) << "a new minute";
    cap.tellAll(log);
    EXPECT_EQ(told(), "WARNING   15 more from 10.0.0.1\r\nWARNING   2 more from 10.0.0.1\r\n");
}

TEST_F(LineCapTest, SourcesBeyondItsBoundShareOneCount) {
    LineCap cap(L"WARNING   %d more from %s\r\n", 1, 2);
    EXPECT_EQ(admitted(cap, "a", 2, 1000), 1);
    EXPECT_EQ(admitted(cap, "b", 2, 1000), 1);
    EXPECT_EQ(admitted(cap, "c", 2, 1000) + admitted(cap, "d", 2, 1000), 1);
    cap.tellAll(log);
    EXPECT_EQ(told(), "WARNING   1 more from a\r\nWARNING   1 more from b\r\nWARNING   3 more from other senders\r\n");
}

}  // namespace
}  // namespace quelvar
