#include "pictureconversion.h"

#include <QDir>
#include <QImage>

namespace corvane::jobs {

QString transparentPicturePath(const QString& picPath)
{
    return picPath + QStringLiteral(".png");
}

bool makeBackgroundTransparent(const QString& picPath)
{
    const QImage loaded(QDir::toNativeSeparators(picPath));
    if (loaded.isNull())
        return false;
    // Straight (not premultiplied) 32-bit pixels: each colour, alpha included, is one value.
    const QImage source = loaded.convertToFormat(QImage::Format_ARGB32);
    QImage result(source.size(), QImage::Format_ARGB32);
    const int width = source.width();
    const bool hasReference = width > 1 && source.height() > 1;
    const QRgb reference = hasReference ? reinterpret_cast<const QRgb*>(source.constScanLine(1))[1] : 0;
    for (int y = 0; y < source.height(); ++y) {
        const QRgb* in = reinterpret_cast<const QRgb*>(source.constScanLine(y));
        QRgb* out = reinterpret_cast<QRgb*>(result.scanLine(y));
        for (int x = 0; x < width; ++x)
            out[x] = hasReference && in[x] == reference ? qRgba(0, 0, 0, 0) : in[x];
    }
    return result.save(transparentPicturePath(picPath), "PNG");
}

} // namespace corvane::jobs
