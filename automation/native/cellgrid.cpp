#include "cellgrid.h"

#include <algorithm>

namespace corvane::automation::native {

namespace {
const auto rowBefore = [](const GridRow& r, int value) { return r.row < value; };
const auto cellBefore = [](const GridCell& c, int value) { return c.column < value; };
} // namespace

bool parseCellReference(std::string_view text, int& row, int& column)
{
    int c = 0, r = 0, letters = 0, digits = 0;
    size_t i = 0;
    for (; i < text.size(); ++i) {
        const char ch = text[i];
        if (ch >= 'A' && ch <= 'Z')
            c = c * 26 + (ch - 'A' + 1);
        else if (ch >= 'a' && ch <= 'z')
            c = c * 26 + (ch - 'a' + 1);
        else
            break;
        if (++letters > 3)
            return false;
    }
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9' || ++digits > 7)
            return false;
        r = r * 10 + (text[i] - '0');
    }
    if (!letters || !digits || c > 16384 || r < 1 || r > 1048576)
        return false;
    row = r;
    column = c;
    return true;
}

std::string cellReference(int row, int column)
{
    char letters[4];
    int n = 0;
    while (column > 0 && n < 3) {
        letters[n++] = static_cast<char>('A' + (column - 1) % 26);
        column = (column - 1) / 26;
    }
    std::string out(letters, static_cast<size_t>(n));
    std::reverse(out.begin(), out.end());
    return out + std::to_string(row);
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
