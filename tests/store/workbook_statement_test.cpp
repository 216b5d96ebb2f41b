#include "store/workbook_statement.h"

#include <gtest/gtest.h>

namespace quelvar {
namespace {

using Kind = WorkbookStatement::Kind;

TEST(WorkbookStatement, ReadsTheTwoFormsTheExportIssues) {
    WorkbookStatement statement;
    ASSERT_TRUE(
        parseWorkbookStatement(L"CREATE TABLE \"01\"(\"帐号\" TEXT,\"类型\" TEXT,\"主叫\" TEXT,\"被叫\" TEXT,\"时间\" "
                               L"TEXT,\"时长\" TEXT,\"线路\" TEXT)",
                               statement));
    EXPECT_EQ(statement.kind, Kind::createSheet);
    EXPECT_EQ(statement.sheet, L"01");
    EXPECT_EQ(statement.columns,
              (std::vector<std::wstring>{L"帐号", L"类型", L"主叫", L"被叫", L"时间", L"时长", L"线路"}));

    ASSERT_TRUE(
        parseWorkbookStatement(L"INSERT INTO \"01\"(\"帐号\",\"类型\") VALUES('8001','O''Brien, (x)')", statement));
    EXPECT_EQ(statement.kind, Kind::insertRow);
    EXPECT_EQ(statement.sheet, L"01");
    EXPECT_EQ(statement.columns, (std::vector<std::wstring>{L"帐号", L"类型"}));
    EXPECT_EQ(statement.values, (std::vector<std::wstring>{L"8001", L"O'Brien, (x)"}));
}

TEST(WorkbookStatement, TakesAnyCaseSpacingBareNamesAndEmptyOrLongValues) {
    WorkbookStatement statement;
    const std::wstring longValue(5000, L'长');
    ASSERT_TRUE(parseWorkbookStatement(
        L"  insert\tInto Sheet_1 ( a , \"b\"\"c\" )\r\nvalues ( '' , '" + longValue + L"' ) ;", statement));
    EXPECT_EQ(statement.sheet, L"Sheet_1");
    EXPECT_EQ(statement.columns, (std::vector<std::wstring>{L"a", L"b\"c"}));
    EXPECT_EQ(statement.values, (std::vector<std::wstring>{L"", longValue}));
}

TEST(WorkbookStatement, RefusesEverythingElse) {
    WorkbookStatement statement;
    for (const wchar_t* text : {
             L"",
             L"SELECT * FROM \"01\"",
             L"CREATE TABLE \"01\"(\"a\" NUMBER)",
             L"CREATE TABLE \"01\"()",
             L"CREATE TABLES \"01\"(\"a\" TEXT)",
             L"CREATE TABLE \"01(\"a\" TEXT)",
             L"INSERT INTO \"01\"(\"a\") VALUES('x)",
             L"INSERT INTO \"01\"(\"a\") VALUES(x)",
             L"INSERT INTO \"01\"(\"a\") VALUES('x') AND MORE",
             L"INSERT INTO \"01\"(\"a\")",
             L"DROP TABLE \"01\"",
         })
        EXPECT_FALSE(parseWorkbookStatement(text, statement)) << testing::PrintToString(std::wstring(text));
}

}  // namespace
}  // namespace quelvar
