// The row and column walk (delete row, delete column, add row, add column) over the in-memory
// test server, which moves cells and records every edit it makes.
#include "operations/rowcolumn.h"
#include "tests/support/memoryserver.h"
#include "tests/support/recordingsink.h"

#include <gtest/gtest.h>

using namespace corvane::automation;
using namespace corvane::testsupport;

namespace {

using Cells = std::vector<std::pair<QString, QString>>;

// Gives up after too many searches, so that a walk that would never end fails the test.
class WalkSheet : public MemorySheet
{
public:
    explicit WalkSheet(const Cells& cells = {}) : MemorySheet(QStringLiteral("S"), false)
    {
        for (const auto& [address, text] : cells)
            put(address, text);
    }

    std::optional<CellAddress> find(const RangeAddress& in, const FindQuery& query,
                                    std::optional<CellAddress> after) override
    {
        EXPECT_TRUE(!after || in.contains(*after)) << "search after a cell outside its range";
        if (++finds > 200)
            return std::nullopt;
        lookIns.append(query.lookIn);
        return MemorySheet::find(in, query, after);
    }

    void put(const QString& address, const QString& text)
    {
        const auto at = parseRangeAddress(address);
        cells()[{at->firstRow, at->firstColumn}] = text;
    }
    QString at(const QString& address)
    {
        const auto a = parseRangeAddress(address);
        const auto it = cells().find({a->firstRow, a->firstColumn});
        return it == cells().end() ? QString() : it->second;
    }

    int finds = 0;
    QList<LookIn> lookIns;
};

RowColumnOptions options(RowColumnMode mode, const QString& find = QStringLiteral("x"))
{
    RowColumnOptions o;
    o.mode = mode;
    o.locating.findText = find;
    return o;
}

struct Worked
{
    Operation::AfterSheet after;
    int cells;
};

Worked work(const RowColumnOptions& o, Sheet& sheet, RecordingSink& sink)
{
    RowColumnOperation op(o);
    op.takeUpWorkbook(QStringLiteral("C:\\w.xlsx"));
    op.beginWorkbook();
    const Operation::AfterSheet after = op.workOnSheet(sheet, sink);
    return {after, op.cellCount()};
}

} // namespace

TEST(RowColumnRange, FollowsEditsLikeTheApplicationsRangeObjects)
{
    const RangeAddress r{3, 2, 9, 4}; // B3:D9
    EXPECT_EQ(rangeAfterEdit(r, true, 5, false), (RangeAddress{3, 2, 8, 4}));
    EXPECT_EQ(rangeAfterEdit(r, true, 3, false), (RangeAddress{3, 2, 8, 4}));
    EXPECT_EQ(rangeAfterEdit(r, true, 1, false), (RangeAddress{2, 2, 8, 4}));
    EXPECT_EQ(rangeAfterEdit(r, true, 10, false), r);
    EXPECT_EQ(rangeAfterEdit(r, true, 3, true), (RangeAddress{4, 2, 10, 4}));
    EXPECT_EQ(rangeAfterEdit(r, true, 4, true), (RangeAddress{3, 2, 10, 4}));
    EXPECT_EQ(rangeAfterEdit(r, false, 2, false), (RangeAddress{3, 2, 9, 3}));
    EXPECT_FALSE(rangeAfterEdit(RangeAddress{3, 2, 3, 4}, true, 3, false));
}

TEST(RowColumnWalk, DeleteRowTakesTheRowsOfA2ThenOfTheFormerB5AndC5)
{
    WalkSheet s({{"A1", "a"}, {"A2", "x"}, {"B5", "x"}, {"C5", "x"}, {"C9", "z"}});
    RecordingSink sink;
    const Worked w = work(options(RowColumnMode::DeleteRow), s, sink);
    EXPECT_EQ(s.edits(), (QStringList{"delete row 2", "delete row 4"}));
    EXPECT_EQ(w.cells, 2);
    EXPECT_EQ(s.at("C7"), "z");
}

TEST(RowColumnWalk, DeleteRowInTheFirstRowSearchesOnFromTheNewTopLeftCell)
{
    // The used range is A1:B4; A1, the top-left cell, is found last, after the other matches.
    WalkSheet s({{"A1", "x"}, {"A2", "x"}, {"B3", "y"}, {"B4", "x"}});
    RecordingSink sink;
    const Worked w = work(options(RowColumnMode::DeleteRow), s, sink);
    EXPECT_EQ(s.edits(), (QStringList{"delete row 2", "delete row 3", "delete row 1"}));
    EXPECT_EQ(w.cells, 3);
    EXPECT_EQ(s.at("B1"), "y");
}

TEST(RowColumnWalk, DeleteColumnWithOncePerSheetDeletesOneColumn)
{
    WalkSheet s({{"A1", "a"}, {"B1", "x"}, {"C2", "x"}});
    RecordingSink sink;
    RowColumnOptions o = options(RowColumnMode::DeleteColumn);
    o.locating.sheetFillOnce = true;
    const Worked w = work(o, s, sink);
    EXPECT_EQ(s.edits(), (QStringList{"delete column 2"}));
    EXPECT_EQ(w.cells, 1);
    EXPECT_EQ(w.after, Operation::AfterSheet::NextSheet);

    WalkSheet t({{"A1", "a"}, {"B1", "x"}, {"C2", "x"}});
    o.locating.sheetFillOnce = false;
    o.locating.workbookFillOnce = true;
    EXPECT_EQ(work(o, t, sink).after, Operation::AfterSheet::EndWorkbook);
}

TEST(RowColumnWalk, AddRowAboveASingleMatchCountsOnceAndEndsWhenTheSearchMeetsItAgain)
{
    WalkSheet s({{"A1", "a"}, {"B3", "x"}, {"C5", "z"}});
    RecordingSink sink;
    const Worked w = work(options(RowColumnMode::AddRow), s, sink);
    EXPECT_EQ(s.edits(), (QStringList{"insert row 3"}));
    EXPECT_EQ(s.at("B4"), "x");
    EXPECT_EQ(w.cells, 1);
}

TEST(RowColumnWalk, AddRowBelowTwoMatches)
{
    WalkSheet s({{"A1", "a"}, {"B3", "x"}, {"B6", "x"}, {"C8", "z"}});
    RecordingSink sink;
    RowColumnOptions o = options(RowColumnMode::AddRow);
    o.insertDownOrRight = true;
    const Worked w = work(o, s, sink);
    EXPECT_EQ(s.edits(), (QStringList{"insert row 4", "insert row 8"}));
    EXPECT_EQ(s.at("B3"), "x");
    EXPECT_EQ(s.at("B7"), "x");
    EXPECT_EQ(w.cells, 2);
}

TEST(RowColumnWalk, AddColumnEndsAtTheFirstMatchLeftOfTheLowestColumn)
{
    // A single match in C2: the column goes in at C, the search goes on after E1 and comes
    // round to D2.
    WalkSheet s({{"A1", "a"}, {"C2", "x"}, {"C3", "z"}});
    RecordingSink sink;
    Worked w = work(options(RowColumnMode::AddColumn), s, sink);
    EXPECT_EQ(s.edits(), (QStringList{"insert column 3"}));
    EXPECT_EQ(s.at("D2"), "x");
    EXPECT_EQ(w.cells, 1);

    // Matches in C2 and B5: searching row by row, D2 is met first after the insertion and
    // ends the sheet; B5 gets no column.
    WalkSheet t({{"A1", "a"}, {"C2", "x"}, {"B5", "x"}});
    w = work(options(RowColumnMode::AddColumn), t, sink);
    EXPECT_EQ(t.edits(), (QStringList{"insert column 3"}));
    EXPECT_EQ(w.cells, 1);
}

TEST(RowColumnWalk, OffsetsDoNotApplyAndFormulasAreSearchedOnlyWhenAsked)
{
    WalkSheet s({{"A1", "a"}, {"B2", "=x1+1"}, {"B4", "x"}});
    RecordingSink sink;
    RowColumnOptions o = options(RowColumnMode::DeleteRow);
    o.locating.rowOffset = 3;
    o.locating.columnOffset = 2;
    Worked w = work(o, s, sink);
    // Values: the formula's shown value does not hold x, so only B4's row goes.
    EXPECT_EQ(s.edits(), (QStringList{"delete row 4"}));
    EXPECT_EQ(w.cells, 1);
    EXPECT_TRUE(s.lookIns.contains(LookIn::Values));
    EXPECT_FALSE(s.lookIns.contains(LookIn::Formulas));

    WalkSheet t({{"A1", "a"}, {"B2", "=x1+1"}, {"B4", "y"}});
    o.locating.findInFormula = true;
    w = work(o, t, sink);
    EXPECT_EQ(t.edits(), (QStringList{"delete row 2"}));
    EXPECT_FALSE(t.lookIns.contains(LookIn::Values));
}

TEST(RowColumnWalk, AppointedCellsAreResolvedOnTheSheetAsTheEarlierDeletionsLeftIt)
{
    WalkSheet s({{"A1", "a"}, {"B6", "six"}, {"B9", "z"}});
    RecordingSink sink;
    RowColumnOptions o = options(RowColumnMode::DeleteRow, QString());
    o.locating.appointCellOn = true;
    o.locating.appointCells = QStringLiteral("B3,B5");
    const Worked w = work(o, s, sink);
    // Row 3 goes; then B5 is the former B6, whose row goes.
    EXPECT_EQ(s.edits(), (QStringList{"delete row 3", "delete row 5"}));
    EXPECT_EQ(w.cells, 2);
    EXPECT_EQ(s.at("B7"), "z");
}

TEST(RowColumnWalk, AppointedCellsWithTheAddOperationsInsertBeforeOrAfterTheNamedCell)
{
    WalkSheet s(Cells{{"A1", "a"}});
    RecordingSink sink;
    RowColumnOptions o = options(RowColumnMode::AddColumn, QString());
    o.locating.appointCellOn = true;
    o.locating.appointCells = QStringLiteral("C3,E1");
    EXPECT_EQ(work(o, s, sink).cells, 2);
    EXPECT_EQ(s.edits(), (QStringList{"insert column 3", "insert column 5"}));

    WalkSheet t(Cells{{"A1", "a"}});
    o.mode = RowColumnMode::AddRow;
    o.insertDownOrRight = true;
    work(o, t, sink);
    EXPECT_EQ(t.edits(), (QStringList{"insert row 4", "insert row 2"}));
}

TEST(RowColumnWalk, ARefusedDeletionEndsTheSheetAndIsReportedNotCounted)
{
    WalkSheet s({{"A1", "a"}, {"A2", "x"}, {"B5", "x"}});
    s.setLocked(true);
    RecordingSink sink;
    const Worked w = work(options(RowColumnMode::DeleteRow), s, sink);
    EXPECT_EQ(w.cells, 0);
    EXPECT_LE(s.finds, 2);
    EXPECT_TRUE(sink.events.contains(
        QStringLiteral("failed:C:\\w.xlsx:sheet \"S\": could not delete row 2: the sheet is protected")))
        << sink.events.join('\n').toStdString();
}

TEST(RowColumnWalk, ARefusedInsertionEndsWhenTheSearchComesRoundAndIsReportedOnce)
{
    WalkSheet s({{"A1", "a"}, {"B3", "x"}, {"B6", "x"}});
    s.setLocked(true);
    RecordingSink sink;
    const Worked w = work(options(RowColumnMode::AddRow), s, sink);
    EXPECT_EQ(w.cells, 0);
    EXPECT_LT(s.finds, 5);
    // Both matches are refused for the same reason; saying it again adds nothing.
    EXPECT_EQ(sink.events.filter(QStringLiteral("could not insert a row")).size(), 1);
}
