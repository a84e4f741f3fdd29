#include "run/folderwalk.h"

#include "platform/paths.h"
#include "platform/savefile.h"

#include <QDir>
#include <QFileInfo>

#include <optional>
#include <set>

namespace corvane::automation {

namespace {

QString joined(const QString& folder, const QString& name)
{
    if (folder.endsWith(QLatin1Char('/')) || folder.endsWith(QDir::separator()))
        return folder + name;
    return folder + QLatin1Char('/') + name;
}

// Every real folder and every real file is taken once, under the first name the walk meets it
// by: links and hard links that lead to something already seen would repeat it (a workbook
// changed twice), and nests of folder links would make the walk grow without bound.
struct Seen
{
    std::set<platform::FileIdentity> folders;
    std::set<platform::FileIdentity> files;
};

void walk(const QString& folder, Seen& seen, QStringList& out)
{
    const std::optional<platform::FileIdentity> id = platform::fileIdentity(folder);
    if (!id || !seen.folders.insert(*id).second)
        return;

    QDir dir(folder);
    const QStringList files = dir.entryList(QDir::Files | QDir::Hidden | QDir::NoSymLinks, QDir::Unsorted);
    for (const QString& name : files) {
        const QString path = joined(folder, name);
        const std::optional<platform::FileIdentity> file = platform::fileIdentity(path);
        if (file && !seen.files.insert(*file).second)
            continue;
        out.append(path);
    }

    const QFileInfoList subfolders = dir.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Unsorted);
    for (const QFileInfo& sub : subfolders)
        walk(sub.absoluteFilePath(), seen, out);
}

} // namespace

QStringList ListFolderFiles(const QString& folder)
{
    QStringList out;
    if (folder.isEmpty())
        return out;
    Seen seen;
    walk(folder, seen, out);
    return out;
}

QString workbookPath(const QString& entry)
{
    return QDir::toNativeSeparators(entry);
}

bool isWorkbookPath(const QString& path)
{
    if (path.contains(QLatin1String("~$")) || platform::isSaveTempName(path))
        return false;
    const QString lower = path.toLower();
    return lower.endsWith(QLatin1String(".xls")) || lower.endsWith(QLatin1String(".xlsx")) ||
           lower.endsWith(QLatin1String(".xlsm"));
}

} // namespace corvane::automation
