// corvane-cli picture in-process over the in-memory test server: where pictures go, the
// launch's refusals, the transparent copy, and failed insertions reported as "path: reason".
#include "clitest.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTextStream>

#include <gtest/gtest.h>

using namespace corvane;
using namespace corvane::testsupport;

namespace {

struct Folder : CliFolder
{
    QTemporaryDir pics;

    QString picture() const
    {
        QImage image(3, 3, QImage::Format_RGB32);
        image.fill(Qt::white);
        const QString p = pics.filePath("logo.png");
        image.save(p);
        return p;
    }
    QJsonArray shapes(const QString& file, int sheet = 0) const
    {
        return readMemorySheetObject(path(file), sheet).value("shapes").toArray();
    }
};

} // namespace

TEST(CliPicture, PicturesGoWhereTheOptionsSay)
{
    Folder f;
    writeMemoryWorkbook(f.path("a.xlsx"), {{"S1", {{"A1", "head"}, {"C3", "logo"}}}});
    const QString pic = f.picture();
    Cli run({"picture", "--folder", f.path(), "--picture", pic, "--find", "logo", "--down", "1",
             "--pic-right", "4", "--pic-up", "2", "--width", "0", "--height", "50"});
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_TRUE(run.err.isEmpty()) << run.err.toStdString();
    EXPECT_TRUE(run.out.contains(QStringLiteral("成功查找1个Excel文件,修改1个Excel文件,修改1个单元格。")));
    const QJsonArray shapes = f.shapes("a.xlsx");
    ASSERT_EQ(shapes.size(), 1);
    const QJsonObject s = shapes.at(0).toObject();
    EXPECT_EQ(s.value("cell").toString(), "C3"); // 2 points up from C4 lies in C3
    EXPECT_EQ(s.value("left").toDouble(), 100);  // C at 96 points, 4 right
    EXPECT_EQ(s.value("top").toDouble(), 43);    // row 4 at 45 points, 2 up
    EXPECT_EQ(s.value("width").toDouble(), -1);
    EXPECT_EQ(s.value("height").toDouble(), 50);
}

TEST(CliPicture, DeleteOldWithoutPictureOnlyDeletes)
{
    Folder f;
    writeMemoryWorkbook(f.path("a.xlsx"), {{"S1", {{"A1", "x"}}}});
    {
        // One object above B3, one on it.
        QJsonObject sheet = readMemorySheetObject(f.path("a.xlsx"), 0);
        sheet.insert("shapes", QJsonArray{QJsonObject{{"cell", "B2"}}, QJsonObject{{"cell", "B3"}}});
        QFile file(f.path("a.xlsx"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QJsonDocument(QJsonObject{{"sheets", QJsonArray{sheet}}}).toJson());
    }
    Cli run({"picture", "--folder", f.path(), "--cells", "B3", "--delete-old"});
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    const QJsonArray shapes = f.shapes("a.xlsx");
    ASSERT_EQ(shapes.size(), 1);
    EXPECT_EQ(shapes.at(0).toObject().value("cell").toString(), "B3");
}

TEST(CliPicture, TransparentCopyIsInsertedAndGoneAfterwards)
{
    Folder f;
    writeMemoryWorkbook(f.path("a.xlsx"), {{"S1", {{"A1", "x"}}}});
    const QString pic = f.picture();
    Cli run({"picture", "--folder", f.path(), "--picture", pic, "--transparent", "--cells", "A1"});
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(f.shapes("a.xlsx").at(0).toObject().value("file").toString(), pic + ".png");
    EXPECT_FALSE(QFile::exists(pic + ".png"));
    EXPECT_TRUE(QFile::exists(pic));
}

TEST(CliPicture, RefusalsComeInTheLaunchsOrder)
{
    Folder f;
    Cli missing({"picture", "--folder", f.path(), "--picture", f.path("none.png"), "--find", "x"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err.trimmed(), QStringLiteral("图片路径不正确,请选择正确路径!"));
    Cli noFolder({"picture", "--folder", f.path("nope/"), "--picture", f.path("none.png"), "--find", "x"});
    EXPECT_EQ(noFolder.err.trimmed(), QStringLiteral("文件夹不存在,请选择正确路径!"));
    Cli usage({"picture", "--folder", f.path(), "--find", "x", "--width", "1000"});
    EXPECT_EQ(usage.status, 2);
    Cli both({"picture", "--folder", f.path(), "--find", "x", "--cells", "B3"});
    EXPECT_EQ(both.status, 2);
}

TEST(CliPicture, UnreadablePictureIsReportedAndTheWorkbookLeftUnsaved)
{
    Folder f;
    writeMemoryWorkbook(f.path("a.xlsx"), {{"S1", {{"A1", "x"}}}});
    QFile empty(f.pics.filePath("empty.png"));
    ASSERT_TRUE(empty.open(QIODevice::WriteOnly));
    empty.close();
    Cli run({"picture", "--folder", f.path(), "--picture", empty.fileName(), "--cells", "A1"});
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(run.err.startsWith(QDir::toNativeSeparators(f.path("a.xlsx")) + ": "))
        << run.err.toStdString();
    EXPECT_TRUE(run.out.contains(QStringLiteral("成功查找1个Excel文件,修改0个Excel文件,修改0个单元格。")));
    EXPECT_TRUE(f.journal->saved.isEmpty());
}
