#include "changerecord.h"

namespace corvane::automation {

QString changeKindName(ChangeKind kind)
{
    switch (kind) {
    case ChangeKind::Value:
        return QStringLiteral("value");
    case ChangeKind::Formula:
        return QStringLiteral("formula");
    case ChangeKind::RowDeleted:
        return QStringLiteral("row-deleted");
    case ChangeKind::ColumnDeleted:
        return QStringLiteral("column-deleted");
    case ChangeKind::RowInserted:
        return QStringLiteral("row-inserted");
    case ChangeKind::ColumnInserted:
        return QStringLiteral("column-inserted");
    case ChangeKind::PictureInserted:
        return QStringLiteral("picture-inserted");
    case ChangeKind::ShapeDeleted:
        return QStringLiteral("object-deleted");
    case ChangeKind::SheetDeleted:
        return QStringLiteral("sheet-deleted");
    case ChangeKind::Comment:
        return QStringLiteral("comment");
    case ChangeKind::ShapeText:
        return QStringLiteral("shape-text");
    case ChangeKind::HeaderFooter:
        return QStringLiteral("header-footer");
    case ChangeKind::Hyperlink:
        return QStringLiteral("hyperlink");
    case ChangeKind::ExternalLink:
        return QStringLiteral("external-link");
    case ChangeKind::SheetRenamed:
        break;
    }
    return QStringLiteral("sheet-renamed");
}

ChangeRecord cellChange(const QString& workbook, const QString& sheet, const CellAddress& cell,
                        const QString& before, const QString& after)
{
    const bool formula = before.startsWith(QLatin1Char('=')) || after.startsWith(QLatin1Char('='));
    return {workbook, sheet, cellName(cell), formula ? ChangeKind::Formula : ChangeKind::Value, before,
            after,    {}};
}

QString outcomeName(WorkbookRecord::Outcome outcome)
{
    switch (outcome) {
    case WorkbookRecord::Outcome::Changed:
        return QStringLiteral("changed");
    case WorkbookRecord::Outcome::Unchanged:
        return QStringLiteral("unchanged");
    case WorkbookRecord::Outcome::Refused:
        return QStringLiteral("refused");
    case WorkbookRecord::Outcome::Failed:
        break;
    }
    return QStringLiteral("failed");
}

} // namespace corvane::automation
