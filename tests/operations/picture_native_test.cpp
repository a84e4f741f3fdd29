// The engine's drawing layer on real packages: geometry, the objects of every anchor kind,
// deleting them with what only they used, and embedding pictures. What the engine wrote is read
// back with openpyxl's drawing reader and, for a sample, re-exported by LibreOffice.
#include "automation/native/nativeserver.h"
#include "automation/sheet.h"
#include "automation/workbook.h"
#include "operations/pictureinsertion.h"
#include "run/runskeleton.h"
#include "tests/support/recordingsink.h"
#include "workbookfixture.h"
#include "workbooktest.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <gtest/gtest.h>

using namespace corvane::automation;

namespace {

class NativePictures : public corvane::testing::OpenpyxlTest
{
protected:
    void SetUp() override
    {
        OpenpyxlTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        QImage red(40, 20, QImage::Format_ARGB32);
        red.fill(Qt::red);
        ASSERT_TRUE(red.save(path("red.png")));
    }

    QByteArray tool(const QStringList& arguments, int timeout = 60000)
    {
        return python(QStringList{QStringLiteral(CORVANE_PICTURE_BOOK)} + arguments, {}, timeout);
    }
    QString make(const QString& name)
    {
        tool({"make", path(name), path("red.png")});
        return path(name);
    }
    QJsonObject inspect(const QString& file)
    {
        return QJsonDocument::fromJson(tool({"inspect", file})).object();
    }
    QJsonArray anchors(const QJsonObject& inspected, const QString& sheet)
    {
        return inspected.value("sheets").toObject().value(sheet).toArray();
    }
    static QStringList entries(const QJsonObject& inspected)
    {
        return corvane::testing::strings(inspected.value("entries"));
    }
};

// The anchor of kind `kind` holding `holds` at `cell` (null when absent).
QJsonObject findAnchor(const QJsonArray& anchors, const QString& holds, const QString& cell)
{
    for (const QJsonValue& v : anchors) {
        const QJsonObject o = v.toObject();
        if (o.value("holds").toString() == holds && o.value("cell").toString() == cell)
            return o;
    }
    return {};
}

} // namespace

TEST_F(NativePictures, CellEdgesFollowDefaultAndCustomSizes)
{
    auto wb = open(make("g.xlsx"));
    ASSERT_TRUE(wb);
    Sheet* pics = wb->sheet(1);
    // Default columns are 64 pixels (48 points), B is 20 characters: 140 pixels, 105 points.
    EXPECT_DOUBLE_EQ(*pics->cellLeft({1, 1}), 0);
    EXPECT_DOUBLE_EQ(*pics->cellLeft({1, 2}), 48);
    EXPECT_DOUBLE_EQ(*pics->cellLeft({1, 3}), 153);
    EXPECT_DOUBLE_EQ(*pics->cellLeft({1, 4}), 201);
    // Rows are 15 points, row 3 is 30.
    EXPECT_DOUBLE_EQ(*pics->cellTop({3, 1}), 30);
    EXPECT_DOUBLE_EQ(*pics->cellTop({4, 1}), 60);
    EXPECT_DOUBLE_EQ(*pics->cellTop({10, 1}), 150);
    // The spreadsheet application's own examples on a sheet of default sizes.
    Sheet* plain = wb->sheet(2);
    EXPECT_DOUBLE_EQ(*plain->cellTop({10, 1}), 135);
    EXPECT_DOUBLE_EQ(*plain->cellLeft({1, 3}), 96);
    EXPECT_FALSE(plain->cellTop({kMaxRows + 1, 1}));
}

TEST_F(NativePictures, EveryAnchorKindIsOneObjectWithItsTopLeftCell)
{
    auto wb = open(make("k.xlsx"));
    ASSERT_TRUE(wb);
    Sheet* pics = wb->sheet(1);
    ASSERT_EQ(pics->shapeCount(), 5);
    QStringList cells;
    for (int i = 1; i <= 5; ++i)
        cells << cellName(*pics->shapeTopLeftCell(i));
    // The chart first (openpyxl's own anchor), then the added ones in document order; the
    // absolute anchor at (150, 75) points lies in B (48 to 153 points) and row 5 (75 to 90).
    EXPECT_EQ(cells, (QStringList{"F2", "B2", "D5", "H10", "B5"}));
    EXPECT_FALSE(pics->shapeTopLeftCell(6));
    EXPECT_EQ(wb->sheet(2)->shapeCount(), 0);
}

TEST_F(NativePictures, DeletingKeepsMediaOthersStillShowAndDropsTheRest)
{
    const QString file = make("d.xlsx");
    {
        auto wb = open(file);
        Sheet* pics = wb->sheet(1);
        ASSERT_TRUE(pics->deleteShape(5)); // absolute picture: image2.png only it shows
        ASSERT_TRUE(pics->deleteShape(2)); // B2 picture: image1.png is still shown at D5
        ASSERT_TRUE(pics->deleteShape(1)); // the chart with its part
        EXPECT_EQ(pics->shapeCount(), 2);
        ASSERT_TRUE(wb->save()) << wb->lastError().toStdString();
        wb->close();
    }
    const QJsonObject after = inspect(file);
    EXPECT_TRUE(after.value("problems").toArray().isEmpty()) << QJsonDocument(after).toJson().toStdString();
    const QJsonArray a = anchors(after, "Pics");
    EXPECT_EQ(a.size(), 2);
    EXPECT_FALSE(findAnchor(a, "pic", "D5").isEmpty());
    EXPECT_FALSE(findAnchor(a, "group", "H10").isEmpty());
    const QStringList names = entries(after);
    EXPECT_TRUE(names.contains("xl/media/image1.png"));
    EXPECT_FALSE(names.contains("xl/media/image2.png"));
    EXPECT_FALSE(names.contains("xl/charts/chart1.xml"));
    const std::string types = corvane::testing::readEntry(file, "[Content_Types].xml");
    EXPECT_EQ(types.find("chart1.xml"), std::string::npos);
    const std::string rels = corvane::testing::readEntry(file, "xl/drawings/_rels/drawing1.xml.rels");
    EXPECT_EQ(rels.find("rIdP3"), std::string::npos);
    EXPECT_EQ(rels.find("rIdP1"), std::string::npos);
    EXPECT_NE(rels.find("rIdP2"), std::string::npos);
}

TEST_F(NativePictures, PictureOnASheetWithoutDrawingGetsEverythingItNeeds)
{
    const QString file = make("n.xlsx");
    const auto before = corvane::testing::readRawEntries(file);
    {
        auto wb = open(file);
        Sheet* plain = wb->sheet(2);
        // Own size: 40 x 20 pixels are 30 x 15 points.
        ASSERT_TRUE(plain->addPicture(path("red.png"), 96, 45, -1, -1)) << plain->lastError().toStdString();
        EXPECT_EQ(plain->shapeCount(), 1);
        EXPECT_EQ(cellName(*plain->shapeTopLeftCell(1)), "C4");
        ASSERT_TRUE(plain->addPicture(path("red.png"), 10, 20, 100, 50));
        ASSERT_TRUE(wb->save()) << wb->lastError().toStdString();
        wb->close();
    }
    const QJsonObject after = inspect(file);
    EXPECT_TRUE(after.value("problems").toArray().isEmpty()) << QJsonDocument(after).toJson().toStdString();
    const QJsonArray a = anchors(after, "Plain");
    ASSERT_EQ(a.size(), 2);
    const QJsonObject own = findAnchor(a, "pic", "C4");
    EXPECT_EQ(own.value("editAs").toString(), "oneCell");
    EXPECT_EQ(own.value("off").toArray(), (QJsonArray{96, 45}));
    EXPECT_EQ(own.value("ext").toArray(), (QJsonArray{30, 15}));
    EXPECT_EQ(own.value("to").toString(), "C5"); // 30 points wide stays in C; 45 + 15 reaches row 5
    const QJsonObject sized = findAnchor(a, "pic", "A2");
    EXPECT_EQ(sized.value("ext").toArray(), (QJsonArray{100, 50}));
    EXPECT_NE(own.value("id").toInt(), sized.value("id").toInt());
    EXPECT_EQ(after.value("defaults").toObject().value("png").toString(), "image/png");

    // The sheet gained its drawing link before the elements that must follow it.
    const std::string sheet = corvane::testing::readEntry(file, "xl/worksheets/sheet2.xml");
    EXPECT_NE(sheet.find("<drawing r:id=\""), std::string::npos) << sheet;
    // Entries the insertion had no business with keep their stored bytes.
    const auto now = corvane::testing::readRawEntries(file);
    for (const char* untouched : {"xl/styles.xml", "xl/workbook.xml", "xl/worksheets/sheet1.xml",
                                  "xl/drawings/drawing1.xml", "xl/media/image1.png", "docProps/app.xml"}) {
        ASSERT_TRUE(before.count(untouched)) << untouched;
        EXPECT_EQ(before.at(untouched).compressed, now.at(untouched).compressed) << untouched;
    }
}

TEST_F(NativePictures, PictureJoinsAnExistingDrawingInItsNamespaceWithAFreshId)
{
    const QString file = make("e.xlsx");
    {
        auto wb = open(file);
        ASSERT_TRUE(wb->sheet(1)->addPicture(path("red.png"), 0, 0, -1, 30));
        ASSERT_TRUE(wb->save());
        wb->close();
    }
    const QJsonObject after = inspect(file);
    EXPECT_TRUE(after.value("problems").toArray().isEmpty());
    const QJsonObject added = findAnchor(anchors(after, "Pics"), "pic", "A1");
    EXPECT_EQ(added.value("id").toInt(), 17); // after the group's shapes and the pictures (up to 16)
    EXPECT_EQ(added.value("ext").toArray(), (QJsonArray{30, 30}));
    EXPECT_FALSE(entries(after).filter("xl/drawings/drawing2.xml").size());
}

TEST_F(NativePictures, UnreadablePictureFailsWithItsReasonAndChangesNothing)
{
    const QString file = make("u.xlsx");
    const QByteArray bytes = corvane::testing::fileBytes(file);
    ASSERT_TRUE(corvane::testing::writeFile(path("notes.png"), "this is no picture"));
    auto wb = open(file);
    Sheet* plain = wb->sheet(2);
    EXPECT_FALSE(plain->addPicture(path("notes.png"), 0, 0, -1, -1));
    EXPECT_TRUE(plain->lastError().contains("notes.png")) << plain->lastError().toStdString();
    EXPECT_FALSE(plain->addPicture(path("missing.png"), 0, 0, -1, -1));
    EXPECT_TRUE(plain->lastError().contains("missing.png"));
    EXPECT_EQ(plain->shapeCount(), 0);
    ASSERT_TRUE(wb->save());
    wb->close();
    EXPECT_EQ(corvane::testing::fileBytes(file), bytes);
}

TEST_F(NativePictures, OnePixelWidePictureAndJpegKeepTheirFormat)
{
    QImage thin(1, 30, QImage::Format_RGB32);
    thin.fill(Qt::blue);
    ASSERT_TRUE(thin.save(path("thin.jpg"), "JPEG"));
    const QString file = make("j.xlsx");
    {
        auto wb = open(file);
        ASSERT_TRUE(wb->sheet(2)->addPicture(path("thin.jpg"), 0, 0, -1, -1));
        ASSERT_TRUE(wb->save());
        wb->close();
    }
    const QJsonObject after = inspect(file);
    EXPECT_TRUE(after.value("problems").toArray().isEmpty());
    EXPECT_EQ(entries(after).filter(QRegularExpression("^xl/media/image\\d+\\.jpeg$")).size(), 1);
    EXPECT_EQ(findAnchor(anchors(after, "Plain"), "pic", "A1").value("ext").toArray(),
              (QJsonArray{0.75, 22.5}));
}

TEST_F(NativePictures, LibreOfficeShowsTheInsertedPictures)
{
    if (qEnvironmentVariable("CORVANE_SOFFICE").isEmpty())
        GTEST_SKIP() << "no LibreOffice (CORVANE_SOFFICE)";
    const QString file = make("lo.xlsx");
    {
        auto wb = open(file);
        ASSERT_TRUE(wb->sheet(2)->addPicture(path("red.png"), 96, 45, -1, -1));
        ASSERT_TRUE(wb->sheet(1)->deleteShape(5));
        ASSERT_TRUE(wb->sheet(1)->addPicture(path("red.png"), 300, 10, 60, 60));
        ASSERT_TRUE(wb->save());
        wb->close();
    }
    QDir().mkpath(path("out"));
    const QJsonObject lo = QJsonDocument::fromJson(tool({"lo", file, path("out")}, 300000)).object();
    EXPECT_EQ(lo.value("pictures").toObject().value("Plain").toInt(), 1)
        << QJsonDocument(lo).toJson().toStdString();
    // B2, D5 and the new one; the absolute picture is gone.
    EXPECT_EQ(lo.value("pictures").toObject().value("Pics").toInt(), 3)
        << QJsonDocument(lo).toJson().toStdString();
}

TEST_F(NativePictures, CorpusWorkbooksWithDrawingsTakeAndLoseObjects)
{
    const QString corpus = corvane::testing::corpusDir();
    if (corpus.isEmpty())
        GTEST_SKIP() << "corpus folder missing (CORVANE_CORPUS_DIR)";
    int tried = 0;
    for (const char* name : {"libxlsxwriter__image05.xlsx", "libxlsxwriter__chart_bar01.xlsx",
                             "poi__45544.xlsx", "libxlsxwriter__quote_name01.xlsx"}) {
        const QString source = corpus + "/" + name;
        if (!QFile::exists(source))
            continue;
        const QString file = path(name);
        ASSERT_TRUE(corvane::testing::copyWorkbook(source, file));
        int before = 0;
        int index = 0;
        QString sheetName;
        {
            auto wb = open(file);
            ASSERT_TRUE(wb);
            // The first sheet with drawing objects (comments alone are not among them).
            for (int i = 1; i <= wb->sheetCount() && !index; ++i) {
                if (wb->sheet(i)->shapeCount() > 0)
                    index = i;
            }
            ASSERT_GT(index, 0) << name;
            Sheet* sheet = wb->sheet(index);
            sheetName = sheet->name();
            before = sheet->shapeCount();
            ASSERT_TRUE(sheet->shapeTopLeftCell(1)) << name;
            ASSERT_TRUE(sheet->deleteShape(1)) << name;
            ASSERT_TRUE(
                sheet->addPicture(path("red.png"), *sheet->cellLeft({3, 3}), *sheet->cellTop({3, 3}), -1, -1))
                << name << sheet->lastError().toStdString();
            ASSERT_TRUE(wb->save()) << name << wb->lastError().toStdString();
            wb->close();
        }
        ++tried;
        auto wb = open(file);
        EXPECT_EQ(wb->sheet(index)->shapeCount(), before) << name;
        wb->close();
        const QJsonObject after = inspect(file);
        EXPECT_TRUE(after.value("problems").toArray().isEmpty()) << name;
        const QJsonArray first = anchors(after, sheetName);
        EXPECT_FALSE(findAnchor(first, "pic", "C3").isEmpty()) << name;
    }
    EXPECT_GT(tried, 0) << "none of the sample workbooks is in the corpus";
}

TEST_F(NativePictures, RunPlacesPicturesAtFoundCellsAndDeletesThoseAboveThem)
{
    // "Plain" holds "logo" in C4; "Pics" holds the numbers 1 to 7 in A1:A7 and, at B2, a
    // picture just above B3.
    QDir().mkpath(path("run"));
    const QString file = path("run/r.xlsx");
    tool({"make", file, path("red.png")});
    corvane::automation::PictureInsertionOptions o;
    o.locating.findText = "logo";
    o.picPath = path("red.png");
    o.picDown = 2;
    o.picRight = 1;
    o.picDeleteOld = true;
    corvane::testsupport::RecordingSink sink;
    {
        PictureInsertionOperation op(o);
        ASSERT_EQ(runOperation(
                      {path("run/"), false, false, {}},
                      [] { return std::make_unique<native::NativeServer>(); }, op, sink),
                  RunEnd::Completed);
        EXPECT_EQ(op.cellCount(), 1);
    }
    QJsonObject after = inspect(file);
    EXPECT_TRUE(after.value("problems").toArray().isEmpty());
    const QJsonObject placed = findAnchor(anchors(after, "Plain"), "pic", "C4");
    EXPECT_EQ(placed.value("off").toArray(), (QJsonArray{97, 47})); // C4 at (96, 45), 1 right, 2 down
    EXPECT_EQ(placed.value("ext").toArray(), (QJsonArray{30, 15}));

    // Appointed B3 on every sheet with delete-old and no picture: the B2 picture goes.
    corvane::automation::PictureInsertionOptions del;
    del.locating.appointCellOn = true;
    del.locating.appointCells = "B3";
    del.picDeleteOld = true;
    {
        PictureInsertionOperation op(del);
        ASSERT_EQ(runOperation(
                      {path("run/"), false, false, {}},
                      [] { return std::make_unique<native::NativeServer>(); }, op, sink),
                  RunEnd::Completed);
        EXPECT_EQ(op.cellCount(), 2);
    }
    after = inspect(file);
    EXPECT_TRUE(after.value("problems").toArray().isEmpty());
    EXPECT_TRUE(findAnchor(anchors(after, "Pics"), "pic", "B2").isEmpty());
    EXPECT_FALSE(findAnchor(anchors(after, "Pics"), "pic", "D5").isEmpty());
    EXPECT_EQ(anchors(after, "Pics").size(), 4);
}
