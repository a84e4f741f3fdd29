#include "platform/savingfiles.h"

#include <QFile>
#include <QStringList>

#include <mutex>

namespace corvane::platform {
namespace {

struct Registry
{
    std::mutex mutex;
    QStringList temporary; // registered temporary files
};

Registry& registry()
{
    static Registry r;
    return r;
}

} // namespace

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
    }
    for (const QString& path : doomed)
        QFile::remove(path);
}

} // namespace corvane::platform
