#include "operations/celllocating.h"

#include "automation/sheet.h"

#include <set>
#include <utility>

namespace corvane::automation {

QStringList appointedCellItems(const QString& appointCells)
{
    QString text = appointCells;
    text.replace(QChar(0xFF0C), QLatin1Char(','));
    return text.split(QLatin1Char(','), Qt::KeepEmptyParts);
}

CellAddress offsetTarget(const CellAddress& match, int rowOffset, int columnOffset)
{
    // In 64 bits so that no offset can wrap a coordinate round; past the sheet's edge the
    // server simply has no cell.
    const auto place = [](int at, int offset, int limit) {
        const qint64 moved = qint64(at) + offset;
        if (moved < 1)
            return 1;
        return moved > limit ? limit + 1 : int(moved);
    };
    return {place(match.row, rowOffset, kMaxRows), place(match.column, columnOffset, kMaxColumns)};
}

QString sheetLine(const QString& sheetName, const RangeAddress& range)
{
    return QStringLiteral("Sheet:") + sheetName + QStringLiteral(",识别出 ") +
           QString::number(range.firstRow + range.rowCount()) + QStringLiteral("行,") +
           QString::number(range.firstColumn + range.columnCount()) +
           QStringLiteral("列。(如超出实际,请进行提速设置)");
}

bool isSingleEmptyCell(Sheet& sheet, const RangeAddress& range)
{
    if (range.rowCount() != 1 || range.columnCount() != 1)
        return false;
    return sheet.value(range.topLeft()).toText().isEmpty();
}

namespace {

// Where a cell comes in a by-rows search that starts after the range's top-left cell:
// 0 for the cell right after it, ..., the top-left cell itself last.
class SearchOrder
{
public:
    explicit SearchOrder(const RangeAddress& range)
        : m_range(range), m_size(qint64(range.rowCount()) * range.columnCount())
    {
    }

    qint64 rank(const CellAddress& cell) const
    {
        const qint64 index =
            qint64(cell.row - m_range.firstRow) * m_range.columnCount() + (cell.column - m_range.firstColumn);
        return (index - 1 + m_size) % m_size;
    }

private:
    RangeAddress m_range;
    qint64 m_size;
};

} // namespace

WalkEnd walkMatches(Sheet& sheet, const RangeAddress& range, const FindQuery& query,
                    const std::function<bool(const CellAddress& match)>& visit)
{
    std::optional<CellAddress> match = sheet.find(range, query, range.topLeft());
    if (!match)
        return WalkEnd::NoMatch;

    const SearchOrder order(range);
    const CellAddress first = *match;
    const qint64 firstRank = order.rank(first);
    std::set<std::pair<int, int>> visited;
    // How often the search has gone from the end of the range back to its beginning.
    int turns = 0;
    for (;;) {
        if (!range.contains(*match))
            return WalkEnd::CameRound; // a server that strays outside the range would never end
        if (!visited.insert({match->row, match->column}).second)
            return WalkEnd::CameRound;
        if (!visit(*match))
            return WalkEnd::Stopped;

        const std::optional<CellAddress> next = sheet.find(range, query, *match);
        if (!next)
            return WalkEnd::NoMatch;
        if (!range.contains(*next))
            return WalkEnd::CameRound;
        const qint64 rank = order.rank(*next);
        if (rank <= order.rank(*match))
            ++turns;
        // After one turn, matches before the first one are new (written by the walk itself)
        // and are visited; reaching the first match's place again, whether or not it still
        // matches, means everything has been seen.
        if (turns >= 2 || (turns == 1 && rank >= firstRank))
            return WalkEnd::CameRound;
        match = next;
    }
}

QString replaceExactly(const QString& text, const QString& find, const QString& with)
{
    QString out;
    if (find.isEmpty()) {
        out.reserve(text.size() * (with.size() + 1) + with.size());
        for (int i = 0; i < text.size(); ++i) {
            out += with;
            out += text.at(i);
            // A character outside the basic plane is one character, not two halves.
            if (text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
                out += text.at(++i);
        }
        out += with;
        return out;
    }
    int from = 0;
    for (int at = text.indexOf(find, 0, Qt::CaseSensitive); at >= 0;
         at = text.indexOf(find, from, Qt::CaseSensitive)) {
        out += text.midRef(from, at - from);
        out += with;
        from = at + find.size();
    }
    out += text.midRef(from);
    return out;
}

} // namespace corvane::automation
