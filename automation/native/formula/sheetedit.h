// Where rows and columns go when some are deleted from or inserted into a sheet, for every
// place that stores a position or a plain range address (cells, anchors, merges, sqref lists,
// table and filter refs, dimension). Formula text is handled by formularewriter.h on top of this.
#pragma once

#include "automation/celladdress.h"
#include "formulatokenizer.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::automation::native::formula {

struct SheetEdit
{
    enum class Axis : std::uint8_t
    {
        Rows,
        Columns
    };

    Axis axis = Axis::Rows;
    int first = 1; // first row/column deleted, or the one the new rows/columns go before
    int count = 0; // how many rows/columns are deleted or inserted
    bool insert = false;
    // Lines that need not be adjacent, edited together; `first` and `count` are its first entry
    // and its size. Deletions: the deleted lines, ascending and distinct. Insertions: for each new
    // line, the line it goes before, ascending, repeated for several new lines in one place.
    // Either way the lines are numbered as they were before the edit, and the edit ends as
    // editing one line at a time, each in the numbering the earlier ones left.
    std::shared_ptr<const std::vector<int>> lines;

    static SheetEdit deleteRows(int first, int count = 1) { return {Axis::Rows, first, count, false, {}}; }
    static SheetEdit insertRows(int before, int count = 1) { return {Axis::Rows, before, count, true, {}}; }
    static SheetEdit deleteColumns(int first, int count = 1)
    {
        return {Axis::Columns, first, count, false, {}};
    }
    static SheetEdit insertColumns(int before, int count = 1)
    {
        return {Axis::Columns, before, count, true, {}};
    }
    // `deleted` ascending and distinct, not empty.
    static SheetEdit deleteLines(Axis axis, std::vector<int> deleted);
    // `before` ascending, not empty: one new line before each.
    static SheetEdit insertLines(Axis axis, std::vector<int> before);

    int last() const { return lines ? lines->back() : first + count - 1; }
    // How many of the deleted lines lie before `index`.
    int deletedBefore(int index) const;
    // Whether an insertion puts new lines strictly inside [first, last] (after its first line).
    bool insertsInside(int first, int last) const;
    // Number of rows or columns along the edited axis.
    int limit() const { return axis == Axis::Rows ? kMaxRows : kMaxColumns; }
};

// Where a 1-based row (for row edits) or column (for column edits) ends up; nothing when the
// edit deletes it or pushes it off the sheet.
std::optional<int> shiftIndex(int index, const SheetEdit& edit);
// Where a deleted line's neighbours close up: the place the first line after the deleted ones
// takes (for a line the edit keeps, where it goes).
int closedIndex(int index, const SheetEdit& edit);

// Adjusts the span [first, last] along the edit's axis. A range loses deleted rows and shrinks,
// grows when rows are inserted strictly inside it (between its first and last row), and keeps
// its end pinned to the sheet's last row or column when it reaches it; a span over the whole
// axis (a whole column for row edits) never changes. Single cells (isRange false) are never pinned. Returns
// false when every row of the span is deleted or the span is pushed off the sheet.
bool adjustSpan(int& first, int& last, bool isRange, const SheetEdit& edit);

// The corners of a reference of the given shape after the edit (whole columns ignore row edits
// and whole rows column edits; lost references and names never change). Corners written in
// reverse order (B5:A1) keep their order. Returns false when the reference loses all its cells.
bool adjustCorners(ReferenceShape shape, ReferenceEnd& first, ReferenceEnd& last, const SheetEdit& edit);

// A block of cells after the edit; nothing when all its cells are deleted.
std::optional<RangeAddress> adjustRange(const RangeAddress& range, const SheetEdit& edit);

// Plain addresses as stored in sqref, ref and dimension attributes: "B3", "A1:C9", "$A$1:$B$2",
// whole rows "3:5" and columns "C:D". adjustRangeAddress gives the new text, the input unchanged
// byte for byte when the edit does not touch it, and nothing when the range vanishes (or the text
// is not an address: the caller keeps such text as it is and decides).
std::optional<std::string> adjustRangeAddress(std::string_view address, const SheetEdit& edit);
// Space-separated list ("A1:B2 D5"): each piece adjusted, vanished pieces dropped, pieces that
// are not addresses kept, the rest joined by single spaces. Empty when nothing is left.
std::string adjustRangeList(std::string_view list, const SheetEdit& edit);

} // namespace corvane::automation::native::formula
