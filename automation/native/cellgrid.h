// Index of a worksheet's sheet data: rows in ascending order, each with its cells in ascending
// column order. Cells point at their bytes in the part's raw sheet data, or at an edited text
// that replaces them; the raw text itself is never rebuilt as a tree.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::automation::native {

// Sixteen bytes: a large sheet has millions of cells, and the index must stay well below the
// size of the sheet's own text.
struct GridCell
{
    GridCell() : column(0), added(false) {}

    int column : 31;
    unsigned added : 1;      // not in the raw data: written where it belongs on saving
    std::uint32_t begin = 0; // byte span of the <c> element in the raw sheet data
    std::uint32_t end = 0;
    int edit = -1; // index of the text that replaces the span, -1 when unchanged
};
static_assert(sizeof(GridCell) == 16, "a grid cell takes sixteen bytes");

struct GridRow
{
    int row = 0;
    std::uint32_t begin = 0;  // the <row> element: start tag [begin, tagEnd), close tag at closeBegin
    std::uint32_t tagEnd = 0; // equals end for a self-closing row
    std::uint32_t closeBegin = 0;
    std::uint32_t end = 0;
    int tagEdit = -1; // index of a replacement start tag
    bool added = false;
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
    GridCell* find(int row, int column);
    const GridCell* find(int row, int column) const;
    // Orders the index after loading rows and cells that were not stored in order.
    void sort();

    GridRow& insertRow(GridRow row);
    GridCell& insertCell(GridRow& row, GridCell cell);

private:
    std::vector<GridRow> m_rows;
};

// Reads "AB12" into row 12, column 28. False for anything else.
bool parseCellReference(std::string_view text, int& row, int& column);
// Writes "AB12".
std::string cellReference(int row, int column);

} // namespace corvane::automation::native
