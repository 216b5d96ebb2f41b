#include "core/text.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#endif

namespace quelvar {
namespace {

TEST(ControlCharacters, AreWrittenEscapedAndNothingElseIs) {
    const struct {
        std::string text, written;
    } cases[] = {
        {"RECORD:ID=1&CPN=8001&", "RECORD:ID=1&CPN=8001&"},
        {"", ""},
        // A backslash stays, so text without control characters is unchanged.
        {"C:\\rec\\x41", "C:\\rec\\x41"},
        {"a\r\nb", "a\\r\\nb"},
        {"\t", "\\t"},
        {std::string("\0\x01\x1b\x1f", 4), "\\x00\\x01\\x1B\\x1F"},
        // The first printable character, DEL and bytes of wider GBK characters stay.
        {"\x20\x7f\xD6\xD0", "\x20\x7f\xD6\xD0"},
        {"\r\n2026-12-10   09:00:00   recvfrom", "\\r\\n2026-12-10   09:00:00   recvfrom"},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(testing::PrintToString(each.text));
        EXPECT_EQ(escapeControlCharacters(each.text), each.written);
        EXPECT_EQ(hasControlCharacters(each.text), each.text != each.written);
        // The wide text is escaped alike, character for byte.
        const std::wstring wide(each.text.begin(), each.text.end());
        const std::wstring written(each.written.begin(), each.written.end());
        EXPECT_EQ(escapeControlCharacters(wide), written);
    }
    EXPECT_EQ(escapeControlCharacters(std::wstring_view(L"中\r文")), L"中\\r文");
}

TEST(Gbk, ConvertsBothWays) {
    const struct {
        std::wstring wide;
        std::string gbk;
    } cases[] = {
        {L"中文", "\xD6\xD0\xCE\xC4"},
        {L"RECORD:ID=1&", "RECORD:ID=1&"},
        {L"内线市话国内长途", "\xC4\xDA\xCF\xDF\xCA\xD0\xBB\xB0\xB9\xFA\xC4\xDA\xB3\xA4\xCD\xBE"},
        {L"", ""},
    };
    for (const auto& each : cases) {
        EXPECT_EQ(toGbk(each.wide), each.gbk);
        EXPECT_EQ(fromGbk(each.gbk), each.wide);
    }
}

TEST(Gbk, KeepsLongTextWhole) {
    std::wstring wide;
    for (int index = 0; index < 5000; ++index) wide += L"中a";
    const std::string gbk = toGbk(wide);
    EXPECT_EQ(gbk.size(), 15000u);
    EXPECT_EQ(fromGbk(gbk), wide);
}

TEST(Gbk, ReplacesWhatCannotBeConverted) {
    // An emoji has no GBK form; a lone lead byte is no GBK character.
    EXPECT_EQ(toGbk(L"a\U0001F600b"), "a?b");
    EXPECT_EQ(fromGbk("a\xD6"), L"a\uFFFD");
    EXPECT_EQ(fromGbk("\xFF" "b"), L"\uFFFDb");
}

#ifdef _WIN32
TEST(Ansi, IsTheSystemsCodePage) {
    if (GetACP() != 936) GTEST_SKIP() << "written for a Chinese Windows (code page 936)";
    EXPECT_EQ(toAnsi(L"C:\\中文"), "C:\\\xD6\xD0\xCE\xC4");
    EXPECT_EQ(fromAnsi("C:\\\xD6\xD0\xCE\xC4"), L"C:\\中文");
    EXPECT_EQ(toAnsi(L"a\U0001F600b"), "a?b");
    EXPECT_EQ(toOemText(L"95588"), "95588");
}
#else
TEST(Ansi, IsUtf8AndKeepsEveryFileNameByte) {
    EXPECT_EQ(toAnsi(L"/srv/中文"), "/srv/\xE4\xB8\xAD\xE6\x96\x87");
    EXPECT_EQ(fromAnsi("/srv/\xE4\xB8\xAD\xE6\x96\x87"), L"/srv/中文");
    for (const std::string bytes : {"/a/\xFF\xFE", "\xE4\xB8", "\xC0\x80", "\xED\xA0\x80", "ok"}) {
        EXPECT_EQ(toAnsi(fromAnsi(bytes)), bytes);
    }
    EXPECT_EQ(toOemText(L"95588"), "95588");
}
#endif

}  // namespace
}  // namespace quelvar
