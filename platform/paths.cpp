#include "platform/paths.h"

#include <QFile>

#include <sys/stat.h>

namespace corvane::platform {

bool PathExists(const QString& path)
{
    if (path.isEmpty())
        return false;
    struct stat info;
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0;
}

bool FolderExists(const QString& path)
{
    if (path.isEmpty())
        return false;
    // stat() itself accepts a trailing "/" on a folder and refuses it on a file, which is
    // exactly the rule; the root "/" stays a folder.
    struct stat info;
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::optional<FileIdentity> fileIdentity(const QString& path)
{
    struct stat info;
    if (path.isEmpty() || ::stat(QFile::encodeName(path).constData(), &info) != 0)
        return std::nullopt;
    return FileIdentity{static_cast<quint64>(info.st_dev), static_cast<quint64>(info.st_ino)};
}

} // namespace corvane::platform
