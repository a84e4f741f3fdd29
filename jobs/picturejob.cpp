#include "picturejob.h"

#include "pictureconversion.h"

#include <QFileInfo>

namespace corvane::jobs {

QString picturePathWrongMessage()
{
    return QStringLiteral("图片路径不正确,请选择正确路径!");
}

bool picturePathWrong(const JobOptions& options)
{
    return !options.picPath.isEmpty() && !QFileInfo::exists(options.picPath);
}

QString convertingPictureMessage()
{
    return QStringLiteral("正在处理图片...");
}

bool wantsTransparentCopy(const JobOptions& options)
{
    return options.picTransparent && !options.picPath.isEmpty();
}

void makeTransparentCopy(JobOptions& options)
{
    makeBackgroundTransparent(options.picPath);
    options.picPath = transparentPicturePath(options.picPath);
}

automation::PictureInsertionOptions pictureInsertionOptions(JobOptions& options)
{
    if (options.picWidth < 1)
        options.picWidth = -1;
    if (options.picHeight < 1)
        options.picHeight = -1;
    automation::PictureInsertionOptions o;
    o.locating = cellLocating(options);
    o.picPath = options.picPath;
    o.picTransparent = options.picTransparent;
    o.picDeleteOld = options.picDeleteOld;
    o.picRight = options.picRight;
    o.picLeft = options.picLeft;
    o.picDown = options.picDown;
    o.picUp = options.picUp;
    o.picWidth = options.picWidth;
    o.picHeight = options.picHeight;
    return o;
}

} // namespace corvane::jobs
