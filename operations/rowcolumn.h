// Delete row, delete column, add row and add column: the row or column of every located cell
// is deleted, or an empty one inserted beside it. A deletion or insertion moves the matched cell
// itself, so each cell is located by a fresh search rather than by following the previous match.
#pragma once

#include "operations/celljob.h"

#include <QSet>
#include <QString>

namespace corvane::automation {

enum class RowColumnMode
{
    DeleteRow,
    DeleteColumn,
    AddRow,
    AddColumn
};

struct RowColumnOptions
{
    RowColumnMode mode = RowColumnMode::DeleteRow;
    CellLocating locating; // the offsets do not apply: the match's own row or column is edited
    bool insertDownOrRight = false;
};

// How a range the search works in follows a row or column edit, as the application's range
// objects do: it shrinks when lines inside it are deleted, moves when lines before it come or
// go, grows when a line is inserted after its first one; none when all its lines are deleted.
std::optional<RangeAddress> rangeAfterEdit(const RangeAddress& range, bool rows, int index, bool insert);

class RowColumnOperation : public CellJobOperation
{
public:
    explicit RowColumnOperation(RowColumnOptions options);
    WorkKind workKind() const override { return WorkKind::RowColumn; }

    std::unique_ptr<Operation> workbookCopy() const override;

protected:
    bool operateOnAppointed(Sheet& sheet, const CellAddress& cell) override;
    AfterSheet walkSheet(Sheet& sheet, const RangeAddress& range) override;

private:
    bool rows() const { return m_mode == RowColumnMode::DeleteRow || m_mode == RowColumnMode::AddRow; }
    bool inserts() const { return m_mode == RowColumnMode::AddRow || m_mode == RowColumnMode::AddColumn; }
    // Deletes or inserts the line `index`; a refusal is reported with the server's reason.
    bool edit(Sheet& sheet, int index);

    RowColumnMode m_mode;
    bool m_insertDownOrRight;
};

} // namespace corvane::automation
