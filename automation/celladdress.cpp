#include "celladdress.h"

#include <QRegularExpression>

namespace corvane::automation {

QString columnName(int column)
{
    if (column < 1 || column > kMaxColumns)
        return {};
    QString name;
    while (column > 0) {
        const int digit = (column - 1) % 26;
        name.prepend(QChar('A' + digit));
        column = (column - 1) / 26;
    }
    return name;
}

QString cellName(const CellAddress& cell)
{
    return columnName(cell.column) + QString::number(cell.row);
}

QString rangeName(const RangeAddress& range)
{
    if (range.firstRow == range.lastRow && range.firstColumn == range.lastColumn)
        return cellName(range.topLeft());
    return cellName(range.topLeft()) + QLatin1Char(':') + cellName({range.lastRow, range.lastColumn});
}

namespace {

// Column letters to a number; 0 when out of the sheet's limits.
int columnNumber(const QString& letters)
{
    if (letters.isEmpty() || letters.size() > 3)
        return 0;
    int n = 0;
    for (const QChar ch : letters)
        n = n * 26 + (ch.toUpper().unicode() - 'A' + 1);
    return n <= kMaxColumns ? n : 0;
}

int rowNumber(const QString& digits)
{
    if (digits.isEmpty() || digits.size() > 7)
        return 0;
    bool ok = false;
    const int n = digits.toInt(&ok);
    return ok && n >= 1 && n <= kMaxRows ? n : 0;
}

} // namespace

std::optional<RangeAddress> parseRangeAddress(const QString& text)
{
    static const QRegularExpression cellRe(QStringLiteral("^\\$?([A-Za-z]{1,3})\\$?([0-9]{1,7})$"));
    static const QRegularExpression rowRe(QStringLiteral("^\\$?([0-9]{1,7})$"));
    static const QRegularExpression colRe(QStringLiteral("^\\$?([A-Za-z]{1,3})$"));

    const QStringList parts = text.split(QLatin1Char(':'));
    if (parts.size() == 1) {
        const auto m = cellRe.match(parts[0]);
        if (!m.hasMatch())
            return std::nullopt;
        const int c = columnNumber(m.captured(1)), r = rowNumber(m.captured(2));
        if (!c || !r)
            return std::nullopt;
        return RangeAddress{r, c, r, c};
    }
    if (parts.size() != 2)
        return std::nullopt;

    const auto a = cellRe.match(parts[0]), b = cellRe.match(parts[1]);
    if (a.hasMatch() && b.hasMatch()) {
        const int c1 = columnNumber(a.captured(1)), r1 = rowNumber(a.captured(2));
        const int c2 = columnNumber(b.captured(1)), r2 = rowNumber(b.captured(2));
        if (!c1 || !r1 || !c2 || !r2)
            return std::nullopt;
        return RangeAddress{qMin(r1, r2), qMin(c1, c2), qMax(r1, r2), qMax(c1, c2)};
    }
    const auto ra = rowRe.match(parts[0]), rb = rowRe.match(parts[1]);
    if (ra.hasMatch() && rb.hasMatch()) {
        const int r1 = rowNumber(ra.captured(1)), r2 = rowNumber(rb.captured(1));
        if (!r1 || !r2)
            return std::nullopt;
        return RangeAddress{qMin(r1, r2), 1, qMax(r1, r2), kMaxColumns};
    }
    const auto ca = colRe.match(parts[0]), cb = colRe.match(parts[1]);
    if (ca.hasMatch() && cb.hasMatch()) {
        const int c1 = columnNumber(ca.captured(1)), c2 = columnNumber(cb.captured(1));
        if (!c1 || !c2)
            return std::nullopt;
        return RangeAddress{1, qMin(c1, c2), kMaxRows, qMax(c1, c2)};
    }
    return std::nullopt;
}

} // namespace corvane::automation
