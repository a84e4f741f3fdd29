// Workbooks for the LibreOffice backend's tests, made and read back by independent tools:
// openpyxl (Debian's python3) writes and reads .xlsx, a separate headless soffice converts
// between formats.
#pragma once

#include <QString>
#include <QStringList>

namespace corvane::testing {

// Runs `script` with Debian's python3 (openpyxl available); `args` become sys.argv[1:].
// Returns its standard output, or a null string when it failed (the reason on stderr).
QString runPython(const QString& script, const QStringList& args = {});

// Converts every file in `files` to `format` (a soffice --convert-to target such as "xls" or
// "csv:Text - txt - csv (StarCalc):44,34,76,1,,0,false,true,false,false,false,-1") into
// `outDir`, with a throw-away profile. False when soffice is missing or failed.
bool convertWithSoffice(const QStringList& files, const QString& format, const QString& outDir);

// The first bytes of an OLE2 compound file, the container of BIFF .xls workbooks.
bool isCompoundFile(const QString& path);

} // namespace corvane::testing
