// The files a save is writing at this moment, so that a program told to end at once can take
// its half-written temporary files with it. The workbooks themselves are only ever replaced by
// a rename, so they are either the old file or the new one.
#pragma once

#include <QString>

namespace corvane::platform {

// Marks `target` as being saved for the guard's life. The engine writes it as a temporary
// sibling named "<target>.XXXXXX" that it holds open until the rename.
class SavingFile
{
public:
    explicit SavingFile(const QString& target);
    ~SavingFile();
    SavingFile(const SavingFile&) = delete;
    SavingFile& operator=(const SavingFile&) = delete;

private:
    QString m_target;
};

// A temporary file that another process (an office server) writes for us until it is renamed.
void registerTemporaryFile(const QString& path);
void forgetTemporaryFile(const QString& path);

// Removes the registered temporary files and the temporary siblings of files being saved that
// this process holds open. For a program about to end at once; safe from any thread.
void removeTemporaryFiles();

} // namespace corvane::platform
