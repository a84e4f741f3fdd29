#include "platform/savefile.h"
#include "platform/savingfiles.h"

#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvane::platform {

namespace {

// Hidden, ours by name, and with the saving process's id so that a later run can tell a
// killed run's file from one that is being written.
const char kPrefix[] = ".corvane-save-";

QString fileNameOf(const QString& path)
{
    const int slash = int(std::max(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QLatin1Char('\\'))));
    return path.mid(slash + 1);
}

// The id of the process that made the file, or 0 for a name without one.
pid_t ownerProcess(const QString& fileName)
{
    const QString rest = fileName.mid(int(sizeof kPrefix) - 1);
    const int dash = int(rest.indexOf(QLatin1Char('-')));
    bool ok = false;
    const long pid = dash > 0 ? rest.left(dash).toLong(&ok) : 0;
    return ok && pid > 0 ? static_cast<pid_t>(pid) : 0;
}

bool processRuns(pid_t pid)
{
    return ::kill(pid, 0) == 0 || errno == EPERM;
}

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

} // namespace

bool isSaveTempName(const QString& fileName)
{
    return fileNameOf(fileName).startsWith(QLatin1String(kPrefix));
}

bool removeStaleSaveFile(const QString& path)
{
    if (!isSaveTempName(path))
        return false;
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return false;
    struct stat info;
    bool stale = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    // A save in progress holds the lock; a run on another machine is seen only through it.
    stale = stale && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    const pid_t owner = ownerProcess(fileNameOf(path));
    stale = stale && (owner == 0 || owner == ::getpid() || !processRuns(owner));
    const bool removed = stale && ::unlink(native.constData()) == 0;
    ::close(fd);
    return removed;
}

QString refusalToReplace(const QString& path)
{
    struct stat info;
    const QByteArray native = QFile::encodeName(path);
    if (::stat(native.constData(), &info) != 0)
        return QStringLiteral("not saved: the file is gone");
    if (!(info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) || ::access(native.constData(), W_OK) != 0)
        return QStringLiteral("not saved: the file is read-only");
    return {};
}

SaveFile::SaveFile(const QString& target) : m_target(target) {}

SaveFile::~SaveFile()
{
    m_file.close();
    if (!m_path.isEmpty()) {
        forgetTemporaryFile(m_path);
        if (!m_committed)
            ::unlink(QFile::encodeName(m_path).constData());
    }
    if (m_lock >= 0)
        ::close(m_lock);
}

bool SaveFile::open()
{
    const QFileInfo info(m_target);
    if (info.exists())
        m_target = info.canonicalFilePath();
    QByteArray name =
        QFile::encodeName(QFileInfo(m_target).absolutePath() + QLatin1Char('/') + QLatin1String(kPrefix) +
                          QString::number(::getpid()) + QStringLiteral("-XXXXXX"));
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) {
        m_error = QStringLiteral("not saved: no temporary file in its folder (%1)").arg(systemError());
        return false;
    }
    m_lock = fd;
    m_path = QFile::decodeName(name);
    // A program told to end at once takes it with it, whoever is writing it.
    registerTemporaryFile(m_path);
    ::flock(fd, LOCK_EX | LOCK_NB);
    if (!m_file.open(fd, QIODevice::ReadWrite, QFileDevice::DontCloseHandle)) {
        m_error = QStringLiteral("not saved: %1").arg(m_file.errorString());
        return false;
    }
    return true;
}

bool SaveFile::commit()
{
    if (m_path.isEmpty()) {
        m_error = QStringLiteral("not saved: no temporary file was written");
        return false;
    }
    if (m_file.isOpen() && !m_file.flush()) {
        m_error = QStringLiteral("not saved: %1").arg(m_file.errorString());
        return false;
    }
    m_file.close();
    m_error = refusalToReplace(m_target);
    if (!m_error.isEmpty())
        return false;

    const QByteArray target = QFile::encodeName(m_target);
    const QByteArray temp = QFile::encodeName(m_path);
    struct stat before;
    struct stat written;
    if (::stat(target.constData(), &before) != 0 || ::stat(temp.constData(), &written) != 0) {
        m_error = QStringLiteral("not saved: %1").arg(systemError());
        return false;
    }
    // Whoever owns the workbook must still be able to work with it afterwards; a copy that
    // only the saving user may write is not an acceptable replacement.
    if ((written.st_uid != before.st_uid || written.st_gid != before.st_gid) &&
        ::chown(temp.constData(), before.st_uid, before.st_gid) != 0) {
        m_error = QStringLiteral("not saved: its owner and group (%1:%2) cannot be kept: %3")
                      .arg(before.st_uid)
                      .arg(before.st_gid)
                      .arg(systemError());
        return false;
    }
    // After chown, which clears the set-id bits.
    if (::chmod(temp.constData(), before.st_mode & 07777) != 0) {
        m_error = QStringLiteral("not saved: its permissions cannot be kept: %1").arg(systemError());
        return false;
    }
    if (::rename(temp.constData(), target.constData()) != 0) {
        m_error = QStringLiteral("not saved: the file cannot be replaced: %1").arg(systemError());
        return false;
    }
    m_committed = true;
    return true;
}

} // namespace corvane::platform
