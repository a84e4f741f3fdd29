// Where rows and columns lie on a worksheet, in points from its top-left corner, as the
// spreadsheet application lays them out: column widths from <cols> and <sheetFormatPr> (in
// characters of the Normal style's widest digit, taken as 7 pixels: Calibri 11), row heights
// from the rows' ht and the sheet's default height, hidden rows and columns with no extent.
#pragma once

#include <vector>

namespace corvane::automation::native {

class Worksheet;

// One direction of the grid: every line has the default size but the listed ones.
class GridAxis
{
public:
    struct Span
    {
        int first = 1, last = 1; // 1-based lines, inclusive
        double size = 0;         // points per line
    };

    GridAxis(double defaultSize, std::vector<Span> spans, int lineCount);

    // Points from the start of line 1 to the start of `line`.
    double start(int line) const;
    // The line under `position` (points, clamped to the grid) and the distance into it. A
    // position on the start of `preferred` gives that line even when it has no extent (hidden),
    // where any of the lines meeting there would do.
    void locate(double position, int& line, double& offset, int preferred = 0) const;

private:
    double m_default;
    std::vector<Span> m_spans; // ascending, not overlapping
    int m_count;
};

class SheetGeometry
{
public:
    explicit SheetGeometry(const Worksheet& sheet);

    const GridAxis& columns() const { return m_columns; }
    const GridAxis& rows() const { return m_rows; }

    // Pixels of a column whose stored width is `width` characters, at 7 pixels per digit.
    static int columnPixels(double width);

private:
    GridAxis m_columns;
    GridAxis m_rows;
};

} // namespace corvane::automation::native
