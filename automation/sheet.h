// One sheet of an open workbook, as the bulk operations see it.
#pragma once

#include "celladdress.h"
#include "cellvalue.h"
#include "findquery.h"
#include "replaceplaces.h"

#include <QString>

#include <functional>
#include <optional>

namespace corvane::automation {

// Told of each cell a replace changed, with its formula bar text before and after.
using CellChanged = std::function<void(const CellAddress& cell, const QString& before, const QString& after)>;

class Sheet
{
public:
    virtual ~Sheet() = default;

    virtual QString name() const = 0;

    // The bounding box of the cells the sheet holds (formatted empty cells included);
    // A1 alone for an empty sheet. None when the sheet has no cell grid (a chart sheet).
    virtual std::optional<RangeAddress> usedRange() = 0;

    // A range by the address a user types (see parseRangeAddress); none when it is not one.
    virtual std::optional<RangeAddress> range(const QString& address) = 0;

    // The cell at (row, column); none beyond the sheet's limits.
    virtual std::optional<CellAddress> cell(int row, int column) = 0;

    // Searches `in` by rows for the first cell matching `query` after `after` (which must lie
    // inside `in`; without it, after the top-left cell), wrapping round at the end, so `after`
    // itself is examined last. Calling it again with the previous match as `after` walks
    // every match and comes round to the first one again.
    virtual std::optional<CellAddress> find(const RangeAddress& in, const FindQuery& query,
                                            std::optional<CellAddress> after = std::nullopt) = 0;

    // Replaces every occurrence of `what` (part of cell, letter case ignored, wildcards) by
    // `replacement` in the constants and formula texts of `in`. True when a cell changed;
    // `changed`, when given, is told of every cell that did.
    virtual bool replace(const RangeAddress& in, const QString& what, const QString& replacement,
                         const CellChanged& changed = {}) = 0;
    // Why the last replace() left a cell it should have changed as it was (a locked cell of a
    // protected sheet, a text too long for a cell); empty when it refused none.
    virtual QString replaceRefusal() const { return {}; }
    // False only when no cell of the sheet can hold `what` in its formula-bar text, told by a
    // look at what the sheet stores that is much cheaper than reading its cells; true when the
    // server cannot tell.
    virtual bool mayHold(const QString& what)
    {
        (void)what;
        return true;
    }

    // Replaces (or with findOnly, only looks for) `edit.what` in the sheet's texts outside its
    // cells that `edit.places` names: comments, shapes, headers and footers, hyperlinks. Sheet
    // names and the workbook's own places are not the sheet's. A place the server cannot reach
    // is left alone and named in the outcome's `unsupported`.
    virtual PlaceOutcome replaceInPlaces(const PlaceEdit& edit)
    {
        (void)edit;
        return {};
    }

    virtual CellValue value(const CellAddress& cell) = 0;
    // The formula text with its leading "=", or the constant as typed, "" for an empty cell.
    virtual QString formula(const CellAddress& cell) = 0;
    // Both behave like typing the text into the cell: "=..." enters a formula, number-like
    // text becomes a number, TRUE/FALSE a boolean, a leading apostrophe forces text.
    virtual bool setValue(const CellAddress& cell, const QString& text) = 0;
    virtual bool setFormula(const CellAddress& cell, const QString& text) = 0;

    // Whole rows and columns, as the spreadsheet application deletes and inserts them: the cells
    // after the edited one move up or left (down or right for an insertion) and every reference
    // to them in the workbook follows. False with lastError when the server refuses the edit;
    // the workbook is then unchanged.
    virtual bool deleteRow(int row) = 0;
    virtual bool deleteColumn(int column) = 0;
    // The new empty row or column goes before `row` or `column`, which moves down or right.
    virtual bool insertRow(int row) = 0;
    virtual bool insertColumn(int column) = 0;
    // How many formulas (cell formulas of any sheet) the last of these four edits adjusted;
    // -1 when the server cannot tell.
    virtual int lastAdjustedFormulas() const { return -1; }

    // The drawing layer, as the picture insertion uses it. Positions and sizes are in points,
    // measured from the top-left corner of the sheet (the top-left corner of A1).
    // The left and top edges of a cell, from the column widths and row heights; none for a
    // cell outside the sheet or a sheet without cells.
    virtual std::optional<double> cellLeft(const CellAddress& cell) = 0;
    virtual std::optional<double> cellTop(const CellAddress& cell) = 0;
    // The sheet's drawing objects (pictures, charts, shapes; a group counts as one object),
    // numbered from 1 in the order of the drawing.
    virtual int shapeCount() = 0;
    // The cell under the top-left corner of drawing object `index`; none when there is no such
    // object.
    virtual std::optional<CellAddress> shapeTopLeftCell(int index) = 0;
    // Deletes drawing object `index`; the objects after it move down one number.
    virtual bool deleteShape(int index) = 0;
    // Embeds the picture file at (left, top) with the given width and height; -1 in a dimension
    // takes the picture's own size there (its pixels at 96 dpi). False with lastError when the
    // file is no picture the server can read or the sheet cannot hold drawings.
    virtual bool addPicture(const QString& file, double left, double top, double width, double height) = 0;

    // Why the last call that failed failed, for messages.
    virtual QString lastError() const = 0;
};

} // namespace corvane::automation
