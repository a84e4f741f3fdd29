#include "automation/native/formula/sheetname.h"

#include <gtest/gtest.h>

using namespace corvane::automation::native::formula;

TEST(SheetName, QuotesWhenTheNameCouldNotBeReadBare)
{
    for (const char* bare : {"Sheet1", "Data_2019", "a.b", "数据", "Résumé", "A", "AB", "XFDX1", "重算文件"})
        EXPECT_FALSE(sheetNameNeedsQuotes(std::string_view(bare))) << bare;
    for (const char* quoted : {"My Sheet", "2019", "A1", "xfd10", "R1C1", "R", "c", "RC3", "TRUE", "a-b",
                               "It's", "Top10", "数据 表", "Q1（一）", ""})
        EXPECT_TRUE(sheetNameNeedsQuotes(std::string_view(quoted))) << quoted;
    EXPECT_TRUE(sheetNameNeedsQuotes(QStringLiteral("My Sheet")));
    EXPECT_FALSE(sheetNameNeedsQuotes(QStringLiteral("Sheet1")));
}

TEST(SheetName, QuotesAndUnquotesRoundTrip)
{
    EXPECT_EQ(quoteSheetName(std::string_view("It's")), "'It''s'");
    EXPECT_EQ(quoteSheetName(std::string_view("Sheet1")), "Sheet1");
    EXPECT_EQ(unquoteSheetName(std::string_view("'It''s'")), "It's");
    EXPECT_EQ(unquoteSheetName(std::string_view("Sheet1")), "Sheet1");
    EXPECT_EQ(unquoteSheetName(quoteSheetName(QStringLiteral("a ''b'"))), QStringLiteral("a ''b'"));
}

TEST(SheetName, ComparesWithoutCase)
{
    EXPECT_TRUE(sheetNamesEqual("sheet1", "SHEET1"));
    EXPECT_FALSE(sheetNamesEqual("Sheet1", "Sheet10"));
    EXPECT_TRUE(sheetNamesEqual("Ärger", "äRGER"));
    EXPECT_TRUE(sheetNamesEqual("数据", "数据"));
    EXPECT_FALSE(sheetNamesEqual("数据", "数"));
    EXPECT_TRUE(writtenSheetNameEquals("it''S", true, "It's"));
    EXPECT_FALSE(writtenSheetNameEquals("it''S", false, "It's"));
}
