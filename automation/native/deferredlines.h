// Rows or columns of one sheet deleted one after another, with searches in between, kept aside
// and taken out of the package together when anything else needs the sheet. A walk that deletes
// the line of every match would otherwise rewrite the whole package once per deletion.
//
// Lines are known by their number when the deferral began (their original number) and by their
// number now, after the deletions so far. The searches answer from the sheet as it was, which
// holds as long as nothing a search in values compares with moves with the deleted lines other
// than the cells themselves.
#pragma once

#include "cellgrid.h"
#include "formula/sheetedit.h"

#include "automation/celladdress.h"

#include <QString>

#include <functional>
#include <optional>
#include <vector>

namespace corvane::automation::native {

class DeferredLines
{
public:
    // `extent`: the last line along the axis that holds a cell.
    DeferredLines(formula::SheetEdit::Axis axis, int extent);

    formula::SheetEdit::Axis axis() const { return m_axis; }
    bool empty() const { return m_deleted.empty(); }

    // Deletes the line now numbered `index`. False, with nothing changed, for a line past the
    // extent: those are left to the ordinary edit.
    bool remove(int index);
    // The deleted lines by their original numbers, ascending.
    std::vector<int> deleted() const;

    // The first cell after `start` in by-rows order within `in` (both in today's numbering) whose
    // cell in the sheet as it was satisfies `matches`, coming round to `start` itself last. The
    // cells that match are worked out once for each `key`, over the whole of `grid`.
    std::optional<CellAddress> find(const CellGrid& grid, const RangeAddress& in, const CellAddress& start,
                                    const QString& key, const std::function<bool(const GridCell&)>& matches);

private:
    struct Match
    {
        int row = 0;
        int column = 0;
    };

    // Original number of the line now numbered `index`.
    int original(int index) const;
    // Today's number of a line that is still there.
    int current(int original) const;
    // The first match at or after `i` whose line is still there (m_matches.size() for none).
    std::size_t nextKept(std::size_t i);
    bool before(const Match& a, const Match& b) const
    {
        return a.row != b.row ? a.row < b.row : a.column < b.column;
    }

    formula::SheetEdit::Axis m_axis;
    int m_extent;
    std::vector<int> m_tree;  // Fenwick tree over original lines: 1 for a deleted one
    std::vector<char> m_gone; // by original line
    std::vector<int> m_deleted;
    int m_treeStep = 1; // highest power of two not above the extent

    QString m_key;
    bool m_haveMatches = false;
    std::vector<Match> m_matches;    // in by-rows order, original numbering
    std::vector<std::size_t> m_skip; // towards the next match that may still be there
};

} // namespace corvane::automation::native
