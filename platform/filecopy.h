// Copies a file's bytes to a new file, sharing the blocks where the file system can (a reflink),
// so that keeping a copy of every workbook before it is changed costs little.
#pragma once

#include <QString>

namespace corvane::platform {

// Creates `to` (which must not exist yet) with the bytes and permissions of `from`, flushed to
// the disk before it returns. False with `error` set when it could not; nothing is left at `to`.
bool cloneFile(const QString& from, const QString& to, QString* error);

} // namespace corvane::platform
