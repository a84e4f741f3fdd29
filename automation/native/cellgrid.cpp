#include "cellgrid.h"

#include <algorithm>
#include <string>

namespace corvane::automation::native {

bool parseCellReference(const char* text, int& row, int& column)
{
    int c = 0, r = 0, letters = 0, digits = 0;
    const char* p = text;
    for (; *p; ++p) {
        const char ch = *p;
        if (ch >= 'A' && ch <= 'Z')
            c = c * 26 + (ch - 'A' + 1);
        else if (ch >= 'a' && ch <= 'z')
            c = c * 26 + (ch - 'a' + 1);
        else
            break;
        if (++letters > 3)
            return false;
    }
    for (; *p; ++p) {
        if (*p < '0' || *p > '9' || ++digits > 7)
            return false;
        r = r * 10 + (*p - '0');
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
    return std::lower_bound(m_rows.begin(), m_rows.end(), row,
                            [](const GridRow& r, int value) { return r.row < value; });
}

GridRow* CellGrid::findRow(int row)
{
    auto it = std::lower_bound(m_rows.begin(), m_rows.end(), row,
                               [](const GridRow& r, int value) { return r.row < value; });
    return it != m_rows.end() && it->row == row ? &*it : nullptr;
}

pugi::xml_node CellGrid::find(int row, int column) const
{
    auto it = rowAtOrAfter(row);
    if (it == m_rows.end() || it->row != row)
        return {};
    auto c = std::lower_bound(it->cells.begin(), it->cells.end(), column,
                              [](const GridCell& cell, int value) { return cell.column < value; });
    return c != it->cells.end() && c->column == column ? c->node : pugi::xml_node();
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

GridRow& CellGrid::insertRow(int row, pugi::xml_node node)
{
    auto it = std::lower_bound(m_rows.begin(), m_rows.end(), row,
                               [](const GridRow& r, int value) { return r.row < value; });
    GridRow entry;
    entry.row = row;
    entry.node = node;
    return *m_rows.insert(it, std::move(entry));
}

void CellGrid::insertCell(GridRow& row, int column, pugi::xml_node node)
{
    auto it = std::lower_bound(row.cells.begin(), row.cells.end(), column,
                               [](const GridCell& c, int value) { return c.column < value; });
    row.cells.insert(it, GridCell{column, node});
}

} // namespace corvane::automation::native
