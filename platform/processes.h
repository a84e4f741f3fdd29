// Process list services: the single-instance rule and the sweep of spreadsheet servers
// both find processes by their executable's file name.
#pragma once

#include <QString>
#include <QStringList>

namespace corvane::platform {

// Counts running processes whose executable file name equals `name` exactly (byte for byte,
// case-sensitive). Processes that have already exited but are not yet reaped do not count.
// An empty name, or a process list that cannot be read, counts 0.
int CountProcessesByName(const QString& name);

// Asks the first such process (lowest process id) to end: SIGTERM here, TerminateProcess on
// Windows. True when a process of that name was found, even if the request was refused;
// false when none was found, the name is empty or the list cannot be read.
bool TerminateProcessByName(const QString& name);

// The file name under which copies of the window program are counted by the instance rule.
QString instanceProcessName();

// Executable file names of the spreadsheet applications whose servers must not hold workbooks
// open while cells are rewritten: Excel and WPS Spreadsheets on Windows, LibreOffice and
// WPS Spreadsheets for Linux here.
QStringList spreadsheetServerProcessNames();

} // namespace corvane::platform
