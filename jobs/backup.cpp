#include "backup.h"

#include "platform/filecopy.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QRandomGenerator>
#include <QStandardPaths>

#include <cstdio>

#include <unistd.h>

namespace corvane::jobs {
namespace {

const QString kPath = QStringLiteral("path");
const QString kCopy = QStringLiteral("copy");
const QString kSize = QStringLiteral("size");
const QString kOriginal = QStringLiteral("sha256");
const QString kSaved = QStringLiteral("savedSha256");

// Hex SHA-256 of the file's bytes; empty when it cannot be read.
QString fileDigest(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&file))
        return {};
    return QString::fromLatin1(hash.result().toHex());
}

bool isInside(const QString& path, const QString& folder)
{
    const QString inner = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    const QString outer = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    return inner == outer ||
           inner.startsWith(outer.endsWith(QLatin1Char('/')) ? outer : outer + QLatin1Char('/'));
}

// The workbook's place in the backup: its path below the walked folder.
QString copyName(const QString& sourcePath, const QString& path)
{
    const QString relative =
        QDir(QDir::fromNativeSeparators(sourcePath)).relativeFilePath(QDir::fromNativeSeparators(path));
    if (relative.startsWith(QLatin1String("../")) || QDir::isAbsolutePath(relative))
        return QStringLiteral("outside/") + QFileInfo(path).fileName();
    return relative;
}

QByteArray jsonLine(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

} // namespace

QString backupRoot()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/Corvane/backups");
}

QString newBackupFolder()
{
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString folder = backupRoot() + QLatin1Char('/') + stamp;
    for (int n = 2; QFileInfo::exists(folder); ++n)
        folder = backupRoot() + QLatin1Char('/') + stamp + QStringLiteral("-%1").arg(n);
    return folder;
}

QString lastBackupFolder()
{
    const QDir root(backupRoot());
    QStringList names = root.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::Reversed);
    for (const QString& name : names) {
        if (QFileInfo::exists(root.filePath(name) + QLatin1Char('/') + QLatin1String(kBackupManifestName)))
            return root.filePath(name);
    }
    return {};
}

QString backupFolderProblem(const QString& folder, const QString& sourcePath)
{
    if (folder.isEmpty())
        return QStringLiteral("no backup folder given");
    if (isInside(folder, QDir::fromNativeSeparators(sourcePath)))
        return QStringLiteral("the backup folder %1 lies inside the folder whose workbooks are changed; "
                              "the next run would take its copies for workbooks")
            .arg(folder);
    if (QFileInfo::exists(folder + QLatin1Char('/') + QLatin1String(kBackupManifestName)))
        return QStringLiteral("the backup folder %1 already holds a backup; give a new one").arg(folder);
    return {};
}

WorkbookBackup::WorkbookBackup(QString sourcePath, QString folder)
    : m_sourcePath(std::move(sourcePath)), m_folder(std::move(folder))
{
}

bool WorkbookBackup::appendToManifest(const QByteArray& line, bool durable, QString* reason)
{
    QFile manifest(m_folder + QLatin1Char('/') + QLatin1String(kBackupManifestName));
    if (!manifest.open(QIODevice::WriteOnly | QIODevice::Append) || manifest.write(line) != line.size() ||
        !manifest.flush() || (durable && ::fsync(manifest.handle()) != 0)) {
        *reason = QStringLiteral("not saved: its backup manifest %1 cannot be written (%2)")
                      .arg(manifest.fileName(), manifest.errorString());
        return false;
    }
    return true;
}

bool WorkbookBackup::beforeSave(const QString& path, QString* reason)
{
    const QString copy = copyName(m_sourcePath, path);
    const QString target = m_folder + QLatin1Char('/') + copy;
    if (!QDir().mkpath(QFileInfo(target).absolutePath())) {
        *reason = QStringLiteral("not saved: its backup folder %1 cannot be created")
                      .arg(QFileInfo(target).absolutePath());
        return false;
    }
    QString error;
    if (!platform::cloneFile(path, target, &error)) {
        *reason = QStringLiteral("not saved: no backup could be made (%1)").arg(error);
        return false;
    }
    const QString digest = fileDigest(target);
    QJsonObject entry;
    entry.insert(kPath, QFileInfo(path).absoluteFilePath());
    entry.insert(kCopy, copy);
    entry.insert(kSize, double(QFileInfo(target).size()));
    entry.insert(kOriginal, digest);
    if (digest.isEmpty() || !appendToManifest(jsonLine(entry), true, reason)) {
        if (digest.isEmpty())
            *reason = QStringLiteral("not saved: its backup %1 cannot be read back").arg(target);
        // A copy the manifest does not name would never be restored.
        QFile::remove(target);
        return false;
    }
    return true;
}

void WorkbookBackup::afterSave(const QString& path, bool saved)
{
    if (!saved)
        return; // the workbook is as its copy; undo finds nothing to put back
    QJsonObject entry;
    entry.insert(kPath, QFileInfo(path).absoluteFilePath());
    entry.insert(kSaved, fileDigest(path));
    QString ignored;
    appendToManifest(jsonLine(entry), false, &ignored);
    ++m_saved;
}

QString WorkbookBackup::summaryNote() const
{
    if (m_saved == 0)
        return {};
    return QStringLiteral(" 修改前的文件已备份到:") + QDir::toNativeSeparators(m_folder);
}

UndoReport undoBackup(const QString& folder)
{
    UndoReport report;
    QFile manifest(folder + QLatin1Char('/') + QLatin1String(kBackupManifestName));
    if (!manifest.open(QIODevice::ReadOnly)) {
        report.error =
            QStringLiteral("%1 is no backup folder: %2 cannot be read").arg(folder, manifest.fileName());
        return report;
    }
    // Later lines complete earlier ones (the saved bytes' digest follows the save).
    QStringList order;
    QMap<QString, QJsonObject> entries;
    while (!manifest.atEnd()) {
        const QJsonObject line = QJsonDocument::fromJson(manifest.readLine()).object();
        const QString path = line.value(kPath).toString();
        if (path.isEmpty())
            continue;
        if (!entries.contains(path))
            order.append(path);
        QJsonObject& entry = entries[path];
        for (auto it = line.begin(); it != line.end(); ++it)
            entry.insert(it.key(), it.value());
    }

    for (const QString& path : order) {
        const QJsonObject entry = entries.value(path);
        const QString copy = folder + QLatin1Char('/') + entry.value(kCopy).toString();
        const QString saved = entry.value(kSaved).toString();
        const QString now = fileDigest(path);
        if (!now.isEmpty() && now == entry.value(kOriginal).toString()) {
            report.unchanged.append(path);
            continue;
        }
        if (saved.isEmpty()) {
            report.leftAlone.append(path +
                                    QStringLiteral(": what the run saved was not recorded; left as it is"));
            continue;
        }
        if (now != saved) {
            report.leftAlone.append(path + (now.isEmpty()
                                                ? QStringLiteral(": it is gone or cannot be read")
                                                : QStringLiteral(": changed since the run; left as it is")));
            continue;
        }
        if (fileDigest(copy) != entry.value(kOriginal).toString()) {
            report.leftAlone.append(path + QStringLiteral(": its backup %1 is missing or damaged").arg(copy));
            continue;
        }
        // Beside the workbook, so that the rename replaces it in one step.
        const QFileInfo target(path);
        const QString temporary = target.absolutePath() +
                                  QStringLiteral("/.corvane-undo-%1-")
                                      .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0')) +
                                  target.fileName();
        QString error;
        if (!platform::cloneFile(copy, temporary, &error)) {
            report.leftAlone.append(path + QStringLiteral(": cannot be put back (%1)").arg(error));
            continue;
        }
        if (::rename(QFile::encodeName(temporary).constData(), QFile::encodeName(path).constData()) != 0) {
            QFile::remove(temporary);
            report.leftAlone.append(path + QStringLiteral(": cannot be replaced"));
            continue;
        }
        report.restored.append(path);
    }
    return report;
}

} // namespace corvane::jobs
