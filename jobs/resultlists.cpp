#include "resultlists.h"

#include "joboptions.h"
#include "platform/paths.h"

#include <QFile>
#include <QTextCodec>

namespace corvane::jobs {

QString openFailedListName()
{
    return QStringLiteral("无法打开修改的文件目录(文件格式有误).txt");
}

QString matchedListName()
{
    return QStringLiteral("包含内容并成功修改的文件目录.txt");
}

QString unmatchedListName()
{
    return QStringLiteral("不包含内容无修改的文件目录.txt");
}

void setListPaths(JobOptions& options)
{
    options.openFailedListPath = options.sourcePath + openFailedListName();
    options.matchedListPath = options.sourcePath + matchedListName();
    options.unmatchedListPath = options.sourcePath + unmatchedListName();
}

void deleteOldLists(const JobOptions& options)
{
    for (const QString* path :
         {&options.openFailedListPath, &options.matchedListPath, &options.unmatchedListPath})
        if (platform::PathExists(*path))
            QFile::remove(*path);
}

QString listPath(const JobOptions& options, automation::ResultList list)
{
    switch (list) {
    case automation::ResultList::OpenFailed:
        return options.openFailedListPath;
    case automation::ResultList::Matched:
        return options.matchedListPath;
    case automation::ResultList::Unmatched:
        break;
    }
    return options.unmatchedListPath;
}

QString listNotWrittenMessage(const QString& path)
{
    return QStringLiteral("结果列表写入失败:") + path;
}

bool writeResultList(const QString& path, const QString& text, QString* error)
{
    QString crlf = text;
    crlf.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    const QByteArray bytes = QTextCodec::codecForLocale()->fromUnicode(crlf);
    QFile file(path);
    // The write is buffered: a full disk shows only when the buffer goes out, at the flush.
    bool written = file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
                   file.write(bytes) == bytes.size() && file.flush();
    QString reason = file.errorString();
    file.close();
    if (written && file.error() != QFileDevice::NoError) {
        written = false;
        reason = file.errorString();
    }
    if (!written && error)
        *error = reason;
    return written;
}

} // namespace corvane::jobs
