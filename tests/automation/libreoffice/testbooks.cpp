#include "testbooks.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QUrl>

#include <cstdio>

namespace corvane::testing {

QString runPython(const QString& script, const QStringList& args)
{
    QString python = qEnvironmentVariable("CORVANE_PYTHON");
    if (python.isEmpty())
        python = QStringLiteral("/usr/bin/python3");
    QProcess p;
    p.start(python, QStringList{QStringLiteral("-c"), script} + args);
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        std::fprintf(stderr, "python failed: %s\n", p.readAllStandardError().constData());
        return {};
    }
    // Empty output is still success: keep it apart from the null string of a failure.
    return QStringLiteral("") + QString::fromUtf8(p.readAllStandardOutput());
}

bool convertWithSoffice(const QStringList& files, const QString& format, const QString& outDir)
{
    QString soffice = qEnvironmentVariable("CORVANE_SOFFICE");
    if (soffice.isEmpty())
        soffice = QStringLiteral("soffice");
    QTemporaryDir profile;
    if (!profile.isValid())
        return false;
    QProcess p;
    p.start(soffice, QStringList{QStringLiteral("-env:UserInstallation=") +
                                     QUrl::fromLocalFile(profile.path()).toString(QUrl::FullyEncoded),
                                 QStringLiteral("--headless"), QStringLiteral("--norestore"),
                                 QStringLiteral("--convert-to"), format, QStringLiteral("--outdir"), outDir} +
                         files);
    if (!p.waitForFinished(180000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        std::fprintf(stderr, "soffice --convert-to failed: %s\n", p.readAllStandardError().constData());
        return false;
    }
    return true;
}

bool isCompoundFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) && f.read(8) == QByteArray::fromHex("d0cf11e0a1b11ae1");
}

} // namespace corvane::testing
