// The files a save is writing at this moment, so that a program told to end at once can take
// its half-written temporary files with it. The workbooks themselves are only ever replaced by
// a rename, so they are either the old file or the new one.
#pragma once

#include <QString>

namespace corvane::platform {

// A temporary file being written for a save (by us or by an office server) until it is renamed.
void registerTemporaryFile(const QString& path);
void forgetTemporaryFile(const QString& path);

// Removes the registered temporary files. For a program about to end at once; safe from any
// thread.
void removeTemporaryFiles();

} // namespace corvane::platform
