// The recursive folder listing every run starts with, and the test that picks the workbooks
// out of it.
#pragma once

#include <QString>
#include <QStringList>

namespace corvane::automation {

// Every file below `folder`, depth first: a folder's own files (hidden ones included, file
// links excluded) in the order the file system reports them, then each subfolder's contents
// whole (hidden folders skipped, folder links followed). Entries are `folder` as given joined
// to the name by one "/"; entries of subfolders start with the subfolder's absolute path.
// Each real folder and each real file is listed once, under the first path the walk reaches it
// by, however many links or hard links lead to it.
QStringList ListFolderFiles(const QString& folder);

// The entry as it is opened, shown and listed: native separators.
QString workbookPath(const QString& entry);

// True for names ending in ".xls", ".xlsx" or ".xlsm" (any letter case) whose path holds no
// "~$" anywhere (lock files of open workbooks, and everything below folders named like them)
// and that are not a save's temporary file.
bool isWorkbookPath(const QString& path);

} // namespace corvane::automation
