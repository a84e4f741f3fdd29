// The names the application accepts for a sheet, checked before a rename touches anything.
#pragma once

#include <QString>
#include <QStringList>

namespace corvane::automation {

// The longest sheet name the application accepts, in UTF-16 code units as it counts them.
constexpr int kMaxSheetNameLength = 31;

// Why `name` cannot become a sheet's name beside `otherSheets` (the workbook's other sheets),
// or empty when it can. Names compare without regard to letter case.
QString sheetNameRefusal(const QString& name, const QStringList& otherSheets);

} // namespace corvane::automation
