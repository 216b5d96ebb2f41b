#include "filing/classification.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <filesystem>

#include "core/settings.h"
#include "core/time.h"
#include "filing/special_numbers.h"
#include "support/temp_folder.h"

namespace quelvar {
namespace {

namespace fs = std::filesystem;

// Each test has a program folder of its own with the built-in list in it.
class ClassificationTest : public testing::Test {
protected:
    void SetUp() override { ensureSpecialNumberFile(path_, EventLog(folder_.path().string())); }
    void useList(const std::string& contents) const { writeBytes(path_, contents); }
    void removeList() const { fs::remove(path_); }
    Classifier classifier(const std::wstring& areaCode) const { return Classifier(areaCode, path_); }
    // The texts of the event log's lines.
    std::string logTexts() const {
        const std::string log = readBytes(eventLogPath(folder_.path().string(), currentLocalTime()));
        std::string texts;
        for (std::size_t line = 0; line < log.size();) {
            const std::size_t end = log.find('\n', line);
            texts += log.substr(line + eventStamp({}).size(), end - line - eventStamp({}).size() + 1);
            line = end + 1;
        }
        return texts;
    }

    TempFolder folder_;
    std::string path_ = specialNumberFilePath(folder_.path().string());
    EventLog log_{folder_.path().string()};
};

TEST_F(ClassificationTest, ClassifiesNumbersRuleByRule) {
    const Classifier withAreaCode = classifier(L"010");
    const struct {
        const wchar_t* number;
        const wchar_t* teletype;
    } cases[] = {
        {L"1795113912345678", L"市话"},   // prefix goes, 11 characters with 13 remain
        {L"0085212345678", L"国际长途"},
        {L"1795100852", L"国际长途"},
        {L"13912345678", L"市话"},
        {L"14912345678", L"市话"},
        {L"15912345678", L"市话"},
        {L"18912345678", L"市话"},
        {L"16912345678", L"市话"},         // 11 characters, no rule: not special either
        {L"013912345678", L"国内长途"},
        {L"913912345678", L"国内长途"},    // the first character is not looked at
        {L"912912345678", L"市话"},
        {L"01012345678", L"市话"},
        {L"02112345678", L"国内长途"},
        {L"010", L"市话"},
        {L"01", L"国内长途"},
        {L"95588", L"特服电话"},
        {L"9558801", L"特服电话"},         // through 95xxx
        {L"4008001234", L"特服电话"},      // through 400xxxxxxx
        {L"12345678", L"特服电话"},        // through 123xx
        {L"955588009995558", L"特服电话"},
        {L"40", L"市话"},
        {L"88886666", L"市话"},
        {L"17951", L"特服电话"},           // the empty rest matches the empty read at the end
        {L"", L"特服电话"},
    };
    for (const auto& each : cases)
        EXPECT_EQ(withAreaCode.classifyNumber(each.number), each.teletype)
            << testing::PrintToString(std::wstring(each.number));

    EXPECT_EQ(classifier(L"").classifyNumber(L"02112345678"), L"市话")
        << "an empty area code is a prefix of every number";
}

TEST_F(ClassificationTest, AnEditCountsFromTheNextLookup) {
    const Classifier list = classifier(L"");
    const auto isSpecialNumber = [&](std::string_view number) { return list.isSpecialNumber(number); };
    useList("");
    EXPECT_FALSE(isSpecialNumber("95588"));
    EXPECT_TRUE(isSpecialNumber("")) << "the empty read of an empty file";
    useList("  95588 \t\r\n12x3\r\n77X\r\n");
    EXPECT_FALSE(isSpecialNumber("95588")) << "leading blanks stay";
    EXPECT_TRUE(isSpecialNumber("  95588"));
    EXPECT_TRUE(isSpecialNumber("12999"));
    EXPECT_TRUE(isSpecialNumber("77X"));
    EXPECT_FALSE(isSpecialNumber("771")) << "an upper-case X is an ordinary character";
    useList("110\r\nx\r\n");
    EXPECT_TRUE(isSpecialNumber("anything")) << "a line that begins with x matches every number";
    useList("110\n120");
    EXPECT_TRUE(isSpecialNumber("120")) << "a last line without line end counts";
    EXPECT_FALSE(isSpecialNumber("")) << "and no empty read follows it";
    // A line longer than 31 characters is read as several entries.
    useList(std::string(31, '1') + "22\n");
    EXPECT_TRUE(isSpecialNumber("22"));
    EXPECT_TRUE(isSpecialNumber(std::string(31, '1')));
    // An edit that keeps the size, in place or by a file put in its place
    // with the same time stamp.
    useList("95588\r\n");
    EXPECT_TRUE(isSpecialNumber("95588"));
    useList("95599\r\n");
    EXPECT_TRUE(isSpecialNumber("95599"));
    EXPECT_FALSE(isSpecialNumber("95588"));
    writeBytes(folder_.path() / "other.ini", "95577\r\n");
    fs::last_write_time(folder_.path() / "other.ini", fs::last_write_time(path_));
    fs::rename(folder_.path() / "other.ini", path_);
    EXPECT_TRUE(isSpecialNumber("95577"));
    EXPECT_FALSE(isSpecialNumber("95599"));
    removeList();
    EXPECT_FALSE(isSpecialNumber(""));
    EXPECT_EQ(list.classifyNumber(L"95588"), L"市话") << "without a list no number is special";
    useList("95588\r\n");
    EXPECT_TRUE(isSpecialNumber("95588")) << "a list made again counts again";
}

TEST_F(ClassificationTest, AListLargerThanAMegabyteCountsUpToItsLastLineEndInTheFirstWithOneWarning) {
    std::string contents = "95588\r\n";
    while (contents.size() < configurationFileLimit - 4) contents += "12345678901234567890\r\n";
    // The limit falls into this entry: its first characters are no entry.
    contents.resize(configurationFileLimit - 4);
    contents += "\r\n4008001234\r\n96677\r\n";
    useList(contents);
    const Classifier list(L"", path_, &log_);
    list.readSpecialNumbers();
    EXPECT_TRUE(list.isSpecialNumber("95588"));
    EXPECT_TRUE(list.isSpecialNumber("12345678901234567890"));
    EXPECT_FALSE(list.isSpecialNumber("40")) << "cut by the limit";
    EXPECT_FALSE(list.isSpecialNumber("4008001234"));
    EXPECT_FALSE(list.isSpecialNumber("96677")) << "beyond the limit";
    const std::string warning = "WARNING   tele.ini: the file is larger than 1 MiB (" +
                                std::to_string(contents.size()) + " bytes): only the entries in its first MiB count\r\n";
    EXPECT_EQ(logTexts(), warning) << "one warning, however often it is looked up";
    useList(contents + "96678\r\n");
    EXPECT_FALSE(list.isSpecialNumber("96678"));
    EXPECT_EQ(logTexts(), warning + "WARNING   tele.ini: the file is larger than 1 MiB (" +
                              std::to_string(contents.size() + 7) +
                              " bytes): only the entries in its first MiB count\r\n")
        << "and one for each change";
}

TEST_F(ClassificationTest, AListThatIsNoRegularFileHasNoEntries) {
    const Classifier list = classifier(L"");
    removeList();
    fs::create_directory(path_);
    EXPECT_FALSE(list.isSpecialNumber(""));
    EXPECT_EQ(list.classifyNumber(L"95588"), L"市话");
#ifndef _WIN32
    fs::remove(path_);
    // Neither waits for a writer nor reads for ever.
    ASSERT_EQ(mkfifo(path_.c_str(), 0600), 0);
    EXPECT_FALSE(list.isSpecialNumber(""));
    fs::remove(path_);
    fs::create_symlink("/dev/zero", path_);
    EXPECT_FALSE(list.isSpecialNumber(""));
    EXPECT_EQ(list.classifyNumber(L"95588"), L"市话");
#endif
    EXPECT_EQ(logTexts(), "") << "the start tells of a list that cannot be read";
}

TEST_F(ClassificationTest, TeletypeFollowsRouteThenTypeAndCarriesOver) {
    Classifier teletypes = classifier(L"010");
    const auto classifyTeletype = [&](const wchar_t* route, const wchar_t* type, const wchar_t* calling,
                                      const wchar_t* called) { teletypes.classifyTeletype(route, type, calling, called); };
    classifyTeletype(L"XO", L"FI", L"8001", L"8002");
    EXPECT_EQ(teletypes.lastTeletype(), L"") << "the first record after start that no rule classifies";
    classifyTeletype(L"IC", L"OU", L"8001", L"0085212345678");
    EXPECT_EQ(teletypes.lastTeletype(), L"内线");
    classifyTeletype(L"IP", L"IN", L"02112345678", L"95588");
    EXPECT_EQ(teletypes.lastTeletype(), L"国内长途");
    classifyTeletype(L"IP", L"FW", L"8001", L"95588");
    EXPECT_EQ(teletypes.lastTeletype(), L"国内长途") << "carried over from the record before";
    classifyTeletype(L"IP", L"OU", L"02112345678", L"95588");
    EXPECT_EQ(teletypes.lastTeletype(), L"特服电话");
    classifyTeletype(L"?", L"LO", L"", L"");
    EXPECT_EQ(teletypes.lastTeletype(), L"内线");
    classifyTeletype(L"IP", L"ou", L"", L"0085212345678");
    EXPECT_EQ(teletypes.lastTeletype(), L"内线") << "codes compare case-sensitively";
}

TEST(Labels, NameTypesAndRoutes) {
    EXPECT_EQ(callTypeLabel(L"IN"), L"呼入");
    EXPECT_EQ(callTypeLabel(L"OU"), L"呼出");
    EXPECT_EQ(callTypeLabel(L"FI"), L"呼叫转移入");
    EXPECT_EQ(callTypeLabel(L"FW"), L"呼叫转移出");
    EXPECT_EQ(callTypeLabel(L"in"), L"内部通话");
    EXPECT_EQ(routeLabel(L"IP"), L"IP中继");
    EXPECT_EQ(routeLabel(L"XO"), L"模拟中继");
    EXPECT_EQ(routeLabel(L"IC"), L"内部");
    EXPECT_EQ(routeLabel(L"?"), L"总机");
}

}  // namespace
}  // namespace quelvar
