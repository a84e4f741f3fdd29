// How a save replaces a workbook: the new content goes to a hidden temporary file beside it,
// which then takes the workbook's place with the workbook's owner, group and mode. Every server
// saves through here, so the rules for what may be replaced hold for all of them.
#pragma once

#include <QFile>
#include <QString>

namespace corvane::platform {

// True for the file names of those temporary files, a killed run's included. They never end
// in a workbook's suffix.
bool isSaveTempName(const QString& fileName);

// Removes the temporary save file at `path` when no running save owns it any more (its run
// was killed). Any other file is left alone. True when it was removed.
bool removeStaleSaveFile(const QString& path);

// Why the file at `path` must not be replaced, or "" when it may. A file without write bits is
// read-only even for a user whom the system would let write (root).
QString refusalToReplace(const QString& path);

class SaveFile
{
public:
    // `target` is the file to replace; links are followed, so the file they lead to is replaced.
    explicit SaveFile(const QString& target);
    // Removes the temporary file unless it took the target's place.
    ~SaveFile();
    SaveFile(const SaveFile&) = delete;
    SaveFile& operator=(const SaveFile&) = delete;

    // Creates the temporary file in the target's folder and opens it for writing. It is marked
    // as in use for as long as this object lives, so that no other run removes it meanwhile.
    bool open();
    QString path() const { return m_path; }
    // The open temporary file. Whoever writes it by path instead must leave it closed.
    QFile& file() { return m_file; }

    // Puts the temporary file in the target's place with the target's owner, group and mode.
    // Refused, and the target left as it was, when the target is read-only or its owner and
    // group cannot be kept; the reason is in errorString().
    bool commit();

    QString errorString() const { return m_error; }

private:
    QString m_target;
    QString m_path;
    QFile m_file;
    int m_lock = -1;
    bool m_committed = false;
    QString m_error;
};

} // namespace corvane::platform
