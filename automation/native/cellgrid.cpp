#include "cellgrid.h"

#include "automation/native/formula/formulatokenizer.h"

#include <algorithm>

namespace corvane::automation::native {

namespace {
const auto rowBefore = [](const GridRow& r, int value) { return r.row < value; };
const auto cellBefore = [](const GridCell& c, int value) { return c.column < value; };
} // namespace

bool parseCellReference(std::string_view text, int& row, int& column)
{
    formula::ReferenceEnd end;
    if (!formula::parseCellWord(text, end))
        return false;
    row = end.row;
    column = end.column;
    return true;
}

std::string cellReference(int row, int column)
{
    std::string out;
    const formula::ReferenceEnd end{row, column, false, false};
    formula::appendAddress(out, formula::ReferenceShape::Cell, end, end);
    return out;
}

std::vector<GridRow>::const_iterator CellGrid::rowAtOrAfter(int row) const
{
    return std::lower_bound(m_rows.begin(), m_rows.end(), row, rowBefore);
}

GridRow* CellGrid::findRow(int row)
{
    auto it = std::lower_bound(m_rows.begin(), m_rows.end(), row, rowBefore);
    return it != m_rows.end() && it->row == row ? &*it : nullptr;
}

GridCell* CellGrid::find(int row, int column)
{
    GridRow* r = findRow(row);
    if (!r)
        return nullptr;
    auto c = std::lower_bound(r->cells.begin(), r->cells.end(), column, cellBefore);
    return c != r->cells.end() && c->column == column ? &*c : nullptr;
}

const GridCell* CellGrid::find(int row, int column) const
{
    return const_cast<CellGrid*>(this)->find(row, column);
}

void CellGrid::sort()
{
    const auto byRow = [](const GridRow& a, const GridRow& b) { return a.row < b.row; };
    const auto byColumn = [](const GridCell& a, const GridCell& b) { return a.column < b.column; };
    if (!std::is_sorted(m_rows.begin(), m_rows.end(), byRow))
        std::stable_sort(m_rows.begin(), m_rows.end(), byRow);
    for (auto& r : m_rows) {
        if (!std::is_sorted(r.cells.begin(), r.cells.end(), byColumn))
            std::stable_sort(r.cells.begin(), r.cells.end(), byColumn);
    }
}

GridRow& CellGrid::insertRow(GridRow row)
{
    auto it = std::lower_bound(m_rows.begin(), m_rows.end(), row.row, rowBefore);
    return *m_rows.insert(it, std::move(row));
}

GridCell& CellGrid::insertCell(GridRow& row, GridCell cell)
{
    auto it = std::lower_bound(row.cells.begin(), row.cells.end(), cell.column, cellBefore);
    return *row.cells.insert(it, cell);
}

} // namespace corvane::automation::native
