#include "platform/filecopy.h"

#include <QFile>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvane::platform {
namespace {

QString systemError(const QString& what)
{
    return QStringLiteral("%1: %2").arg(what, QString::fromLocal8Bit(std::strerror(errno)));
}

bool copyBytes(int in, int out)
{
    char buffer[1 << 16];
    for (;;) {
        const ssize_t n = ::read(in, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = ::write(out, buffer + done, size_t(n - done));
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0)
                return false;
            done += w;
        }
    }
}

} // namespace

bool cloneFile(const QString& from, const QString& to, QString* error)
{
    const QByteArray source = QFile::encodeName(from);
    const QByteArray target = QFile::encodeName(to);
    const int in = ::open(source.constData(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        *error = systemError(QStringLiteral("cannot read %1").arg(from));
        return false;
    }
    struct stat info = {};
    ::fstat(in, &info);
    const int out = ::open(target.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (out < 0) {
        *error = systemError(QStringLiteral("cannot create %1").arg(to));
        ::close(in);
        return false;
    }
    // Without reflinks (another file system, ext4) the bytes are copied.
    bool ok = ::ioctl(out, FICLONE, in) == 0 || copyBytes(in, out);
    if (!ok)
        *error = systemError(QStringLiteral("cannot copy %1 to %2").arg(from, to));
    if (ok && (::fchmod(out, info.st_mode & 07777) != 0 || ::fsync(out) != 0)) {
        *error = systemError(QStringLiteral("cannot write %1").arg(to));
        ok = false;
    }
    if (::close(out) != 0 && ok) {
        *error = systemError(QStringLiteral("cannot write %1").arg(to));
        ok = false;
    }
    ::close(in);
    if (!ok)
        ::unlink(target.constData());
    return ok;
}

} // namespace corvane::platform
