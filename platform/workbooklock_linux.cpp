#include "platform/workbooklock.h"

#include <QElapsedTimer>
#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvane::platform {

namespace {

constexpr int kPollMs = 50;

// A save replaces the file by a new one under the same name; a lock on the file that was
// replaced guards nothing.
bool stillThere(int fd, const QByteArray& path)
{
    struct stat held;
    struct stat named;
    return ::fstat(fd, &held) == 0 && ::stat(path.constData(), &named) == 0 && held.st_dev == named.st_dev &&
           held.st_ino == named.st_ino;
}

} // namespace

WorkbookLock::~WorkbookLock()
{
    release();
}

bool WorkbookLock::acquire(const QString& path, int waitMs)
{
    release();
    const QByteArray native = QFile::encodeName(path);
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        m_fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (m_fd < 0)
            return true;
        if (::flock(m_fd, LOCK_EX | LOCK_NB) == 0) {
            if (stillThere(m_fd, native))
                return true;
            release();
            continue;
        }
        const bool busy = errno == EWOULDBLOCK;
        release();
        if (!busy)
            return true;
        if (waited.elapsed() >= waitMs)
            return false;
        ::usleep(kPollMs * 1000);
    }
}

void WorkbookLock::release()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

QString inUseByAnotherRunReason()
{
    return QStringLiteral("in use by another run");
}

} // namespace corvane::platform
