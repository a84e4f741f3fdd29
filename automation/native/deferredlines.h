// Rows or columns of one sheet deleted, or inserted, one after another, with searches in between,
// kept aside and put into the package together when anything else needs the sheet. A walk that
// deletes or inserts a line at every match would otherwise rewrite the whole package once per line.
//
// Lines are known by their number when the deferral began (their original number) and by their
// number now, after the edits so far. The searches answer from the sheet as it was: a cell shows
// the same text wherever its line went, and a formula's text now is its text then with the
// edits so far applied to its references (see find).
#pragma once

#include "cellgrid.h"
#include "formula/sheetedit.h"

#include "automation/celladdress.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace corvane::automation::native {

class DeferredLines
{
public:
    // `extent`: the last line along the axis that holds a cell. `inserts`: the lines kept aside
    // are new ones, else deleted ones.
    DeferredLines(formula::SheetEdit::Axis axis, int extent, bool inserts);

    formula::SheetEdit::Axis axis() const { return m_axis; }
    bool inserts() const { return m_inserts; }
    bool empty() const { return m_deleted.empty() && m_made.empty(); }

    // Deletes the line now numbered `index`. False, with nothing changed, for a line past the
    // extent or when the lines kept aside are new ones: those are left to the ordinary edit.
    bool remove(int index);
    // Inserts a line before the one now numbered `index`. False, with nothing changed, when the
    // lines kept aside are deleted ones, when it does not go below every line inserted so far, or
    // when it could push a cell off the sheet: those are left to the ordinary edit.
    bool insert(int index);
    // The edit that makes the lines kept aside in one go (see SheetEdit::lines).
    const formula::SheetEdit& edit();

    // What a cell of the sheet as it was answers to a search.
    enum class Answer : std::uint8_t
    {
        No,
        Yes,
        Depends, // on the edits so far: asked again at every search that meets the cell
    };

    // The first cell after `start` in by-rows order within `in` (both in today's numbering) whose
    // cell in the sheet as it was satisfies `answer`, coming round to `start` itself last. The
    // answers are worked out once for each `key`, over the whole of `grid`; a cell whose answer
    // depends is given to `now`, with the edit so far. Nothing, with `tooMany` set, when more than
    // `dependingAtMost` cells depend: the search is then for the edited sheet to answer.
    std::optional<CellAddress>
    find(const CellGrid& grid, const RangeAddress& in, const CellAddress& start, const QString& key,
         const std::function<Answer(const GridCell&, int)>& answer,
         const std::function<bool(const GridCell&, int, const formula::SheetEdit&)>& now,
         std::size_t dependingAtMost, bool& tooMany);

private:
    struct Match
    {
        int row = 0;
        int column = 0;
        bool depends = false;
        const GridCell* cell = nullptr;
    };

    // Original number of the line now numbered `index`; for a new line, of the line after it.
    int original(int index) const;
    // Whether the line now numbered `index` is a new one.
    bool isNew(int index) const;
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
    bool m_inserts;
    std::vector<int> m_made;                  // new lines by today's number, ascending
    std::optional<formula::SheetEdit> m_edit; // edit(), until the next line
    std::vector<int> m_tree;                  // Fenwick tree over original lines: 1 for a deleted one
    std::vector<char> m_gone;                 // by original line
    std::vector<int> m_deleted;               // by original number, ascending
    int m_treeStep = 1;                       // highest power of two not above the extent

    QString m_key;
    bool m_haveMatches = false;
    bool m_tooMany = false;
    std::vector<Match> m_matches;    // in by-rows order, original numbering
    std::vector<std::size_t> m_skip; // towards the next match that may still be there
};

} // namespace corvane::automation::native
