// The cell rewrites and the cell locating they share with the other cell operations, over
// the in-memory test server.
#include "operations/cellrewrite.h"
#include "run/runskeleton.h"
#include "tests/support/memoryserver.h"
#include "tests/support/recordingsink.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace corvane::automation;
using namespace corvane::testsupport;

namespace {

// A sheet that gives up after too many searches, so that a walk that would never end fails
// the test instead of hanging it, and that remembers the order of its writes.
class GuardedSheet : public MemorySheet
{
public:
    GuardedSheet() : MemorySheet(QStringLiteral("S"), false) {}

    std::optional<CellAddress> find(const RangeAddress& in, const FindQuery& query,
                                    std::optional<CellAddress> after) override
    {
        if (++finds > 100)
            return std::nullopt;
        return MemorySheet::find(in, query, after);
    }
    // The memory sheet writes formulas through setValue as well.
    bool setValue(const CellAddress& cell, const QString& text) override
    {
        writes.append(cellName(cell));
        return MemorySheet::setValue(cell, text);
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
    QStringList writes;
};

CellRewriteOptions rewrite(CellRewriteMode mode, const QString& find, const QString& newText)
{
    CellRewriteOptions o;
    o.mode = mode;
    o.locating.findText = find;
    o.newText = newText;
    return o;
}

// Works one sheet as the skeleton would hand it over; returns what the operation asked next.
Operation::AfterSheet workSheet(CellRewriteOperation& op, Sheet& sheet, RecordingSink& sink)
{
    op.takeUpWorkbook(QStringLiteral("C:\\w.xlsx"));
    op.beginWorkbook();
    return op.workOnSheet(sheet, sink);
}

QString withoutSeconds(QString text)
{
    return text.replace(QRegularExpression(QStringLiteral("耗时\\d+秒。")), QStringLiteral("耗时N秒。"));
}

struct CellRun
{
    QTemporaryDir dir;
    std::shared_ptr<ServerJournal> journal = std::make_shared<ServerJournal>();
    RecordingSink sink;
    RunSettings settings;

    QString path(const QString& name) const { return dir.path() + QLatin1Char('/') + name; }
    RunEnd run(const CellRewriteOptions& options, int* cells = nullptr)
    {
        settings.sourcePath = dir.path() + QLatin1Char('/');
        CellRewriteOperation op(options);
        const RunEnd end = runOperation(
            settings, [this] { return std::make_unique<MemoryServer>(journal); }, op, sink);
        if (cells)
            *cells = op.cellCount();
        return end;
    }
    QString cell(const QString& file, int sheet, const QString& address) const
    {
        return readMemorySheet(path(file), sheet).value(address).toString();
    }
};

} // namespace

TEST(CellLocating, AppointedItemsKeepEmptyItemsAndBlanksAndReadFullWidthCommas)
{
    EXPECT_EQ(appointedCellItems(QStringLiteral("B3，D5,,F2")), (QStringList{"B3", "D5", "", "F2"}));
    EXPECT_EQ(appointedCellItems(QStringLiteral("B3, D5")), (QStringList{"B3", " D5"}));
    EXPECT_EQ(appointedCellItems(QStringLiteral("B3,")), (QStringList{"B3", ""}));
}

TEST(CellLocating, TargetsAreRaisedToOneButHaveNoUpperBound)
{
    EXPECT_EQ(offsetTarget({2, 2}, -5, 0), (CellAddress{1, 2}));
    EXPECT_EQ(offsetTarget({2, 2}, 0, -3), (CellAddress{2, 1}));
    EXPECT_EQ(offsetTarget({1, 1}, 0, 10), (CellAddress{1, 11}));
    // Past the sheet's edge there is no cell; the coordinate must not wrap round into it.
    EXPECT_FALSE(offsetTarget({kMaxRows, 1}, 1, 0).isValid());
    EXPECT_FALSE(offsetTarget({1, kMaxColumns}, 0, 2147483647).isValid());
}

TEST(CellLocating, SheetLineShowsOnePastTheLastRowAndColumn)
{
    EXPECT_EQ(sheetLine(QStringLiteral("数据"), RangeAddress{1, 1, 7, 3}),
              QStringLiteral("Sheet:数据,识别出 8行,4列。(如超出实际,请进行提速设置)"));
    EXPECT_EQ(sheetLine(QStringLiteral("S"), RangeAddress{3, 2, 4, 5}),
              QStringLiteral("Sheet:S,识别出 5行,6列。(如超出实际,请进行提速设置)"));
}

TEST(CellLocating, ReplacementIsCaseSensitiveLeftToRightWithoutOverlap)
{
    EXPECT_EQ(replaceExactly("xaby", "ab", "Z"), "xZy");
    EXPECT_EQ(replaceExactly("ABC abc", "abc", "q"), "ABC q");
    EXPECT_EQ(replaceExactly("aaa", "aa", "b"), "ba");
    // The inserted text is not searched again.
    EXPECT_EQ(replaceExactly("ab", "a", "aa"), "aab");
    EXPECT_EQ(replaceExactly("ab", "", "Z"), "ZaZbZ");
    EXPECT_EQ(replaceExactly("", "", "Z"), "Z");
    EXPECT_EQ(replaceExactly("", "a", "Z"), "");
    // A character outside the basic plane is not split by the empty find text.
    const QString clef = QString::fromUcs4(U"\U0001D11E");
    EXPECT_EQ(replaceExactly(clef, "", "-"), "-" + clef + "-");
}

TEST(CellWalk, EndsAndOperatesOnceWhenAWriteMakesTheFirstMatchStopMatching)
{
    // B1 is found first and writes into C1; A1 then writes into B1, which stops matching.
    // Following the first match alone, the search would meet A1 again and again.
    GuardedSheet sheet;
    sheet.put("A1", "x");
    sheet.put("B1", "x");
    RecordingSink sink;
    CellRewriteOptions o = rewrite(CellRewriteMode::FillText, "x", "y");
    o.locating.columnOffset = 1;
    CellRewriteOperation op(o);
    workSheet(op, sheet, sink);
    EXPECT_LT(sheet.finds, 100);
    EXPECT_EQ(sheet.writes, (QStringList{"C1", "B1"}));
    EXPECT_EQ(op.cellCount(), 2);
    EXPECT_EQ(sheet.at("A1"), "x");
    EXPECT_EQ(sheet.at("B1"), "y");
    EXPECT_EQ(sheet.at("C1"), "y");
}

TEST(CellWalk, TopLeftMatchComesLastAndAFillThatStillMatchesIsWrittenOnce)
{
    GuardedSheet sheet;
    sheet.put("A1", "x");
    sheet.put("B2", "x");
    sheet.put("A3", "ax");
    RecordingSink sink;
    CellRewriteOperation op(rewrite(CellRewriteMode::FillText, "x", "xx"));
    workSheet(op, sheet, sink);
    EXPECT_EQ(sheet.writes, (QStringList{"B2", "A3", "A1"}));
    EXPECT_EQ(op.cellCount(), 3);
    EXPECT_EQ(sheet.at("A3"), "xx");
}

TEST(CellWalk, MatchesThatWritesCreateAreVisitedUntilTheFirstMatchComesRound)
{
    // Each write puts the find text one cell to the left: the new match in B1 lies behind the
    // search, before the first match C1, and is still worked; A1 is then found only after C1.
    GuardedSheet sheet;
    sheet.put("C1", "x");
    RecordingSink sink;
    CellRewriteOptions o = rewrite(CellRewriteMode::FillText, "x", "x");
    o.locating.columnOffset = -1;
    o.locating.findRangeOn = true;
    o.locating.findRange = "A1:C1";
    CellRewriteOperation op(o);
    workSheet(op, sheet, sink);
    EXPECT_EQ(sheet.writes, (QStringList{"B1", "A1"}));
    EXPECT_EQ(op.cellCount(), 2);
}

TEST(CellWalk, OnceOptionsStopAfterTheFirstMatchAfterTheTopLeftCell)
{
    for (const bool perWorkbook : {false, true}) {
        GuardedSheet sheet;
        sheet.put("A1", "x");
        sheet.put("B2", "x");
        sheet.put("C3", "x");
        RecordingSink sink;
        CellRewriteOptions o = rewrite(CellRewriteMode::FillText, "x", "done");
        (perWorkbook ? o.locating.workbookFillOnce : o.locating.sheetFillOnce) = true;
        CellRewriteOperation op(o);
        const Operation::AfterSheet next = workSheet(op, sheet, sink);
        EXPECT_EQ(sheet.writes, QStringList{"B2"});
        EXPECT_EQ(next, perWorkbook ? Operation::AfterSheet::EndWorkbook : Operation::AfterSheet::NextSheet);
    }
}

TEST(CellWalk, OffsetsAreClampedAndMayLeaveTheSearchRange)
{
    struct Case
    {
        int down, right;
        QString expected;
    } cases[] = {{-5, 0, "B1"}, {0, -3, "A2"}};
    for (const Case& c : cases) {
        GuardedSheet sheet;
        sheet.put("B2", "x");
        sheet.put("C3", "other");
        RecordingSink sink;
        CellRewriteOptions o = rewrite(CellRewriteMode::FillText, "x", "hit");
        o.locating.rowOffset = c.down;
        o.locating.columnOffset = c.right;
        CellRewriteOperation op(o);
        workSheet(op, sheet, sink);
        EXPECT_EQ(sheet.writes, QStringList{c.expected});
        EXPECT_EQ(sheet.at("B2"), "x");
    }

    GuardedSheet sheet;
    sheet.put("A1", "x");
    RecordingSink sink;
    CellRewriteOptions o = rewrite(CellRewriteMode::FillText, "x", "far");
    o.locating.columnOffset = 10;
    o.locating.findRangeOn = true;
    o.locating.findRange = "A1:C7";
    CellRewriteOperation op(o);
    workSheet(op, sheet, sink);
    EXPECT_EQ(sheet.at("K1"), "far");
    // The sheet line describes the find range, not the used range.
    EXPECT_EQ(sink.only("status:"), QStringList{"Sheet:S,识别出 8行,4列。(如超出实际,请进行提速设置)"});
}

TEST(CellWalk, TextModesSearchValuesAndFormulaModesFormulasWhateverTheSwitchSays)
{
    // The memory server does not calculate: the formula's value is empty, its text holds abc.
    for (const CellRewriteMode mode : {CellRewriteMode::FillText, CellRewriteMode::FillFormula}) {
        for (const bool inFormula : {false, true}) {
            GuardedSheet sheet;
            sheet.put("A1", "top");
            sheet.put("A2", "=\"abc\"&B9");
            sheet.put("A3", "abc");
            RecordingSink sink;
            CellRewriteOptions o = rewrite(mode, "abc", "1");
            o.locating.findInFormula = inFormula;
            CellRewriteOperation op(o);
            workSheet(op, sheet, sink);
            if (mode == CellRewriteMode::FillText)
                EXPECT_EQ(sheet.writes, QStringList{"A3"});
            else
                EXPECT_EQ(sheet.writes, (QStringList{"A2", "A3"}));
        }
    }
}

TEST(CellWalk, ChangeModesRewriteTheNeighbourFromTheMatch)
{
    GuardedSheet sheet;
    sheet.put("A1", "old and more");
    sheet.put("B1", "keep");
    sheet.put("A2", "=SUM(old1)");
    RecordingSink sink;
    CellRewriteOptions o = rewrite(CellRewriteMode::ChangeText, "old", "new");
    o.locating.columnOffset = 1;
    CellRewriteOperation changeText(o);
    workSheet(changeText, sheet, sink);
    EXPECT_EQ(sheet.at("A1"), "old and more");
    EXPECT_EQ(sheet.at("B1"), "new and more");
    EXPECT_EQ(sheet.at("B2"), ""); // the formula's value holds no "old"

    o.mode = CellRewriteMode::ChangeFormula;
    o.locating.columnOffset = 0;
    o.locating.findText = "SUM";
    o.newText = "AVERAGE";
    CellRewriteOperation changeFormula(o);
    workSheet(changeFormula, sheet, sink);
    EXPECT_EQ(sheet.at("A2"), "=AVERAGE(old1)");
}

TEST(CellWalk, CaseInsensitiveFindWithCaseSensitiveReplacementStillCounts)
{
    GuardedSheet sheet;
    sheet.put("A2", "ABC");
    RecordingSink sink;
    CellRewriteOperation op(rewrite(CellRewriteMode::ChangeText, "abc", "x"));
    workSheet(op, sheet, sink);
    EXPECT_EQ(sheet.at("A2"), "ABC");
    EXPECT_EQ(op.cellCount(), 1);
    EXPECT_TRUE(op.endWorkbook().save);
}

TEST(CellSheet, SingleEmptyCellIsNotSearchedButGetsItsLine)
{
    GuardedSheet sheet;
    RecordingSink sink;
    CellRewriteOperation op(rewrite(CellRewriteMode::FillText, "x", "y"));
    workSheet(op, sheet, sink);
    EXPECT_EQ(sheet.finds, 0);
    EXPECT_EQ(sink.only("status:"), QStringList{"Sheet:S,识别出 2行,2列。(如超出实际,请进行提速设置)"});
    EXPECT_FALSE(op.endWorkbook().save);
}

TEST(CellSheet, BlankFindRangeMeansTheUsedRangeAndAnInvalidOneEndsTheRun)
{
    GuardedSheet sheet;
    sheet.put("C4", "x");
    RecordingSink sink;
    CellRewriteOptions o = rewrite(CellRewriteMode::FillText, "x", "y");
    o.locating.findRangeOn = true;
    CellRewriteOperation blank(o);
    EXPECT_EQ(workSheet(blank, sheet, sink), Operation::AfterSheet::NextSheet);
    EXPECT_EQ(sheet.at("C4"), "y");

    o.locating.findRange = "nonsense!";
    CellRewriteOperation invalid(o);
    EXPECT_EQ(workSheet(invalid, sheet, sink), Operation::AfterSheet::EndRun);
    EXPECT_EQ(sink.only("status:").last(), "此文件指定区域无效,请重新设置!C:\\w.xlsx");
}

TEST(CellSheet, ChartSheetIsPassedOverNotTakenForAnInvalidRange)
{
    MemorySheet chart(QStringLiteral("Chart1"), true);
    RecordingSink sink;
    CellRewriteOperation op(rewrite(CellRewriteMode::FillText, "x", "y"));
    EXPECT_EQ(workSheet(op, chart, sink), Operation::AfterSheet::NextSheet);
    EXPECT_TRUE(sink.events.isEmpty());
}

TEST(CellAppointed, ItemsIgnoreOffsetsAndOnceOptionsAndEmptyItemsAreSkipped)
{
    GuardedSheet sheet;
    sheet.put("B3", "b3");
    RecordingSink sink;
    CellRewriteOptions o = rewrite(CellRewriteMode::FillText, "unused", "set");
    o.locating.appointCellOn = true;
    o.locating.appointCells = QStringLiteral("B3，D5,,F2");
    o.locating.columnOffset = 2;
    o.locating.sheetFillOnce = true;
    CellRewriteOperation op(o);
    EXPECT_EQ(workSheet(op, sheet, sink), Operation::AfterSheet::NextSheet);
    EXPECT_EQ(sheet.writes, (QStringList{"B3", "D5", "F2"}));
    EXPECT_EQ(op.cellCount(), 3);
    EXPECT_EQ(sheet.finds, 0);
}

TEST(CellAppointed, EmptyFindTextInsertsBeforeEveryCharacterAndAtTheEnd)
{
    GuardedSheet sheet;
    sheet.put("A1", "ab");
    RecordingSink sink;
    CellRewriteOptions o = rewrite(CellRewriteMode::ChangeText, "", "Z");
    o.locating.appointCellOn = true;
    o.locating.appointCells = "A1,C3";
    CellRewriteOperation op(o);
    workSheet(op, sheet, sink);
    EXPECT_EQ(sheet.at("A1"), "ZaZbZ");
    EXPECT_EQ(sheet.at("C3"), "Z");
}

TEST(CellAppointed, OncePerWorkbookEndsTheWorkbookOnlyWhenTheLastItemNamedACell)
{
    for (const QString& list : {QStringLiteral("B3,D5"), QStringLiteral("B3,XYZ"), QStringLiteral("B3,")}) {
        GuardedSheet sheet;
        RecordingSink sink;
        CellRewriteOptions o = rewrite(CellRewriteMode::FillText, "", "v");
        o.locating.appointCellOn = true;
        o.locating.appointCells = list;
        o.locating.workbookFillOnce = true;
        CellRewriteOperation op(o);
        const Operation::AfterSheet next = workSheet(op, sheet, sink);
        EXPECT_EQ(next,
                  list == "B3,D5" ? Operation::AfterSheet::EndWorkbook : Operation::AfterSheet::NextSheet)
            << list.toStdString();
        EXPECT_EQ(sheet.at("B3"), "v");
    }
}

TEST(CellRun, CountsDecidesPerWorkbookAndSummarises)
{
    CellRun r;
    writeMemoryWorkbook(r.path("a.xlsx"), {{"S1", {{"A1", "x"}, {"B2", "x"}}}, {"S2", {{"C3", "x"}}}});
    writeMemoryWorkbook(r.path("b.xlsx"), {{"S1", {{"A1", "none"}}}});
    int cells = 0;
    EXPECT_EQ(r.run(rewrite(CellRewriteMode::FillText, "x", ""), &cells), RunEnd::Completed);
    // An empty new text empties the cells; they still count and the workbook is saved.
    EXPECT_EQ(cells, 3);
    EXPECT_EQ(r.cell("a.xlsx", 0, "B2"), "");
    EXPECT_EQ(r.cell("a.xlsx", 1, "C3"), "");
    EXPECT_EQ(r.journal->saved.size(), 1);

    const QStringList statuses = r.sink.only("status:");
    EXPECT_EQ(statuses.first(), "excel OK!");
    EXPECT_EQ(statuses.at(1), "WorkBooks OK!");
    EXPECT_TRUE(statuses.contains("正在修改：" + QDir::toNativeSeparators(r.path("a.xlsx"))));
    EXPECT_EQ(withoutSeconds(statuses.last()),
              "成功查找2个Excel文件,修改1个Excel文件,修改3个单元格。耗时N秒。");
    EXPECT_TRUE(r.sink.lists.value("Matched").endsWith("a.xlsx\n"));
    EXPECT_TRUE(r.sink.lists.value("Unmatched").endsWith("b.xlsx\n"));
    // The summary comes before the end signal, the lists after it, the quit last.
    const int ended = int(r.sink.events.indexOf("ended"));
    EXPECT_LT(r.sink.events.indexOf("status:" + statuses.last()), ended);
    EXPECT_GT(r.sink.events.indexOf("list:Matched"), ended);
}

TEST(CellRun, CellsOfAWorkbookThatWasNotSavedDoNotCount)
{
    CellRun r;
    writeMemoryWorkbook(r.path("a.xlsx"), {{"S1", {{"A1", "x"}, {"B2", "x"}}}}, "disk full");
    writeMemoryWorkbook(r.path("b.xlsx"), {{"S1", {{"A1", "x"}}}}, {}, "damaged: sheet2");
    writeMemoryWorkbook(r.path("c.xlsx"), {{"S1", {{"A1", "x"}}}});
    int cells = 0;
    r.run(rewrite(CellRewriteMode::FillText, "x", "y"), &cells);
    EXPECT_EQ(cells, 1);
    EXPECT_EQ(withoutSeconds(r.sink.only("status:").last()),
              "成功查找3个Excel文件,修改1个Excel文件,修改1个单元格。耗时N秒。");
    EXPECT_EQ(r.sink.lists.value("OpenFailed").count('\n'), 2);
}

TEST(CellRun, RefusedWritesAreReportedOnceNotCountedAndNotSaved)
{
    CellRun r;
    const auto write = [&](const QString& name, const QByteArray& json) {
        QFile f(r.path(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(json);
    };
    write("a.xlsx", R"({"sheets": [{"name": "L", "locked": true, "cells": {"A1": "x", "B2": "x"}},
                                   {"name": "S", "cells": {"C3": "x"}}]})");
    write("b.xlsx", R"({"sheets": [{"name": "L", "locked": true, "cells": {"A1": "x"}}]})");
    int cells = 0;
    r.run(rewrite(CellRewriteMode::FillText, "x", "y"), &cells);
    EXPECT_EQ(cells, 1);
    EXPECT_EQ(r.cell("a.xlsx", 1, "C3"), "y");
    EXPECT_EQ(r.journal->saved.size(), 1);
    EXPECT_EQ(withoutSeconds(r.sink.only("status:").last()),
              "成功查找2个Excel文件,修改1个Excel文件,修改1个单元格。耗时N秒。");
    // Every write of b.xlsx was refused: it was not worked on as asked.
    EXPECT_TRUE(r.sink.lists.value("OpenFailed").endsWith("b.xlsx\n"));
    const QStringList failed = r.sink.only("failed:");
    EXPECT_EQ(failed.size(), 2) << failed.join('\n').toStdString();
    EXPECT_TRUE(failed.value(0).endsWith(":sheet \"L\": could not write cell A1: the sheet is protected"))
        << failed.join('\n').toStdString();
}

TEST(CellRun, MatchedListIsLeftOutWhenEveryOpenedWorkbookChanged)
{
    CellRun r;
    writeMemoryWorkbook(r.path("a.xlsx"), {{"S1", {{"A1", "x"}}}});
    r.run(rewrite(CellRewriteMode::FillText, "x", "y"));
    EXPECT_FALSE(r.sink.lists.contains("Matched"));
    EXPECT_EQ(r.cell("a.xlsx", 0, "A1"), "y");
}

TEST(CellRun, OncePerWorkbookSkipsLaterSheetsAndTheirLines)
{
    CellRun r;
    writeMemoryWorkbook(
        r.path("a.xlsx"),
        {{"S1", {{"A1", "none"}}}, {"S2", {{"B2", "x"}, {"C3", "x"}}}, {"S3", {{"A1", "x"}}}});
    CellRewriteOptions o = rewrite(CellRewriteMode::FillText, "x", "y");
    o.locating.workbookFillOnce = true;
    int cells = 0;
    r.run(o, &cells);
    EXPECT_EQ(cells, 1);
    // B2 is the top-left cell of the second sheet's used range, so C3 comes first.
    EXPECT_EQ(r.cell("a.xlsx", 1, "B2"), "x");
    EXPECT_EQ(r.cell("a.xlsx", 1, "C3"), "y");
    EXPECT_EQ(r.cell("a.xlsx", 2, "A1"), "x");
    for (const QString& s : r.sink.only("status:"))
        EXPECT_FALSE(s.startsWith("Sheet:S3"));
}

TEST(CellRun, InvalidFindRangeCutsTheRunShortWithoutSummaryOrLists)
{
    CellRun r;
    writeMemoryWorkbook(r.path("a.xlsx"), {{"S1", {{"A1", "x"}}}});
    writeMemoryWorkbook(r.path("b.xlsx"), {{"S1", {{"A1", "x"}}}});
    CellRewriteOptions o = rewrite(CellRewriteMode::FillText, "x", "y");
    o.locating.findRangeOn = true;
    o.locating.findRange = "not a range";
    EXPECT_EQ(r.run(o), RunEnd::CutShort);
    EXPECT_EQ(r.journal->opened.size(), 1);
    EXPECT_TRUE(r.journal->saved.isEmpty());
    EXPECT_EQ(r.journal->quits, 1);
    EXPECT_TRUE(r.sink.lists.isEmpty());
    ASSERT_GE(r.sink.events.size(), 2);
    EXPECT_EQ(r.sink.events.last(), "ended");
    EXPECT_EQ(r.sink.events.at(r.sink.events.size() - 2),
              "status:此文件指定区域无效,请重新设置!" + r.journal->opened.first());
    for (const QString& s : r.sink.only("status:"))
        EXPECT_FALSE(s.startsWith("成功查找"));
}
