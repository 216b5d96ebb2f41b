#include "core/format.h"

#include <gtest/gtest.h>

namespace quelvar {
namespace {

TEST(FormatText, FollowsPrintfForTheConversionsInUse) {
    const std::wstring wide = L"中文";
    EXPECT_EQ(formatText(L"%04d-%02d-%02d   %02d:%02d:%02d   %s", 2024, 3, 7, 9, 5, 0, L"x\r\n"),
              L"2024-03-07   09:05:00   x\r\n");
    EXPECT_EQ(formatText(L"encrypt:%d areacode:%s \r\n", 1, L""), L"encrypt:1 areacode: \r\n");
    // Widths count characters, pad without cutting; a precision cuts.
    EXPECT_EQ(formatText(L"[%-5s][%5s][%-2s]", wide, wide, L"LONG"), L"[中文   ][   中文][LONG]");
    EXPECT_EQ(formatText(L"[%.17s][%.*s]", L"ab", 3, L"abcdef"), L"[ab][abc]");
    EXPECT_EQ(formatText(L"XLS-%05d: %.*s", 42, 2, L"xyz"), L"XLS-00042: xy");
    EXPECT_EQ(formatText(L"%d|%4d|%-4d|%05d|%+d|%i|%u", -7, 42, 42, -42, 5, 3, 4), L"-7|  42|42  |-0042|+5|3|4");
    EXPECT_EQ(formatText(L"%x %X %o %c %% %lld", 255, 255, 8, L'A', 1234567890123LL), L"ff FF 10 A % 1234567890123");
    EXPECT_EQ(formatText(L"%.3d|%02d", 7, -1), L"007|-1");
}

TEST(FormatText, HasNoLengthLimit) {
    const std::wstring longText(100000, L'a');
    EXPECT_EQ(formatText(L"[%s]", longText).size(), 100002u);
}

TEST(FormatText, MissingOrMismatchedArgumentsReadAsZeroOrEmpty) {
    EXPECT_EQ(formatText(L"%s|%d|%s", 5, L"x"), L"|0|");
    EXPECT_EQ(formatText(L"100%"), L"100%");
    EXPECT_EQ(formatText(L"%q"), L"%q");
}

TEST(FormatBytes, CountsBytes) {
    EXPECT_EQ(formatBytes("[%-6s]", "\xD6\xD0\xCE\xC4"), "[\xD6\xD0\xCE\xC4  ]");
    EXPECT_EQ(formatBytes("%s/CDR_%4d_%02d_%02d.txt", std::string("/d/A"), 2017, 11, 1), "/d/A/CDR_2017_11_01.txt");
}

}  // namespace
}  // namespace quelvar
