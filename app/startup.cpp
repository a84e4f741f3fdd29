#include "app/startup.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace corvane::app {

QString exeFolderOf(const QString& programPath)
{
    const int separator = programPath.lastIndexOf(QDir::separator());
    return separator < 0 ? QString() : programPath.left(separator + 1);
}

QString settingsFilePathFor(const QString& exeFolder, bool exeFolderWritable, const QString& configFolder)
{
    const QString fileName = QString::fromLatin1(kSettingsFileName);
#ifdef Q_OS_WIN
    Q_UNUSED(exeFolderWritable)
    Q_UNUSED(configFolder)
    return exeFolder + fileName;
#else
    if ((exeFolder.isEmpty() || !exeFolderWritable) && !configFolder.isEmpty())
        return QDir(configFolder).filePath(fileName);
    return exeFolder + fileName;
#endif
}

StartupPaths deriveStartupPaths(int argc, const char* const* argv, const QString& configFolder)
{
    StartupPaths paths;
    if (argc > 1 && argv[1])
        paths.startArgument = argv[1];
    if (argc > 0 && argv[0])
        paths.exeFolder = exeFolderOf(QFile::decodeName(argv[0]));
    const bool writable = !paths.exeFolder.isEmpty() && QFileInfo(paths.exeFolder).isWritable();
    paths.settingsFilePath = settingsFilePathFor(paths.exeFolder, writable, configFolder);
    return paths;
}

bool startsHidden(const QByteArray& startArgument)
{
    return startArgument == kAutorunArgument;
}

StartupPaths& startupPaths()
{
    static StartupPaths paths;
    return paths;
}

} // namespace corvane::app
