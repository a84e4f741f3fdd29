// Cell and range positions on a sheet, 1-based like the spreadsheet application's Row and Column.
#pragma once

#include <QString>

#include <optional>

namespace corvane::automation {

// Sheet limits of the xlsx format.
constexpr int kMaxRows = 1048576;
constexpr int kMaxColumns = 16384;

struct CellAddress
{
    int row = 0;
    int column = 0;

    bool isValid() const { return row >= 1 && row <= kMaxRows && column >= 1 && column <= kMaxColumns; }
    bool operator==(const CellAddress& o) const { return row == o.row && column == o.column; }
    bool operator!=(const CellAddress& o) const { return !(*this == o); }
};

// A rectangular block of cells; a single cell is a 1 x 1 range.
struct RangeAddress
{
    int firstRow = 0;
    int firstColumn = 0;
    int lastRow = 0;
    int lastColumn = 0;

    int rowCount() const { return lastRow - firstRow + 1; }
    int columnCount() const { return lastColumn - firstColumn + 1; }
    CellAddress topLeft() const { return {firstRow, firstColumn}; }
    bool contains(const CellAddress& c) const
    {
        return c.row >= firstRow && c.row <= lastRow && c.column >= firstColumn && c.column <= lastColumn;
    }
    bool operator==(const RangeAddress& o) const
    {
        return firstRow == o.firstRow && firstColumn == o.firstColumn && lastRow == o.lastRow &&
               lastColumn == o.lastColumn;
    }

    static RangeAddress cell(const CellAddress& c) { return {c.row, c.column, c.row, c.column}; }
};

// "A", "Z", "AA", ... for a 1-based column; empty for a column outside the sheet.
QString columnName(int column);
// "B3" for row 3, column 2; "B3:D5" for a range (a single cell gives "B3").
QString cellName(const CellAddress& cell);
QString rangeName(const RangeAddress& range);

// Parses what a user types into an address field: "A1", "$B$3", "A1:C7", "b2:d10",
// whole rows "3:3" / "2:5" and whole columns "C:C" / "A:D". Anything else gives no range.
std::optional<RangeAddress> parseRangeAddress(const QString& text);

} // namespace corvane::automation
