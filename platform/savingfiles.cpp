#include "platform/savingfiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <mutex>

#include <unistd.h>

namespace corvane::platform {
namespace {

// The length of the random part that the engine's zip library puts after "<target>.".
constexpr int kRandomPartLength = 6;

struct Registry
{
    std::mutex mutex;
    QStringList saving;    // canonical paths of the files being saved
    QStringList temporary; // registered temporary files
};

Registry& registry()
{
    static Registry r;
    return r;
}

QString canonicalOrAbsolute(const QString& path)
{
    const QFileInfo info(path);
    const QString canonical = info.canonicalFilePath();
    return canonical.isEmpty() ? info.absoluteFilePath() : canonical;
}

// The files this process holds open, as the kernel names them.
QStringList openFiles()
{
    QStringList files;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString& fd : fds.entryList(QDir::Files | QDir::System | QDir::NoDotAndDotDot)) {
        char target[4096];
        const ssize_t n =
            ::readlink(QFile::encodeName(fds.filePath(fd)).constData(), target, sizeof target - 1);
        if (n > 0)
            files.append(QFile::decodeName(QByteArray(target, int(n))));
    }
    return files;
}

} // namespace

SavingFile::SavingFile(const QString& target) : m_target(canonicalOrAbsolute(target))
{
    const std::lock_guard<std::mutex> lock(registry().mutex);
    registry().saving.append(m_target);
}

SavingFile::~SavingFile()
{
    const std::lock_guard<std::mutex> lock(registry().mutex);
    registry().saving.removeOne(m_target);
}

void registerTemporaryFile(const QString& path)
{
    const std::lock_guard<std::mutex> lock(registry().mutex);
    registry().temporary.append(path);
}

void forgetTemporaryFile(const QString& path)
{
    const std::lock_guard<std::mutex> lock(registry().mutex);
    registry().temporary.removeOne(path);
}

void removeTemporaryFiles()
{
    QStringList doomed;
    {
        const std::lock_guard<std::mutex> lock(registry().mutex);
        doomed = registry().temporary;
        if (!registry().saving.isEmpty()) {
            // Only a file this process has open is ours: a user's "book.xlsx.backup" is not.
            for (const QString& open : openFiles()) {
                for (const QString& target : registry().saving) {
                    if (open.size() == target.size() + 1 + kRandomPartLength &&
                        open.startsWith(target + QLatin1Char('.')))
                        doomed.append(open);
                }
            }
        }
    }
    for (const QString& path : doomed)
        QFile::remove(path);
}

} // namespace corvane::platform
