// The zip source a package is opened through: it reads the workbook file as it is, and on
// saving writes the new archive through platform::SaveFile, so that the temporary file is
// hidden and known as ours and the workbook keeps its owner, group and mode.
#pragma once

#include <QString>

struct zip;

namespace corvane::automation::native {

class SaveSource;

struct OpenedArchive
{
    zip* archive = nullptr;       // null when it could not be opened
    int errorCode = 0;            // libzip's ZIP_ER_* code when it could not
    SaveSource* source = nullptr; // lives as long as the archive
};

OpenedArchive openArchiveFile(const QString& path);

// Why the last save through `source` failed in a way libzip cannot tell ("" otherwise).
QString saveFailure(const SaveSource* source);

} // namespace corvane::automation::native
