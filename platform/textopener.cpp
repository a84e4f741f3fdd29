#include "platform/textopener.h"

#include <QProcess>
#include <QtGlobal>

namespace corvane::platform {

void openTextFile(const QString& path)
{
    const QString opener = qEnvironmentVariable(kTextOpenerVariable);
    if (!opener.isEmpty()) {
        QProcess::startDetached(opener, {path});
        return;
    }
#ifdef Q_OS_WIN
    QProcess::startDetached(QStringLiteral("notepad.exe"), {path});
#else
    // xdg-open rather than QDesktopServices: the worker thread and the command-line program
    // have no GUI application object.
    QProcess::startDetached(QStringLiteral("xdg-open"), {path});
#endif
}

} // namespace corvane::platform
