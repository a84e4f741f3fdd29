#include "platform/textopener.h"

#include <QProcess>
#include <QtGlobal>

namespace corvane::platform {

namespace {

void openWith(const QString& path, const QString& windowsProgram)
{
    const QString opener = qEnvironmentVariable(kTextOpenerVariable);
    if (!opener.isEmpty()) {
        QProcess::startDetached(opener, {path});
        return;
    }
#ifdef Q_OS_WIN
    QProcess::startDetached(windowsProgram, {path});
#else
    (void)windowsProgram;
    // xdg-open rather than QDesktopServices: the worker thread and the command-line program
    // have no GUI application object.
    QProcess::startDetached(QStringLiteral("xdg-open"), {path});
#endif
}

} // namespace

void openTextFile(const QString& path)
{
    openWith(path, QStringLiteral("notepad.exe"));
}

void openFolder(const QString& path)
{
    openWith(path, QStringLiteral("explorer.exe"));
}

} // namespace corvane::platform
