// The transparent copy a picture launch makes of the chosen picture.
#include "jobs/pictureconversion.h"

#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace corvane::jobs;

namespace {

QByteArray bytesOf(const QString& path)
{
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

} // namespace

TEST(PictureConversion, PixelsOfTheSecondPixelsColourBecomeTransparentAndNothingElseChanges)
{
    QTemporaryDir dir;
    QImage image(4, 3, QImage::Format_ARGB32);
    image.fill(qRgba(255, 255, 255, 255));
    image.setPixel(0, 0, qRgba(1, 2, 3, 255));       // the corner is not the reference
    image.setPixel(3, 2, qRgba(255, 255, 255, 128)); // same colour, other alpha: kept
    image.setPixel(2, 0, qRgba(0, 128, 0, 255));
    const QString png = dir.path() + "/logo.png";
    ASSERT_TRUE(image.save(png, "PNG"));
    const QByteArray before = bytesOf(png);

    ASSERT_TRUE(makeBackgroundTransparent(png));
    EXPECT_EQ(transparentPicturePath(png), png + ".png");
    const QImage out = QImage(png + ".png").convertToFormat(QImage::Format_ARGB32);
    ASSERT_EQ(out.size(), QSize(4, 3));
    EXPECT_EQ(out.pixel(1, 1), qRgba(0, 0, 0, 0));
    EXPECT_EQ(out.pixel(3, 0), qRgba(0, 0, 0, 0));
    EXPECT_EQ(out.pixel(0, 0), qRgba(1, 2, 3, 255));
    EXPECT_EQ(out.pixel(2, 0), qRgba(0, 128, 0, 255));
    EXPECT_EQ(out.pixel(3, 2), qRgba(255, 255, 255, 128));
    EXPECT_EQ(bytesOf(png), before);
}

TEST(PictureConversion, PictureOnePixelWideOrHighKeepsEveryPixel)
{
    QTemporaryDir dir;
    for (const QSize size : {QSize(1, 5), QSize(5, 1)}) {
        const QString path =
            dir.path() + QStringLiteral("/thin%1x%2.png").arg(size.width()).arg(size.height());
        QImage image(size, QImage::Format_ARGB32);
        image.fill(qRgba(10, 20, 30, 255));
        ASSERT_TRUE(image.save(path));
        ASSERT_TRUE(makeBackgroundTransparent(path));
        const QImage out = QImage(path + ".png").convertToFormat(QImage::Format_ARGB32);
        for (int y = 0; y < out.height(); ++y)
            for (int x = 0; x < out.width(); ++x)
                EXPECT_EQ(out.pixel(x, y), qRgba(10, 20, 30, 255));
    }
}

TEST(PictureConversion, ExistingCopyIsReplacedAndAnUnloadablePictureWritesNothing)
{
    QTemporaryDir dir;
    const QString jpg = dir.path() + "/a.jpg";
    QImage image(8, 8, QImage::Format_RGB32);
    image.fill(Qt::white);
    ASSERT_TRUE(image.save(jpg, "JPEG"));
    QFile old(jpg + ".png");
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("stale");
    old.close();
    ASSERT_TRUE(makeBackgroundTransparent(jpg));
    EXPECT_EQ(QImage(jpg + ".png").size(), QSize(8, 8));

    const QString text = dir.path() + "/notes.png";
    QFile t(text);
    ASSERT_TRUE(t.open(QIODevice::WriteOnly));
    t.write("no picture");
    t.close();
    EXPECT_FALSE(makeBackgroundTransparent(text));
    EXPECT_FALSE(QFile::exists(text + ".png"));
    EXPECT_FALSE(makeBackgroundTransparent(dir.path() + "/missing.png"));
    EXPECT_FALSE(QFile::exists(dir.path() + "/missing.png.png"));
}
