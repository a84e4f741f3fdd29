#include "operations/rowcolumn.h"

#include "automation/sheet.h"

#include <utility>

namespace corvane::automation {

std::optional<RangeAddress> rangeAfterEdit(const RangeAddress& range, bool rows, int index, bool insert)
{
    RangeAddress r = range;
    int& first = rows ? r.firstRow : r.firstColumn;
    int& last = rows ? r.lastRow : r.lastColumn;
    const int limit = rows ? kMaxRows : kMaxColumns;
    if (index > last)
        return r;
    if (insert) {
        if (index <= first)
            ++first;
        if (last < limit)
            ++last;
        if (first > limit)
            return std::nullopt;
        return r;
    }
    if (first == last && index == first)
        return std::nullopt;
    if (index < first)
        --first;
    --last;
    return r;
}

namespace {

// The search continues after `start`, which may lie outside the range once the add operations
// have moved it on (past the range's right edge or below it). The server's search wants a cell
// of the range, so the last range cell before `start` in the by-rows order stands in for it;
// when there is none, the search starts at the range's top-left cell.
std::optional<CellAddress> findAfter(Sheet& sheet, const RangeAddress& range, const FindQuery& query,
                                     const CellAddress& start)
{
    if (range.contains(start))
        return sheet.find(range, query, start);
    CellAddress before{range.lastRow, range.lastColumn};
    if (start.row < range.firstRow) {
        // nothing of the range lies before it
    } else if (start.row <= range.lastRow) {
        if (start.column > range.lastColumn)
            before = {start.row, range.lastColumn};
        else if (start.row > range.firstRow)
            before = {start.row - 1, range.lastColumn};
    }
    return sheet.find(range, query, before);
}

} // namespace

RowColumnOperation::RowColumnOperation(RowColumnOptions options)
    : CellJobOperation(std::move(options.locating)), m_mode(options.mode),
      m_insertDownOrRight(options.insertDownOrRight)
{
}

std::unique_ptr<Operation> RowColumnOperation::workbookCopy() const
{
    return uncounted(std::make_unique<RowColumnOperation>(*this));
}

bool RowColumnOperation::edit(Sheet& sheet, int index)
{
    bool done = false;
    switch (m_mode) {
    case RowColumnMode::DeleteRow:
        done = sheet.deleteRow(index);
        break;
    case RowColumnMode::DeleteColumn:
        done = sheet.deleteColumn(index);
        break;
    case RowColumnMode::AddRow:
        done = sheet.insertRow(index);
        break;
    case RowColumnMode::AddColumn:
        done = sheet.insertColumn(index);
        break;
    }
    if (done) {
        static constexpr ChangeKind kinds[] = {ChangeKind::RowDeleted, ChangeKind::ColumnDeleted,
                                               ChangeKind::RowInserted, ChangeKind::ColumnInserted};
        const QString line = rows() ? QString::number(index) : columnName(index);
        const int adjusted = sheet.lastAdjustedFormulas();
        recordChange(
            ChangeRecord{{},
                         sheet.name(),
                         line + QLatin1Char(':') + line,
                         kinds[int(m_mode)],
                         {},
                         {},
                         adjusted >= 0 ? QStringLiteral("%1 formulas adjusted").arg(adjusted) : QString()});
    } else {
        const QString what = rows() ? QStringLiteral("row") : QStringLiteral("column");
        const QString verb = inserts() ? QStringLiteral("could not insert a %1 at %2")
                                       : QStringLiteral("could not delete %1 %2");
        const QString line = rows() ? QString::number(index) : columnName(index);
        reportRefusal(sheet, verb.arg(what, line), sheet.lastError());
    }
    return done;
}

bool RowColumnOperation::operateOnAppointed(Sheet& sheet, const CellAddress& cell)
{
    const int index = rows() ? cell.row : cell.column;
    return edit(sheet, inserts() && m_insertDownOrRight ? index + 1 : index);
}

Operation::AfterSheet RowColumnOperation::walkSheet(Sheet& sheet, const RangeAddress& searchRange)
{
    const CellLocating& where = locating();
    const FindQuery query{where.findText, where.findInFormula ? LookIn::Formulas : LookIn::Values,
                          where.lookAt};
    const AfterSheet once = where.workbookFillOnce ? AfterSheet::EndWorkbook : AfterSheet::NextSheet;
    std::optional<RangeAddress> range = searchRange;
    int lowestRow = searchRange.firstRow;
    int lowestColumn = searchRange.firstColumn;
    CellAddress start = searchRange.topLeft();

    for (;;) {
        const std::optional<CellAddress> match = findAfter(sheet, *range, query, start);
        if (!match)
            return AfterSheet::NextSheet;
        const int index = rows() ? match->row : match->column;
        if (!inserts()) {
            // A deletion the server refuses leaves the match where it was; searching again
            // would find it for ever. The refusal is reported and the sheet ends, uncounted.
            if (!edit(sheet, index))
                return AfterSheet::NextSheet;
            range = rangeAfterEdit(*range, rows(), index, false);
            if (!range) {
                countCell();
                return where.sheetFillOnce || where.workbookFillOnce ? once : AfterSheet::NextSheet;
            }
            // The start cell went with its row or column when it was the range's first one; the
            // cell now in its place is where the search goes on from.
            start = range->topLeft();
        } else {
            // Past the lines already handled, the search has come round.
            if (index < (rows() ? lowestRow : lowestColumn))
                return AfterSheet::NextSheet;
            const int at = m_insertDownOrRight ? index + 1 : index;
            const bool done = edit(sheet, at);
            if (done)
                range = rangeAfterEdit(*range, rows(), at, true);
            if (!range)
                return AfterSheet::NextSheet;
            (rows() ? lowestRow : lowestColumn) = index + 2;
            start = {lowestRow, lowestColumn};
            if (!done)
                continue; // the refused match now lies before the lowest line: the walk ends there
        }
        countCell();
        if (where.sheetFillOnce || where.workbookFillOnce)
            return once;
    }
}

} // namespace corvane::automation
