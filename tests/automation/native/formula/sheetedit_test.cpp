#include "automation/native/formula/sheetedit.h"

#include <gtest/gtest.h>

using namespace corvane::automation::native::formula;
using corvane::automation::RangeAddress;

TEST(SheetEdit, ShiftIndexTellsWhereARowGoes)
{
    const SheetEdit del = SheetEdit::deleteRows(3, 2);
    EXPECT_EQ(shiftIndex(2, del), 2);
    EXPECT_EQ(shiftIndex(3, del), std::nullopt);
    EXPECT_EQ(shiftIndex(4, del), std::nullopt);
    EXPECT_EQ(shiftIndex(5, del), 3);

    const SheetEdit ins = SheetEdit::insertColumns(3, 2);
    EXPECT_EQ(shiftIndex(2, ins), 2);
    EXPECT_EQ(shiftIndex(3, ins), 5);
    EXPECT_EQ(shiftIndex(16383, ins), std::nullopt);
    EXPECT_EQ(shiftIndex(1048576, SheetEdit::insertRows(1)), std::nullopt);
}

TEST(SheetEdit, AdjustsRangeAddresses)
{
    EXPECT_EQ(adjustRange(RangeAddress{2, 1, 9, 3}, SheetEdit::deleteRows(1, 3)), (RangeAddress{1, 1, 6, 3}));
    EXPECT_EQ(adjustRange(RangeAddress{2, 1, 2, 3}, SheetEdit::deleteRows(2)), std::nullopt);
    EXPECT_EQ(adjustRange(RangeAddress{2, 2, 9, 3}, SheetEdit::insertColumns(3)), (RangeAddress{2, 2, 9, 4}));

    EXPECT_EQ(adjustRangeAddress("A1:C9", SheetEdit::deleteColumns(2)), "A1:B9");
    EXPECT_EQ(adjustRangeAddress("B2", SheetEdit::deleteColumns(2)), std::nullopt);
    EXPECT_EQ(adjustRangeAddress("$A$1:$B$3", SheetEdit::insertRows(2)), "$A$1:$B$4");
    // Untouched text comes back as written.
    EXPECT_EQ(adjustRangeAddress("a1:b2", SheetEdit::deleteRows(5)), "a1:b2");
    EXPECT_EQ(adjustRangeAddress("not an address", SheetEdit::deleteRows(5)), std::nullopt);
}

TEST(SheetEdit, AdjustsSpaceSeparatedListsAndDropsVanishedPieces)
{
    EXPECT_EQ(adjustRangeList("A1:B2 D5 C3:C4 E7:F9", SheetEdit::deleteRows(3, 2)), "A1:B2 D3 E5:F7");
    EXPECT_EQ(adjustRangeList("A3 B4", SheetEdit::deleteRows(3, 2)), "");
    EXPECT_EQ(adjustRangeList("A1:A10", SheetEdit::insertRows(5, 2)), "A1:A12");
    EXPECT_EQ(adjustRangeList("A1:A1048576 C:C", SheetEdit::deleteRows(1)), "A1:A1048576 C:C");
    EXPECT_EQ(adjustRangeList("B1:B3 C1", SheetEdit::deleteColumns(2)), "B1");
}
