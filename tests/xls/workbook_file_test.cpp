#include "xls/workbook_file.h"

#include <gtest/gtest.h>

#include "xls/biff.h"
#include "xls/compound_file.h"
#include "xls/workbook_dump.h"

namespace quelvar::xls {
namespace {

TEST(WorkbookFile, WritesAFileThatReadsBackTheSame) {
    Workbook written;
    written.strings = {u"帐号", u"8001"};
    written.sheets = {{u"01", 0, {{0, 0, CellKind::text, 0, 0}, {1, 0, CellKind::text, 1, 0}}}};
    Workbook read;
    std::string why;
    ASSERT_EQ(readWorkbookFile(workbookFileBytes(written), read, why), FileReadResult::ok) << why;
    EXPECT_EQ(dumpWorkbook(read), "sheet 01\n帐号\n8001\n");
}

TEST(WorkbookFile, TellsWhatAFileIsWhenItIsNoWorkbook) {
    const std::string whole = workbookFileBytes({{}, {{u"01", 0, {}}}});
    const struct {
        std::string bytes;
        FileReadResult result;
        const char* why;
    } cases[] = {
        {"", FileReadResult::notCompoundFile, ""},
        {"a,b,c\r\n1,2,3\r\n", FileReadResult::notCompoundFile, ""},
        {whole.substr(0, 1000), FileReadResult::damagedContainer, ""},
        {writeCompoundFile(u"WordDocument", "x"), FileReadResult::noWorkbook, ""},
        {writeCompoundFile(u"Book", "x"), FileReadResult::olderVersion, ""},
        {writeCompoundFile(u"Workbook", "x"), FileReadResult::damagedWorkbook, "a substream does not begin with BOF"},
    };
    for (const auto& each : cases) {
        Workbook workbook{{u"stale"}, {}};
        std::string why;
        EXPECT_EQ(readWorkbookFile(each.bytes, workbook, why), each.result) << each.bytes.size();
        EXPECT_EQ(why, each.why);
        EXPECT_TRUE(workbook.strings.empty() && workbook.sheets.empty()) << "nothing half read is kept";
    }
}

}  // namespace
}  // namespace quelvar::xls
