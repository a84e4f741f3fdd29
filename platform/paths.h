// Path tests made before a job touches the file system.
#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>

namespace corvane::platform {

// What makes a file or folder the same one under any of its names (links, hard links, bind
// mounts): its device and its inode.
struct FileIdentity
{
    quint64 device = 0;
    quint64 inode = 0;

    bool operator<(const FileIdentity& other) const
    {
        return device != other.device ? device < other.device : inode < other.inode;
    }
};

// The identity of what the path leads to (links followed); none when it cannot be reached.
std::optional<FileIdentity> fileIdentity(const QString& path);

// True when an entry of that name exists (file, folder, or a link even if it dangles).
// An empty path is nothing.
bool PathExists(const QString& path);

// True when the path names a folder, or a link to one. One trailing separator is ignored;
// an empty path is no folder.
bool FolderExists(const QString& path);

} // namespace corvane::platform
