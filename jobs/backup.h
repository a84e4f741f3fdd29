// Copies of the workbooks a run changes, taken just before each one's save, with a manifest
// that lets the run be undone: a workbook is put back only while it still holds exactly what
// the run saved. Corvane never deletes a backup.
#pragma once

#include "run/runcontrol.h"

#include <QString>
#include <QStringList>

namespace corvane::jobs {

// The manifest's file name inside a backup folder: one JSON object per line.
inline constexpr char kBackupManifestName[] = "manifest.jsonl";

// Where the window keeps its backups: the user's data folder, outside any folder a run walks.
QString backupRoot();
// A folder below backupRoot() named after the current date and time, not existing yet.
QString newBackupFolder();
// The newest folder below backupRoot() holding a manifest; empty when there is none.
QString lastBackupFolder();

// Why `folder` cannot take the backup of a run over `sourcePath`; empty when it can. A folder
// inside the walked one would be walked by the next run; one holding a backup already would
// have its copies of the originals overwritten.
QString backupFolderProblem(const QString& folder, const QString& sourcePath);

// The save guard of a run with backups. The copy is made (and flushed) before the save; a copy
// that cannot be made refuses the save, with the reason.
class WorkbookBackup : public automation::SaveGuard
{
public:
    WorkbookBackup(QString sourcePath, QString folder);

    bool beforeSave(const QString& path, QString* reason) override;
    void afterSave(const QString& path, bool saved) override;
    QString summaryNote() const override;

private:
    // `durable`: on the disk before it returns (the copy's entry, before the save replaces the file).
    bool appendToManifest(const QByteArray& line, bool durable, QString* reason);

    QString m_sourcePath;
    QString m_folder;
    int m_saved = 0;
};

struct UndoReport
{
    QStringList restored;
    QStringList unchanged; // already as before the run (undone before, say)
    QStringList leftAlone; // "path: reason"
    QString error;         // the backup itself could not be read
};

// Puts back every workbook of the backup in `folder` whose bytes are still those the run
// saved, each by an atomic replace; any other is left alone and reported.
UndoReport undoBackup(const QString& folder);

} // namespace corvane::jobs
