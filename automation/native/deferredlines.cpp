#include "deferredlines.h"

#include <algorithm>
#include <climits>
#include <numeric>

namespace corvane::automation::native {

using formula::SheetEdit;

DeferredLines::DeferredLines(SheetEdit::Axis axis, int extent, bool inserts)
    : m_axis(axis), m_extent(std::max(extent, 1)), m_inserts(inserts),
      m_tree(inserts ? 0 : static_cast<std::size_t>(m_extent) + 1, 0),
      m_gone(inserts ? 0 : static_cast<std::size_t>(m_extent) + 1, 0)
{
    while (m_treeStep * 2 <= m_extent)
        m_treeStep *= 2;
}

bool DeferredLines::insert(int index)
{
    const int limit = m_axis == SheetEdit::Axis::Rows ? kMaxRows : kMaxColumns;
    const int madeSoFar = static_cast<int>(m_made.size());
    // Below every new line, the new ones end where they went in; the last cell stays on the sheet.
    if (!m_inserts || index < 1 || index > limit || (!m_made.empty() && index <= m_made.back()) ||
        m_extent + madeSoFar >= limit)
        return false;
    m_made.push_back(index);
    m_edit.reset();
    return true;
}

const SheetEdit& DeferredLines::edit()
{
    if (m_edit)
        return *m_edit;
    if (!m_inserts) {
        m_edit = SheetEdit::deleteLines(m_axis, m_deleted);
        return *m_edit;
    }
    // The k-th new line (from 0) ends at m_made[k] with k new lines above it: it goes before the
    // original line m_made[k] - k.
    std::vector<int> before(m_made.size());
    for (std::size_t k = 0; k < m_made.size(); ++k)
        before[k] = m_made[k] - static_cast<int>(k);
    m_edit = SheetEdit::insertLines(m_axis, std::move(before));
    return *m_edit;
}

bool DeferredLines::isNew(int index) const
{
    return m_inserts && std::binary_search(m_made.begin(), m_made.end(), index);
}

bool DeferredLines::remove(int index)
{
    const int deletedSoFar = static_cast<int>(m_deleted.size());
    if (m_inserts || index < 1 || index > m_extent - deletedSoFar)
        return false;
    const int line = original(index);
    m_gone[static_cast<std::size_t>(line)] = 1;
    for (int i = line; i <= m_extent; i += i & -i)
        ++m_tree[static_cast<std::size_t>(i)];
    m_deleted.insert(std::lower_bound(m_deleted.begin(), m_deleted.end(), line), line);
    m_edit.reset();
    return true;
}

int DeferredLines::original(int index) const
{
    if (m_inserts)
        return index -
               static_cast<int>(std::lower_bound(m_made.begin(), m_made.end(), index) - m_made.begin());
    const int deletedSoFar = static_cast<int>(m_deleted.size());
    if (index > m_extent - deletedSoFar)
        return index + deletedSoFar;
    // The smallest line with `index` kept lines up to it.
    int at = 0;
    int wanted = index;
    for (int step = m_treeStep; step > 0; step /= 2) {
        const int next = at + step;
        if (next <= m_extent && step - m_tree[static_cast<std::size_t>(next)] < wanted) {
            at = next;
            wanted -= step - m_tree[static_cast<std::size_t>(next)];
        }
    }
    return at + 1;
}

int DeferredLines::current(int original) const
{
    if (m_inserts) {
        // New lines before it or in its place: the k-th goes before original line m_made[k] - k,
        // and those numbers ascend with k.
        std::size_t lo = 0;
        std::size_t hi = m_made.size();
        while (lo < hi) {
            const std::size_t k = lo + (hi - lo) / 2;
            if (m_made[k] - static_cast<int>(k) <= original)
                lo = k + 1;
            else
                hi = k;
        }
        return original + static_cast<int>(lo);
    }
    int deletedBefore = 0;
    for (int i = std::min(original, m_extent); i > 0; i -= i & -i)
        deletedBefore += m_tree[static_cast<std::size_t>(i)];
    return original - deletedBefore;
}

std::size_t DeferredLines::nextKept(std::size_t i)
{
    const bool rows = m_axis == SheetEdit::Axis::Rows;
    for (;;) {
        std::size_t root = i;
        while (m_skip[root] != root)
            root = m_skip[root];
        while (m_skip[i] != root) {
            const std::size_t next = m_skip[i];
            m_skip[i] = root;
            i = next;
        }
        if (root == m_matches.size())
            return root;
        const Match& m = m_matches[root];
        const int line = rows ? m.row : m.column;
        if (m_inserts || line > m_extent || !m_gone[static_cast<std::size_t>(line)])
            return root;
        m_skip[root] = root + 1;
        i = root;
    }
}

std::optional<CellAddress>
DeferredLines::find(const CellGrid& grid, const RangeAddress& in, const CellAddress& start,
                    const QString& key, const std::function<Answer(const GridCell&, int)>& answer,
                    const std::function<bool(const GridCell&, int, const SheetEdit&)>& now,
                    std::size_t dependingAtMost, bool& tooMany)
{
    if (!m_haveMatches || key != m_key) {
        m_matches.clear();
        std::size_t depending = 0;
        for (const GridRow& row : grid.rows()) {
            for (const GridCell& c : row.cells) {
                const Answer a = answer(c, row.row);
                if (a == Answer::No)
                    continue;
                m_matches.push_back({row.row, c.column, a == Answer::Depends, &c});
                if (a == Answer::Depends)
                    ++depending;
            }
        }
        m_skip.resize(m_matches.size() + 1);
        std::iota(m_skip.begin(), m_skip.end(), std::size_t{0});
        m_key = key;
        m_haveMatches = true;
        m_tooMany = depending > dependingAtMost;
    }
    tooMany = m_tooMany;
    if (m_tooMany)
        return std::nullopt;

    const bool rows = m_axis == SheetEdit::Axis::Rows;
    int firstRow = in.firstRow;
    int lastRow = in.lastRow;
    int firstColumn = in.firstColumn;
    int lastColumn = in.lastColumn;
    Match from{start.row, start.column};
    // A new line holds nothing: the range ends on the line before it, and the search goes on
    // from the end of that line (rows) or from the line before it (columns).
    int& firstLine = rows ? firstRow : firstColumn;
    int& lastLine = rows ? lastRow : lastColumn;
    const bool lastIsNew = isNew(lastLine);
    firstLine = original(firstLine);
    lastLine = original(lastLine) - (lastIsNew ? 1 : 0);
    if (rows) {
        const bool fromNew = isNew(from.row);
        from.row = original(from.row);
        if (fromNew) {
            --from.row;
            from.column = INT_MAX;
        }
    } else {
        const bool fromNew = isNew(from.column);
        from.column = original(from.column) - (fromNew ? 1 : 0);
    }
    const auto within = [&](const Match& m) {
        if (m.column < firstColumn || m.column > lastColumn)
            return false;
        return !m.depends || now(*m.cell, m.row, edit());
    };
    const auto found = [&](const Match& m) {
        return rows ? CellAddress{current(m.row), m.column} : CellAddress{m.row, current(m.column)};
    };
    const auto order = [this](const Match& a, const Match& b) { return before(a, b); };

    // Cells after the start to the end of the range, then from the top to the start itself.
    const std::size_t after = static_cast<std::size_t>(
        std::upper_bound(m_matches.begin(), m_matches.end(), from, order) - m_matches.begin());
    for (std::size_t i = nextKept(after); i < m_matches.size(); i = nextKept(i + 1)) {
        const Match& m = m_matches[i];
        if (m.row > lastRow)
            break;
        if (within(m))
            return found(m);
    }
    const std::size_t top = static_cast<std::size_t>(
        std::lower_bound(m_matches.begin(), m_matches.end(), Match{firstRow, INT_MIN}, order) -
        m_matches.begin());
    for (std::size_t i = nextKept(top); i < m_matches.size(); i = nextKept(i + 1)) {
        const Match& m = m_matches[i];
        if (before(from, m))
            break;
        if (within(m))
            return found(m);
    }
    return std::nullopt;
}

} // namespace corvane::automation::native
