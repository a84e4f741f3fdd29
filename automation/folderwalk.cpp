#include "folderwalk.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

namespace corvane::automation {

namespace {

QString joined(const QString& folder, const QString& name)
{
    if (folder.endsWith(QLatin1Char('/')) || folder.endsWith(QDir::separator()))
        return folder + name;
    return folder + QLatin1Char('/') + name;
}

// `walking` holds the canonical paths of the folders on the current descent; a linked folder
// found among them would repeat the walk for ever.
void walk(const QString& folder, QSet<QString>& walking, QStringList& out)
{
    QDir dir(folder);
    const QString canonical = dir.canonicalPath();
    if (canonical.isEmpty() || walking.contains(canonical))
        return;
    walking.insert(canonical);

    const QStringList files = dir.entryList(QDir::Files | QDir::Hidden | QDir::NoSymLinks, QDir::Unsorted);
    for (const QString& name : files)
        out.append(joined(folder, name));

    const QFileInfoList subfolders = dir.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Unsorted);
    for (const QFileInfo& sub : subfolders)
        walk(sub.absoluteFilePath(), walking, out);

    walking.remove(canonical);
}

} // namespace

QStringList ListFolderFiles(const QString& folder)
{
    QStringList out;
    if (folder.isEmpty())
        return out;
    QSet<QString> walking;
    walk(folder, walking, out);
    return out;
}

QString workbookPath(const QString& entry)
{
    return QDir::toNativeSeparators(entry);
}

bool isWorkbookPath(const QString& path)
{
    if (path.contains(QLatin1String("~$")))
        return false;
    const QString lower = path.toLower();
    return lower.endsWith(QLatin1String(".xls")) || lower.endsWith(QLatin1String(".xlsx")) ||
           lower.endsWith(QLatin1String(".xlsm"));
}

} // namespace corvane::automation
