// Path tests made before a job touches the file system.
#pragma once

#include <QString>

namespace corvane::platform {

// True when an entry of that name exists (file, folder, or a link even if it dangles).
// An empty path is nothing.
bool PathExists(const QString& path);

// True when the path names a folder, or a link to one. One trailing separator is ignored;
// an empty path is no folder.
bool FolderExists(const QString& path);

} // namespace corvane::platform
