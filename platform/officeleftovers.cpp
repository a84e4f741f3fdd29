#include "platform/officeleftovers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <cerrno>
#include <csignal>

#include <sys/stat.h>
#include <unistd.h>

namespace corvane::platform {
namespace {

const QString kProfileArgument = QStringLiteral("-env:UserInstallation=");

bool processExists(qint64 pid)
{
    return pid > 0 && (::kill(pid_t(pid), 0) == 0 || errno == EPERM);
}

bool ownerAlive(const QString& profile)
{
    QFile owner(profile + QLatin1Char('/') + officeOwnerFileName());
    if (!owner.open(QIODevice::ReadOnly))
        return false;
    bool ok = false;
    const qint64 pid = owner.readAll().trimmed().toLongLong(&ok);
    return ok && processExists(pid);
}

struct Leftover
{
    qint64 pid;
    QString profile;
};

QList<Leftover> findLeftovers()
{
    QList<Leftover> found;
    const QString prefix = officeProfilePrefix();
    const QStringList procs = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& entry : procs) {
        bool isPid = false;
        const qint64 pid = entry.toLongLong(&isPid);
        if (!isPid || pid == ::getpid())
            continue;
        // Only what this user could end, and nothing of anybody else.
        struct stat info = {};
        if (::stat(QFile::encodeName(QStringLiteral("/proc/") + entry).constData(), &info) != 0 ||
            info.st_uid != ::getuid())
            continue;
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
        if (!cmdline.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray& arg : cmdline.readAll().split('\0')) {
            const QString text = QString::fromLocal8Bit(arg);
            if (!text.startsWith(kProfileArgument))
                continue;
            const QString profile = QUrl(text.mid(kProfileArgument.size())).toLocalFile();
            if (profile.startsWith(prefix) && !ownerAlive(profile))
                found.append({pid, profile});
        }
    }
    return found;
}

} // namespace

QString officeProfilePrefix()
{
    return QDir::tempPath() + QStringLiteral("/corvane-lo-");
}

QString officeOwnerFileName()
{
    return QStringLiteral("owner");
}

QList<qint64> officeLeftovers()
{
    QList<qint64> pids;
    for (const Leftover& leftover : findLeftovers())
        pids.append(leftover.pid);
    return pids;
}

int endOfficeLeftovers()
{
    const QList<Leftover> leftovers = findLeftovers();
    for (const Leftover& leftover : leftovers) {
        // Corvane starts its office as the leader of a process group of its own.
        if (::getpgid(pid_t(leftover.pid)) == pid_t(leftover.pid))
            ::kill(-pid_t(leftover.pid), SIGKILL);
        ::kill(pid_t(leftover.pid), SIGKILL);
        QDir(leftover.profile).removeRecursively();
    }
    // Profiles whose office already went away with their owner.
    const QFileInfo prefix(officeProfilePrefix());
    const QDir temp(prefix.absolutePath());
    for (const QString& name :
         temp.entryList({prefix.fileName() + QLatin1Char('*')}, QDir::Dirs | QDir::Hidden)) {
        const QString profile = temp.absoluteFilePath(name);
        if (QFileInfo::exists(profile + QLatin1Char('/') + officeOwnerFileName()) && !ownerAlive(profile))
            QDir(profile).removeRecursively();
    }
    return int(leftovers.size());
}

} // namespace corvane::platform
