// Picture insertion over the in-memory test server: where pictures go, what is deleted first,
// what counts, and what a failed insertion does to the workbook's fate.
#include "operations/pictureinsertion.h"
#include "run/runskeleton.h"
#include "tests/support/memoryserver.h"
#include "tests/support/recordingsink.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace corvane::automation;
using namespace corvane::testsupport;

namespace {

struct PictureRun
{
    QTemporaryDir dir;
    std::shared_ptr<ServerJournal> journal = std::make_shared<ServerJournal>();
    RecordingSink sink;
    RunSettings settings;
    int cells = 0;
    int width = 0, height = 0;

    QString path(const QString& name) const { return dir.path() + QLatin1Char('/') + name; }

    QString picture()
    {
        const QString p = path("pic/logo.png");
        QDir().mkpath(path("pic"));
        QFile f(p);
        f.open(QIODevice::WriteOnly);
        f.write("not really a png, the test server only reads it");
        return p;
    }

    // Sheets as JSON objects: {"name", "cells", "shapes", "rowHeight", ...}.
    void book(const QString& name, const QJsonArray& sheets)
    {
        QFile f(path(name));
        f.open(QIODevice::WriteOnly);
        f.write(QJsonDocument(QJsonObject{{"sheets", sheets}}).toJson());
    }

    RunEnd run(const PictureInsertionOptions& options)
    {
        settings.sourcePath = dir.path() + QLatin1Char('/');
        PictureInsertionOperation op(options);
        const RunEnd end = runOperation(
            settings, [this] { return std::make_unique<MemoryServer>(journal); }, op, sink);
        cells = op.cellCount();
        width = op.width();
        height = op.height();
        return end;
    }

    QJsonArray shapes(const QString& file, int sheet = 0) const
    {
        return readMemorySheetObject(path(file), sheet).value("shapes").toArray();
    }
};

QJsonObject sheet(const QString& name, const QJsonObject& cells, const QJsonArray& shapes = {})
{
    QJsonObject o{{"name", name}, {"cells", cells}};
    if (!shapes.isEmpty())
        o.insert("shapes", shapes);
    return o;
}

QStringList shapeCells(const QJsonArray& shapes)
{
    QStringList out;
    for (const QJsonValue& v : shapes)
        out << v.toObject().value("cell").toString();
    return out;
}

PictureInsertionOptions searchFor(const QString& text, const QString& picture)
{
    PictureInsertionOptions o;
    o.locating.findText = text;
    o.picPath = picture;
    return o;
}

PictureInsertionOptions appointed(const QString& cells, const QString& picture)
{
    PictureInsertionOptions o;
    o.locating.appointCellOn = true;
    o.locating.appointCells = cells;
    o.picPath = picture;
    return o;
}

} // namespace

TEST(PictureInsertion, EmptyPathWithDeleteOldOnlyDeletesAndStillCounts)
{
    PictureRun r;
    r.book("a.xlsx",
           {sheet("S", {{"B3", "logo"}}, {QJsonObject{{"cell", "B2"}}, QJsonObject{{"cell", "B3"}}})});
    PictureInsertionOptions o = searchFor("logo", QString());
    o.picDeleteOld = true;
    ASSERT_EQ(r.run(o), RunEnd::Completed);
    // The object just above the anchor goes, the one on the anchor itself stays.
    EXPECT_EQ(shapeCells(r.shapes("a.xlsx")), (QStringList{"B3"}));
    EXPECT_EQ(r.cells, 1);
    EXPECT_EQ(r.journal->saved.size(), 1);
}

TEST(PictureInsertion, EmptyPathWithoutDeleteOldChangesNothingYetCountsAndSaves)
{
    PictureRun r;
    r.book("a.xlsx", {sheet("S", {{"B3", "logo"}, {"C9", "logo"}}, {QJsonObject{{"cell", "B2"}}})});
    ASSERT_EQ(r.run(searchFor("logo", QString())), RunEnd::Completed);
    EXPECT_EQ(shapeCells(r.shapes("a.xlsx")), (QStringList{"B2"}));
    EXPECT_EQ(r.cells, 2);
    EXPECT_EQ(r.journal->saved.size(), 1);
    EXPECT_TRUE(r.sink.only("status:").last().startsWith(
        QStringLiteral("成功查找1个Excel文件,修改1个Excel文件,修改2个单元格。")));
}

TEST(PictureInsertion, DeleteRuleTestsEveryObjectFromTheLastDown)
{
    PictureRun r;
    const QString pic = r.picture();
    // Two objects above the target (both go), one on it and one above the next column (both stay).
    r.book("a.xlsx", {sheet("S", {{"C5", "x"}},
                            {QJsonObject{{"cell", "C4"}}, QJsonObject{{"cell", "C5"}},
                             QJsonObject{{"cell", "D4"}}, QJsonObject{{"cell", "C4"}}})});
    PictureInsertionOptions o = searchFor("x", pic);
    o.picDeleteOld = true;
    ASSERT_EQ(r.run(o), RunEnd::Completed);
    EXPECT_EQ(shapeCells(r.shapes("a.xlsx")), (QStringList{"C5", "D4", "C5"}));
}

TEST(PictureInsertion, SizesAndOffsetsArePassedAsTheOptionsSay)
{
    PictureRun r;
    const QString pic = r.picture();
    r.book("a.xlsx", {sheet("S", {{"C2", "x"}})});
    PictureInsertionOptions o = searchFor("x", pic);
    o.picWidth = 0;
    o.picHeight = 50;
    o.picRight = 5;
    o.picLeft = 5;
    o.picUp = 3;
    ASSERT_EQ(r.run(o), RunEnd::Completed);
    EXPECT_EQ(r.width, -1);
    EXPECT_EQ(r.height, 50);
    const QJsonObject s = r.shapes("a.xlsx").at(0).toObject();
    EXPECT_EQ(s.value("left").toDouble(), 96); // C at 48 points per column, no horizontal shift
    EXPECT_EQ(s.value("top").toDouble(), 12);  // row 2 at 15 points, 3 points up
    EXPECT_EQ(s.value("width").toDouble(), -1);
    EXPECT_EQ(s.value("height").toDouble(), 50);
    EXPECT_EQ(s.value("file").toString(), pic);
}

TEST(PictureInsertion, PictureStartsAtTheExactCellEdge)
{
    for (const auto& [height, top] : {std::pair<double, double>{14.4, 14.4}, {12.75, 12.75}}) {
        PictureRun r;
        const QString pic = r.picture();
        QJsonObject s = sheet("S", {{"A2", "x"}});
        s.insert("rowHeight", height);
        r.book("a.xlsx", {s});
        ASSERT_EQ(r.run(searchFor("x", pic)), RunEnd::Completed);
        EXPECT_EQ(r.shapes("a.xlsx").at(0).toObject().value("top").toDouble(), top) << height;
    }
}

TEST(PictureInsertion, TargetRowIsRaisedToOne)
{
    PictureRun r;
    const QString pic = r.picture();
    r.book("a.xlsx", {sheet("S", {{"B2", "x"}})});
    PictureInsertionOptions o = searchFor("x", pic);
    o.locating.rowOffset = -5;
    ASSERT_EQ(r.run(o), RunEnd::Completed);
    EXPECT_EQ(shapeCells(r.shapes("a.xlsx")), (QStringList{"B1"}));
}

TEST(PictureInsertion, AppointedListsNameTheirFirstCellsAndSkipWhatNamesNothing)
{
    const std::pair<QString, QStringList> cases[] = {
        {QStringLiteral("B3，D5"), {"B3", "D5"}},
        {QStringLiteral("B3,,D5"), {"B3", "D5"}},
        {QStringLiteral("B3:C4"), {"B3"}},
        {QStringLiteral("B3,XYZ"), {"B3"}},
    };
    for (const auto& [text, expected] : cases) {
        PictureRun r;
        const QString pic = r.picture();
        r.book("a.xlsx", {sheet("S", {{"A1", "x"}})});
        PictureInsertionOptions o = appointed(text, pic);
        o.locating.rowOffset = 4; // offsets do not apply to appointed cells
        ASSERT_EQ(r.run(o), RunEnd::Completed);
        EXPECT_EQ(shapeCells(r.shapes("a.xlsx")), expected) << text.toStdString();
        EXPECT_EQ(r.cells, expected.size());
    }
}

TEST(PictureInsertion, AppointedStopFlagFollowsTheLastItem)
{
    for (const auto& [text, sheetsWorked] : {std::pair<QString, int>{"B3,XYZ", 2}, {"XYZ,B3", 1}}) {
        PictureRun r;
        const QString pic = r.picture();
        r.book("a.xlsx", {sheet("S1", {{"A1", "x"}}), sheet("S2", {{"A1", "x"}})});
        PictureInsertionOptions o = appointed(text, pic);
        o.locating.workbookFillOnce = true;
        ASSERT_EQ(r.run(o), RunEnd::Completed);
        EXPECT_EQ(r.cells, sheetsWorked) << text.toStdString();
        EXPECT_EQ(r.shapes("a.xlsx", 1).size(), sheetsWorked - 1) << text.toStdString();
    }
}

TEST(PictureInsertion, OncePerSheetAndOncePerWorkbook)
{
    PictureRun r;
    const QString pic = r.picture();
    // A1 starts the used range, so the search meets A2 first.
    const QJsonObject twoMatches{{"A1", "head"}, {"A2", "x"}, {"A5", "x"}};
    r.book("a.xlsx", {sheet("S1", twoMatches), sheet("S2", twoMatches)});
    PictureInsertionOptions o = searchFor("x", pic);
    o.locating.sheetFillOnce = true;
    ASSERT_EQ(r.run(o), RunEnd::Completed);
    EXPECT_EQ(shapeCells(r.shapes("a.xlsx", 0)), (QStringList{"A2"}));
    EXPECT_EQ(shapeCells(r.shapes("a.xlsx", 1)), (QStringList{"A2"}));

    PictureRun w;
    const QString pic2 = w.picture();
    w.book("a.xlsx", {sheet("S1", {{"B1", "y"}}), sheet("S2", twoMatches), sheet("S3", twoMatches)});
    PictureInsertionOptions once = searchFor("x", pic2);
    once.locating.workbookFillOnce = true;
    ASSERT_EQ(w.run(once), RunEnd::Completed);
    EXPECT_EQ(w.cells, 1);
    EXPECT_EQ(shapeCells(w.shapes("a.xlsx", 1)), (QStringList{"A2"}));
    EXPECT_TRUE(w.shapes("a.xlsx", 2).isEmpty());
    // The third sheet is not even visited: no sheet line for it.
    EXPECT_FALSE(w.sink.only("status:").join('\n').contains("Sheet:S3"));
}

TEST(PictureInsertion, SingleEmptyCellIsNotSearched)
{
    PictureRun r;
    r.book("a.xlsx", {sheet("S", {})});
    ASSERT_EQ(r.run(searchFor("x", r.picture())), RunEnd::Completed);
    EXPECT_EQ(r.cells, 0);
    EXPECT_TRUE(r.journal->saved.isEmpty());
    EXPECT_EQ(r.sink.lists.value("Unmatched"), r.path("a.xlsx") + "\n");
}

TEST(PictureInsertion, FindRangeThatNamesNothingFallsBackToTheUsedRangeSilently)
{
    PictureRun r;
    r.book("a.xlsx", {sheet("S", {{"D4", "x"}})});
    PictureInsertionOptions o = searchFor("x", r.picture());
    o.locating.findRangeOn = true;
    o.locating.findRange = "not a range";
    ASSERT_EQ(r.run(o), RunEnd::Completed);
    EXPECT_EQ(shapeCells(r.shapes("a.xlsx")), (QStringList{"D4"}));
    EXPECT_FALSE(r.sink.only("status:").join('\n').contains(QStringLiteral("无效")));
}

TEST(PictureInsertion, FailedInsertionIsNotCountedAndLeavesTheWorkbookUnsaved)
{
    PictureRun r;
    r.book("a.xlsx", {sheet("S", {{"B3", "x"}}, {QJsonObject{{"cell", "B2"}}})});
    r.book("b.xlsx", {sheet("S", {{"A1", "y"}})});
    PictureInsertionOptions o = searchFor("x", r.path("missing.png"));
    o.picDeleteOld = true;
    ASSERT_EQ(r.run(o), RunEnd::Completed);
    EXPECT_EQ(r.cells, 0);
    EXPECT_TRUE(r.journal->saved.isEmpty());
    // Not saved: the deletion made before the failed insertion is not kept either.
    EXPECT_EQ(shapeCells(r.shapes("a.xlsx")), (QStringList{"B2"}));
    // Refused, a.xlsx was not worked on as asked; b.xlsx held no anchor.
    EXPECT_EQ(r.sink.lists.value("OpenFailed"), r.path("a.xlsx") + "\n");
    EXPECT_EQ(r.sink.lists.value("Unmatched"), r.path("b.xlsx") + "\n");
    EXPECT_FALSE(r.sink.lists.contains("Matched"));
    const QStringList failed = r.sink.only("failed:");
    ASSERT_EQ(failed.size(), 1);
    EXPECT_TRUE(failed[0].startsWith(r.path("a.xlsx") + ":")) << failed[0].toStdString();
    EXPECT_TRUE(failed[0].contains("missing.png")) << failed[0].toStdString();
}

TEST(PictureInsertion, ConvertedPictureIsDeletedAtTheEndAndOnlyThen)
{
    PictureRun r;
    const QString original = r.picture();
    const QString converted = original + ".png";
    QFile::copy(original, converted);
    r.book("a.xlsx", {sheet("S", {{"A1", "x"}})});
    PictureInsertionOptions o = searchFor("x", converted);
    o.picTransparent = true;
    r.sink.onEnded = [&] { EXPECT_FALSE(QFile::exists(converted)) << "deleted before the summary"; };
    ASSERT_EQ(r.run(o), RunEnd::Completed);
    EXPECT_EQ(r.shapes("a.xlsx").at(0).toObject().value("file").toString(), converted);
    EXPECT_FALSE(QFile::exists(converted));
    EXPECT_TRUE(QFile::exists(original));
}
