#include "deferredlines.h"

#include <algorithm>
#include <climits>
#include <numeric>

namespace corvane::automation::native {

using formula::SheetEdit;

DeferredLines::DeferredLines(SheetEdit::Axis axis, int extent)
    : m_axis(axis), m_extent(std::max(extent, 1)), m_tree(static_cast<std::size_t>(m_extent) + 1, 0),
      m_gone(static_cast<std::size_t>(m_extent) + 1, 0)
{
    while (m_treeStep * 2 <= m_extent)
        m_treeStep *= 2;
}

bool DeferredLines::remove(int index)
{
    const int deletedSoFar = static_cast<int>(m_deleted.size());
    if (index < 1 || index > m_extent - deletedSoFar)
        return false;
    const int line = original(index);
    m_gone[static_cast<std::size_t>(line)] = 1;
    for (int i = line; i <= m_extent; i += i & -i)
        ++m_tree[static_cast<std::size_t>(i)];
    m_deleted.push_back(line);
    return true;
}

std::vector<int> DeferredLines::deleted() const
{
    std::vector<int> out = m_deleted;
    std::sort(out.begin(), out.end());
    return out;
}

int DeferredLines::original(int index) const
{
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
        if (line > m_extent || !m_gone[static_cast<std::size_t>(line)])
            return root;
        m_skip[root] = root + 1;
        i = root;
    }
}

std::optional<CellAddress> DeferredLines::find(const CellGrid& grid, const RangeAddress& in,
                                               const CellAddress& start, const QString& key,
                                               const std::function<bool(const GridCell&)>& matches)
{
    if (!m_haveMatches || key != m_key) {
        m_matches.clear();
        for (const GridRow& row : grid.rows()) {
            for (const GridCell& c : row.cells) {
                if (matches(c))
                    m_matches.push_back({row.row, c.column});
            }
        }
        m_skip.resize(m_matches.size() + 1);
        std::iota(m_skip.begin(), m_skip.end(), std::size_t{0});
        m_key = key;
        m_haveMatches = true;
    }

    const bool rows = m_axis == SheetEdit::Axis::Rows;
    int firstRow = in.firstRow;
    int lastRow = in.lastRow;
    int firstColumn = in.firstColumn;
    int lastColumn = in.lastColumn;
    Match from{start.row, start.column};
    if (rows) {
        firstRow = original(firstRow);
        lastRow = original(lastRow);
        from.row = original(from.row);
    } else {
        firstColumn = original(firstColumn);
        lastColumn = original(lastColumn);
        from.column = original(from.column);
    }
    const auto within = [&](const Match& m) { return m.column >= firstColumn && m.column <= lastColumn; };
    const auto answer = [&](const Match& m) {
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
            return answer(m);
    }
    const std::size_t top = static_cast<std::size_t>(
        std::lower_bound(m_matches.begin(), m_matches.end(), Match{firstRow, INT_MIN}, order) -
        m_matches.begin());
    for (std::size_t i = nextKept(top); i < m_matches.size(); i = nextKept(i + 1)) {
        const Match& m = m_matches[i];
        if (before(from, m))
            break;
        if (within(m))
            return answer(m);
    }
    return std::nullopt;
}

} // namespace corvane::automation::native
