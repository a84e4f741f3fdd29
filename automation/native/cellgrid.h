// Index of a worksheet's sheet data: rows in ascending order, each with its cells in ascending
// column order, pointing at their elements in the part's tree.
#pragma once

#include <pugixml.hpp>

#include <vector>

namespace corvane::automation::native {

struct GridCell
{
    int column = 0;
    pugi::xml_node node;
};

struct GridRow
{
    int row = 0;
    pugi::xml_node node;
    std::vector<GridCell> cells;
};

class CellGrid
{
public:
    std::vector<GridRow>& rows() { return m_rows; }
    const std::vector<GridRow>& rows() const { return m_rows; }

    // First row at or after `row`.
    std::vector<GridRow>::const_iterator rowAtOrAfter(int row) const;
    GridRow* findRow(int row);
    pugi::xml_node find(int row, int column) const;
    // Orders the index after loading rows and cells that were not stored in order.
    void sort();

    // Index entries for elements just inserted into the tree; return the entry.
    GridRow& insertRow(int row, pugi::xml_node node);
    void insertCell(GridRow& row, int column, pugi::xml_node node);

private:
    std::vector<GridRow> m_rows;
};

// Reads "AB12" into row 12, column 28. False for anything else.
bool parseCellReference(const char* text, int& row, int& column);
// Writes "AB12".
std::string cellReference(int row, int column);

} // namespace corvane::automation::native
