#include "sheetnaming.h"

namespace corvane::automation {

QString sheetNameRefusal(const QString& name, const QStringList& otherSheets)
{
    if (name.isEmpty())
        return QStringLiteral("a sheet name cannot be empty");
    if (name.size() > kMaxSheetNameLength)
        return QStringLiteral("the sheet name \"%1\" is longer than the %2 characters a sheet name can have")
            .arg(name)
            .arg(kMaxSheetNameLength);
    for (const QChar c : name) {
        if (QStringLiteral(":\\/?*[]").contains(c))
            return QStringLiteral(
                       "the sheet name \"%1\" holds \"%2\"; a sheet name cannot hold any of : \\ / ? * [ ]")
                .arg(name, c);
        // Not storable in the workbook's XML, and invisible on a tab.
        if (c.unicode() < 0x20 || c.unicode() == 0x7f || c.unicode() == 0xfffe || c.unicode() == 0xffff)
            return QStringLiteral("a sheet name cannot hold control characters");
    }
    if (name.startsWith(QLatin1Char('\'')) || name.endsWith(QLatin1Char('\'')))
        return QStringLiteral("a sheet name cannot begin or end with an apostrophe");
    // The application keeps this name for the change history of shared workbooks.
    if (name.compare(QLatin1String("History"), Qt::CaseInsensitive) == 0)
        return QStringLiteral("the sheet name \"%1\" is reserved by the application").arg(name);
    for (const QString& other : otherSheets) {
        if (other.compare(name, Qt::CaseInsensitive) == 0)
            return QStringLiteral("the workbook already has a sheet named \"%1\"").arg(other);
    }
    return {};
}

} // namespace corvane::automation
