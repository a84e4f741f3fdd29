#include "automation/native/formula/formularewriter.h"

#include <gtest/gtest.h>

using namespace corvane::automation::native::formula;

TEST(TranslateFormula, MovesRelativePartsOnly)
{
    EXPECT_EQ(translateFormula("A1+$B$1+C$1+$D1", 2, 1), "B3+$B$1+D$1+$D3");
    EXPECT_EQ(translateFormula("=SUM(A1:A10)", 1, 0), "=SUM(A2:A11)");
    EXPECT_EQ(translateFormula("SUM(A:A,$B:$B,3:5,$7:$7)", 1, 1), "SUM(B:B,$B:$B,4:6,$7:$7)");
    EXPECT_EQ(translateFormula("Sheet2!A1*'It''s'!B2", 1, 0), "Sheet2!A2*'It''s'!B3");
    EXPECT_EQ(translateFormula("SUM(Sheet1:Sheet3!A1)", 0, 1), "SUM(Sheet1:Sheet3!B1)");
    // A shared formula pointing into another workbook is still the master's text moved.
    EXPECT_EQ(translateFormula("[1]Sheet1!A1", 1, 0), "[1]Sheet1!A2");
    EXPECT_EQ(translateFormula("#REF!A1", 1, 0), "#REF!A2");
}

TEST(TranslateFormula, KeepsEverythingButReferencesByteForByte)
{
    const std::string text = "IF( \"A1\"=a1 , LOG10(B1) ,Table1[[#This Row],[C1]]&Rate&#N/A&'x y'!Total )";
    EXPECT_EQ(translateFormula(text, 0, 0), text);
    EXPECT_EQ(translateFormula(text, 1, 0),
              "IF( \"A1\"=A2 , LOG10(B2) ,Table1[[#This Row],[C1]]&Rate&#N/A&'x y'!Total )");
    std::string out = "untouched";
    EXPECT_FALSE(translateFormula(text, 0, 0, out));
    EXPECT_EQ(out, "untouched");
    EXPECT_FALSE(translateFormula("$A$1+SUM($1:$2)", 5, 5, out));
}

TEST(TranslateFormula, ReferencesLeavingTheSheetBecomeRefErrors)
{
    EXPECT_EQ(translateFormula("A1+B2", -1, 0), "#REF!+B1");
    EXPECT_EQ(translateFormula("Sheet1!A1*2", 0, -1), "Sheet1!#REF!*2");
    EXPECT_EQ(translateFormula("SUM('My Sheet'!B2:C3)", 0, -2), "SUM('My Sheet'!#REF!)");
    EXPECT_EQ(translateFormula("XFD1+A1048576", 1, 1), "#REF!+#REF!");
    EXPECT_EQ(translateFormula("A:B", 0, 16383), "#REF!");
    EXPECT_EQ(translateFormula("#REF!A1", -1, 0), "#REF!");
}

TEST(TranslateFormula, CrossedMixedAnchorsAreWrittenInOrder)
{
    EXPECT_EQ(translateFormula("SUM($A1:A$5)", 10, 0), "SUM($A$5:A11)");
    EXPECT_EQ(translateFormula("SUM(A$1:$C1)", 0, 5), "SUM($C$1:F1)");
}

TEST(TranslateFormula, QStringFormKeepsNonAsciiText)
{
    EXPECT_EQ(translateFormula(QStringLiteral("数据!A1&\"表\""), 1, 0), QStringLiteral("数据!A2&\"表\""));
}

TEST(AdjustFormula, DeletingRowsShiftsShrinksAndLosesReferences)
{
    const SheetEdit del = SheetEdit::deleteRows(5);
    EXPECT_EQ(adjustFormula("A4+A5+A6+$A$6", "Sheet1", "Sheet1", del), "A4+#REF!+A5+$A$5");
    EXPECT_EQ(adjustFormula("SUM(A1:A10)+SUM(A5:B5)+SUM(A5:A7)+SUM(A3:A5)", "Sheet1", "Sheet1", del),
              "SUM(A1:A9)+SUM(#REF!)+SUM(A5:A6)+SUM(A3:A4)");
    EXPECT_EQ(adjustFormula("SUM(3:5)+SUM(5:5)+SUM(A:A)", "Sheet1", "Sheet1", del),
              "SUM(3:4)+SUM(#REF!)+SUM(A:A)");
    EXPECT_EQ(adjustFormula("SUM(A3:A7)", "Sheet1", "Sheet1", SheetEdit::deleteRows(2, 4)), "SUM(A2:A3)");
    EXPECT_EQ(adjustFormula("SUM(B7:A3)", "Sheet1", "Sheet1", SheetEdit::deleteRows(2, 4)), "SUM(B3:A2)");
}

TEST(AdjustFormula, AreasWithThePrefixOnBothCornersAreOneArea)
{
    EXPECT_EQ(adjustFormula("SUM(Sheet1!A1:Sheet1!A5)", "X", "Sheet1", SheetEdit::deleteRows(1)),
              "SUM(Sheet1!A1:A4)");
    EXPECT_EQ(adjustFormula("SUM(Sheet1!A1:Sheet1!A5)", "X", "Sheet2", SheetEdit::deleteRows(1)),
              "SUM(Sheet1!A1:Sheet1!A5)");
    EXPECT_EQ(removeSheetFromFormula("SUM('a b'!A1:'a b'!A5)", "A B"), "SUM(#REF!A1:A5)");
    EXPECT_EQ(translateFormula("SUM(Sheet1!A1:Sheet1!A5)", 0, 1), "SUM(Sheet1!B1:B5)");
}

TEST(AdjustFormula, RangesReachingTheSheetEndStayWhole)
{
    const SheetEdit del = SheetEdit::deleteRows(5, 2);
    EXPECT_EQ(adjustFormula("SUM(A1:A1048576)+SUM(A10:A1048576)+SUM($1:$1048576)", "S", "S", del),
              "SUM(A1:A1048576)+SUM(A8:A1048576)+SUM($1:$1048576)");
    EXPECT_EQ(adjustFormula("SUM(A1:A1048576)+A1048576", "S", "S", SheetEdit::insertRows(3)),
              "SUM(A1:A1048576)+#REF!");
    EXPECT_EQ(adjustFormula("SUM(A1:A1048576)+SUM(B2:B1048576)", "S", "S", SheetEdit::insertRows(1)),
              "SUM(A1:A1048576)+SUM(B3:B1048576)");
    EXPECT_EQ(adjustFormula("SUM(1:1048576)+SUM(A1:A1048576)", "S", "S", SheetEdit::deleteRows(1)),
              "SUM(1:1048576)+SUM(A1:A1048576)");
}

TEST(AdjustFormula, InsertingRowsGrowsRangesOnlyStrictlyInside)
{
    const SheetEdit ins = SheetEdit::insertRows(5, 2);
    EXPECT_EQ(adjustFormula("A4+A5+SUM(A1:A10)+SUM(A5:A10)+SUM(A1:A4)+SUM(4:5)", "S", "S", ins),
              "A4+A7+SUM(A1:A12)+SUM(A7:A12)+SUM(A1:A4)+SUM(4:7)");
}

TEST(AdjustFormula, ColumnsWorkLikeRows)
{
    EXPECT_EQ(
        adjustFormula("A1+B1+C1+SUM(A1:C1)+SUM(B:B)+SUM(1:1)+$C$1", "S", "S", SheetEdit::deleteColumns(2)),
        "A1+#REF!+B1+SUM(A1:B1)+SUM(#REF!)+SUM(1:1)+$B$1");
    EXPECT_EQ(adjustFormula("SUM(A:C)+XFD1", "S", "S", SheetEdit::insertColumns(2)), "SUM(A:D)+#REF!");
}

TEST(AdjustFormula, OnlyReferencesIntoTheEditedSheetMove)
{
    const SheetEdit del = SheetEdit::deleteRows(5);
    // Unqualified references point to the formula's own sheet.
    EXPECT_EQ(adjustFormula("A6+Sheet1!A6", "Sheet2", "Sheet1", del), "A6+Sheet1!A5");
    EXPECT_EQ(adjustFormula("A6+Sheet2!A6", "Sheet1", "Sheet1", del), "A5+Sheet2!A6");
    // Sheet names compare without case; quotes and doubled apostrophes are part of the spelling.
    EXPECT_EQ(adjustFormula("sheet1!A5+'It''s'!A6", "X", "Sheet1", del), "sheet1!#REF!+'It''s'!A6");
    EXPECT_EQ(adjustFormula("'it''S'!A5:B5+'It''s'!A6", "X", "It's", del), "'it''S'!#REF!+'It''s'!A5");
    EXPECT_EQ(adjustFormula("'数据'!A6+数据!A7", "X", "数据", del), "'数据'!A5+数据!A6");
    // Left alone: strings, 3-D references, other workbooks, already lost sheets, names.
    const std::string untouched = "\"A6\"&SUM(Sheet1:Sheet3!A6)&[1]Sheet1!A6&#REF!A6&Sheet1!Rate";
    EXPECT_EQ(adjustFormula(untouched, "Sheet1", "Sheet1", del), untouched);
}

TEST(AdjustFormula, DefinedNamesHaveNoHomeSheet)
{
    const SheetEdit del = SheetEdit::deleteRows(2);
    EXPECT_EQ(adjustDefinedName("Sheet1!$A$1:$A$10", "Sheet1", del), "Sheet1!$A$1:$A$9");
    EXPECT_EQ(adjustDefinedName("'Print me'!$2:$2,'Print me'!$A:$A", "print me", del),
              "'Print me'!#REF!,'Print me'!$A:$A");
    EXPECT_EQ(adjustDefinedName("$A$5", "Sheet1", del), "$A$5");
}

TEST(RemoveSheet, ReferencesIntoTheSheetLoseIt)
{
    EXPECT_EQ(removeSheetFromFormula("Sheet2!A1+Sheet1!A1", "Sheet2"), "#REF!A1+Sheet1!A1");
    EXPECT_EQ(removeSheetFromFormula("SUM('My Sheet'!$A$1:B2)", "my sheet"), "SUM(#REF!$A$1:B2)");
    EXPECT_EQ(removeSheetFromFormula("SUM(Data!C:C)*Data!Total", "Data"), "SUM(#REF!C:C)*#REF!");
    const std::string untouched = "\"Sheet2!A1\"&[1]Sheet2!A1&Sheet22!A1&A1";
    EXPECT_EQ(removeSheetFromFormula(untouched, "Sheet2"), untouched);
    // The result reads back as lost-sheet references, which later edits leave alone.
    EXPECT_EQ(adjustFormula(removeSheetFromFormula("Sheet2!A5", "Sheet2"), "Sheet2", "Sheet2",
                            SheetEdit::deleteRows(1)),
              "#REF!A5");
}

TEST(RemoveSheet, ThreeDimensionalSpansLoseTheirEnd)
{
    const std::vector<std::string> order = {"Sheet1", "Sheet2", "Sheet3", "My Sheet"};
    EXPECT_EQ(removeSheetFromFormula("SUM(Sheet1:Sheet3!A1)", "Sheet1", order), "SUM(Sheet2:Sheet3!A1)");
    EXPECT_EQ(removeSheetFromFormula("SUM(Sheet1:Sheet3!A1)", "Sheet3", order), "SUM(Sheet1:Sheet2!A1)");
    EXPECT_EQ(removeSheetFromFormula("SUM(Sheet1:Sheet3!A1)", "Sheet2", order), "SUM(Sheet1:Sheet3!A1)");
    EXPECT_EQ(removeSheetFromFormula("SUM(Sheet2:Sheet3!A1)", "Sheet2", order), "SUM(Sheet3!A1)");
    EXPECT_EQ(removeSheetFromFormula("SUM('Sheet3:My Sheet'!A1)", "Sheet3", order), "SUM('My Sheet'!A1)");
    EXPECT_EQ(removeSheetFromFormula("SUM('Sheet1:My Sheet'!A1)", "Sheet1", order),
              "SUM('Sheet2:My Sheet'!A1)");
    EXPECT_EQ(removeSheetFromFormula("SUM(Sheet1:Sheet3!A1)", "Sheet1"), "SUM(#REF!A1)");
}

TEST(RenameSheet, EveryReferenceIntoTheSheetTakesTheNewNameQuotedAsItNeeds)
{
    struct Case
    {
        const char* formula;
        const char* oldName;
        const char* newName;
        const char* expected;
    };
    const Case cases[] = {
        {"Sheet1!A1+Sheet2!A1*SHEET1!$B$2", "Sheet1", "Totals", "Totals!A1+Sheet2!A1*Totals!$B$2"},
        {"SUM('My Sheet'!A1:B2)", "my sheet", "Plain", "SUM(Plain!A1:B2)"},
        {"Data!A1", "Data", "My Sheet", "'My Sheet'!A1"},
        {"Data!A1", "Data", "It's", "'It''s'!A1"},
        {"'It''s'!B2", "It's", "Its", "Its!B2"},
        {"Data!A1", "Data", "AB12", "'AB12'!A1"},
        {"Data!A1", "Data", "2024", "'2024'!A1"},
        {"Data!A1", "Data", "R1C1", "'R1C1'!A1"},
        {"Data!A1", "Data", "true", "'true'!A1"},
        {"数据!A1&\"表\"", "数据", "数据 二", "'数据 二'!A1&\"表\""},
        // Names behind the sheet, lost cells and areas written with the prefix on both corners.
        {"Data!Total+Data!#REF!+SUM(Data!A1:Data!B5)", "Data", "Q 1",
         "'Q 1'!Total+'Q 1'!#REF!+SUM('Q 1'!A1:B5)"},
        // 3-D spans: the renamed end, quoted as a whole when either name needs it.
        {"SUM(Jan:Mar!A1)", "Mar", "Q1 end", "SUM('Jan:Q1 end'!A1)"},
        {"SUM('Jan:Q1 end'!A1)", "Jan", "First", "SUM('First:Q1 end'!A1)"},
        {"SUM(Jan:Mar!A1)", "Jan", "Start", "SUM(Start:Mar!A1)"},
        {"SUM(Jan:Mar!A1)", "Feb", "Other", "SUM(Jan:Mar!A1)"},
        // Not references into the sheet: other workbooks, texts, longer names, lost sheets.
        {"[1]Data!A1&\"Data!A1\"&Data2!A1&#REF!A1&INDIRECT(\"'Data'!A1\")", "Data", "New",
         "[1]Data!A1&\"Data!A1\"&Data2!A1&#REF!A1&INDIRECT(\"'Data'!A1\")"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(renameSheetInFormula(c.formula, c.oldName, c.newName), c.expected) << c.formula;
    std::string out = "untouched";
    EXPECT_FALSE(renameSheetInFormula("Sheet2!A1+A1", "Sheet1", "X", out));
    EXPECT_EQ(out, "untouched");
}

TEST(LostReferenceStyle, BareWritesTheWholeReferenceAsRefError)
{
    const auto bare = LostReferenceStyle::Bare;
    EXPECT_EQ(
        adjustFormula("Sheet1!A5+'My S'!A5:B5+A5+A6", "Sheet1", "Sheet1", SheetEdit::deleteRows(5), bare),
        "#REF!+'My S'!A5:B5+#REF!+A5");
    EXPECT_EQ(translateFormula("Sheet1!A1", -1, 0, bare), "#REF!");
    EXPECT_EQ(removeSheetFromFormula("Sheet2!A1+Sheet2!Total+SUM(Sheet2:Sheet3!A1)", "Sheet2", {}, bare),
              "#REF!+#REF!+SUM(#REF!)");
}
