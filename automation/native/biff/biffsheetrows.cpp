// Cells written into rows that held none: each such row gets a ROW record in the block of rows it
// belongs to, or in a new block, and the blocks' DBCELL records and the sheet's INDEX are written
// anew round them, as a spreadsheet application lays them out.
#include "biffsheet.h"

#include "biffworkbook.h"

#include <algorithm>

namespace corvane::automation::native::biff {

namespace {

// A block of rows ends at its DBCELL; the records it holds besides its ROW records.
bool inBlock(std::uint16_t type)
{
    return isCellRecord(type) || type == rt::kString || type == rt::kShrFmla || type == rt::kArray ||
           type == rt::kTable || type == rt::kContinue;
}

constexpr int kBlockRows = 32;

} // namespace

void BiffSheet::indexBlocks()
{
    const std::vector<Record>& records = m_workbook.stream().records();
    RowBlock* open = nullptr;
    bool afterRows = false;
    int depth = 0;
    for (std::size_t i = m_bof + 1; i < m_eof && i < records.size(); ++i) {
        const Record& r = records[i];
        if (!ownRecord(r, depth))
            continue;
        if (r.type == rt::kRow && r.data.size() >= 6) {
            // ROW records after cells start the next block, even without a DBCELL between.
            if (!open || !afterRows) {
                m_blocks.emplace_back();
                open = &m_blocks.back();
                open->firstRow = i;
                open->first = le16(r.data, 0) + 1;
            }
            const int row = le16(r.data, 0) + 1;
            open->first = std::min(open->first, row);
            open->last = std::max(open->last, row);
            open->lastRow = open->end = i;
            ++open->rows;
            afterRows = true;
            continue;
        }
        afterRows = false;
        if (!open)
            continue;
        if (r.type == rt::kDbCell) {
            open->end = open->dbcell = i;
            open->hasDbCell = true;
            open = nullptr;
        } else if (inBlock(r.type)) {
            open->end = i;
        } else {
            open = nullptr;
        }
    }
}

int BiffSheet::newCellStyle(int row, int column) const
{
    const std::vector<Record>& records = m_workbook.stream().records();
    const Record* rowRecord = nullptr;
    if (const auto it = m_rowRecords.find(row); it != m_rowRecords.end())
        rowRecord = &records[it->second];
    for (const RowBlock& block : m_blocks) {
        if (const auto it = block.added.find(row); it != block.added.end())
            rowRecord = &it->second;
    }
    // fGhostDirty: the row carries a style of its own.
    if (rowRecord && rowRecord->data.size() >= 16 && (le16(rowRecord->data, 12) & 0x0080))
        return le16(rowRecord->data, 14) & 0x0FFF;
    for (const std::size_t i : m_columns) {
        const QByteArray& b = records[i].data;
        if (column - 1 >= le16(b, 0) && column - 1 <= le16(b, 2))
            return le16(b, 6) & 0x0FFF;
    }
    return 15;
}

bool BiffSheet::openRow(int row)
{
    if (m_freshRows.count(row))
        return true;
    if (m_rowRecords.count(row)) {
        m_freshRows.insert(row);
        return true;
    }
    // Cells without ROW records (some writers leave them out) give a new row no place of its own.
    if (m_rowRecords.empty() && !m_firstCell.empty())
        return unsupported(
            QStringLiteral("writing into a new row of a sheet whose rows have no ROW records"));
    const auto fits = [&](const RowBlock& b) {
        const int band = (row - 1) / kBlockRows;
        return !b.hasDbCell || (b.rows < kBlockRows && (b.first - 1) / kBlockRows == band &&
                                (b.last - 1) / kBlockRows == band);
    };
    RowBlock* into = nullptr;
    RowBlock* before = nullptr; // the block that ends last before the row
    RowBlock* after = nullptr;  // the block that starts first after it
    for (RowBlock& b : m_blocks) {
        if (b.first <= row && row <= b.last) {
            into = &b;
            break;
        }
        if (b.last < row && (!before || b.last > before->last))
            before = &b;
        if (b.first > row && (!after || b.first < after->first))
            after = &b;
    }
    if (into && into->hasDbCell && into->rows >= kBlockRows)
        return unsupported(QStringLiteral("writing into a row among the 32 rows of a full block of rows"));
    if (!into && before && fits(*before))
        into = before;
    if (!into && after && fits(*after))
        into = after;
    if (!into) {
        if (m_blocks.empty() && !m_dimensions)
            return unsupported(QStringLiteral("writing into a sheet without a DIMENSIONS record"));
        m_blocks.emplace_back();
        into = &m_blocks.back();
        into->first = into->last = row;
        into->hasDbCell =
            std::any_of(m_blocks.begin(), m_blocks.end(), [](const RowBlock& b) { return b.dbcell != 0; });
    }
    // A row as a spreadsheet application makes it for a first value: the sheet's default
    // height, no style of its own.
    std::uint32_t height = 255;
    std::uint32_t flags = 0x0100;
    if (m_rowHeight) {
        const QByteArray& b = m_workbook.stream().records()[m_rowHeight].data;
        height = le16(b, 2);
        if (le16(b, 0) & 0x0001)
            flags |= 0x0040; // fUnsynced
        if (le16(b, 0) & 0x0002)
            flags |= 0x0020; // fDyZero: rows are hidden unless they say otherwise
    }
    Record record;
    record.type = rt::kRow;
    append16(record.data, std::uint32_t(row - 1));
    append16(record.data, 0);
    append16(record.data, 0);
    append16(record.data, height);
    append32(record.data, 0);
    append16(record.data, flags);
    append16(record.data, 15);
    into->added[row] = record;
    into->first = std::min(into->first, row);
    into->last = std::max(into->last, row);
    ++into->rows;
    m_freshRows.insert(row);
    return true;
}

void BiffSheet::widen(int row, int column)
{
    const std::vector<Record>& records = m_workbook.stream().records();
    const auto widenRow = [&](Record& r, bool empty) {
        if (r.data.size() < 6)
            return;
        const std::uint32_t c = std::uint32_t(column - 1);
        put16(r.data, 2, empty ? c : std::min<std::uint32_t>(le16(r.data, 2), c));
        put16(r.data, 4, empty ? c + 1 : std::max<std::uint32_t>(le16(r.data, 4), c + 1));
    };
    // A row without cells may still say which columns it spans: those bounds are not kept.
    const auto firstOfRow = m_cells.lower_bound({row, 0});
    const bool rowEmpty = firstOfRow == m_cells.end() || firstOfRow->first.first != row;
    bool done = false;
    for (RowBlock& block : m_blocks) {
        if (const auto it = block.added.find(row); it != block.added.end()) {
            widenRow(it->second, rowEmpty);
            done = true;
        }
    }
    if (!done && m_rowRecords.count(row)) {
        const std::size_t at = m_rowRecords[row];
        Record r = m_patched.count(at) ? m_patched[at] : records[at];
        widenRow(r, rowEmpty);
        m_patched[at] = r;
    }
    if (!m_dimensions)
        return;
    Record dim = m_patched.count(m_dimensions) ? m_patched[m_dimensions] : records[m_dimensions];
    const bool empty = le32(dim.data, 4) == 0 || le16(dim.data, 10) == 0;
    const std::uint32_t r0 = std::uint32_t(row - 1);
    const std::uint32_t c0 = std::uint32_t(column - 1);
    put32(dim.data, 0, empty ? r0 : std::min(le32(dim.data, 0), r0));
    put32(dim.data, 4, empty ? r0 + 1 : std::max(le32(dim.data, 4), r0 + 1));
    put16(dim.data, 8, empty ? c0 : std::min<std::uint32_t>(le16(dim.data, 8), c0));
    put16(dim.data, 10, empty ? c0 + 1 : std::max<std::uint32_t>(le16(dim.data, 10), c0 + 1));
    m_patched[m_dimensions] = dim;
}

int BiffSheet::blockFirstOf(int row) const
{
    for (const RowBlock& b : m_blocks) {
        if (b.first <= row && row <= b.last)
            return b.first;
    }
    return row;
}

void BiffSheet::placeFreshRows(Placement& placement) const
{
    if (m_freshRows.empty())
        return;
    std::vector<const RowBlock*> read;
    for (const RowBlock& b : m_blocks) {
        if (b.firstRow)
            read.push_back(&b);
    }
    for (const RowBlock& b : m_blocks) {
        const int first = b.first;
        if (b.firstRow) {
            // New ROW records among the block's own, in row order.
            for (const auto& [row, record] : b.added) {
                Slot slot{b.lastRow, false};
                for (auto it = m_rowRecords.upper_bound(row); it != m_rowRecords.end(); ++it) {
                    if (it->second >= b.firstRow && it->second <= b.lastRow) {
                        slot = {it->second, true};
                        break;
                    }
                }
                placement[slot].emplace(Order{first, 0, row, 0}, record);
            }
            continue;
        }
        // A new block goes after the block that ends before it, or before the one after it.
        Slot slot{m_dimensions, false};
        const RowBlock* before = nullptr;
        const RowBlock* after = nullptr;
        for (const RowBlock* r : read) {
            if (r->last < b.first && (!before || r->last > before->last))
                before = r;
            if (r->first > b.last && (!after || r->first < after->first))
                after = r;
        }
        if (before)
            slot = {before->end, false};
        else if (after)
            slot = {after->firstRow, true};
        for (const auto& [row, record] : b.added)
            placement[slot].emplace(Order{first, 0, row, 0}, record);
        for (const int row : m_freshRows) {
            if (row < b.first || row > b.last)
                continue;
            for (auto it = m_fresh.lower_bound({row, 0}); it != m_fresh.end() && it->first.first == row; ++it)
                placement[slot].emplace(Order{first, 1, row, it->first.second}, it->second);
        }
        if (b.hasDbCell) {
            Record dbcell;
            dbcell.type = rt::kDbCell;
            dbcell.rebuilt = true;
            placement[slot].emplace(Order{first, 2, 0, 0}, dbcell);
        }
    }
    // The cells of fresh rows in blocks that were read: before the next row's cells, or at the
    // block's end.
    for (const int row : m_freshRows) {
        const auto block = std::find_if(read.begin(), read.end(),
                                        [&](const RowBlock* b) { return b->first <= row && row <= b->last; });
        if (block == read.end())
            continue;
        const RowBlock& b = **block;
        Slot slot{b.end, false};
        if (b.hasDbCell)
            slot = {b.dbcell, true};
        for (auto it = m_firstCell.upper_bound(row); it != m_firstCell.end(); ++it) {
            if (it->second > b.lastRow && it->second <= b.end) {
                slot = {it->second, true};
                break;
            }
            if (it->second > b.end)
                break;
        }
        for (auto it = m_fresh.lower_bound({row, 0}); it != m_fresh.end() && it->first.first == row; ++it)
            placement[slot].emplace(Order{b.first, 1, row, it->first.second}, it->second);
    }
}

void BiffSheet::commitRowIndex(WorkbookStream& stream) const
{
    const std::vector<Record>& records = stream.records();
    int dbcells = 0;
    int depth = 0;
    for (std::size_t i = m_bof + 1; i < m_eof && i < records.size(); ++i) {
        if (!ownRecord(records[i], depth) || records[i].type != rt::kDbCell)
            continue;
        ++dbcells;
        Record rebuilt = records[i];
        rebuilt.rebuilt = true;
        stream.replace(i, {rebuilt});
    }
    if (!m_index)
        return;
    for (const RowBlock& b : m_blocks) {
        if (!b.firstRow && b.hasDbCell)
            ++dbcells;
    }
    Record index = records[m_index];
    index.rebuilt = true;
    index.data.resize(16 + 4 * dbcells);
    std::uint32_t first = le32(index.data, 4);
    std::uint32_t last = le32(index.data, 8);
    const std::uint32_t low = std::uint32_t(*m_freshRows.begin() - 1);
    const std::uint32_t high = std::uint32_t(*m_freshRows.rbegin());
    put32(index.data, 4, last == 0 ? low : std::min(first, low));
    put32(index.data, 8, std::max(last, high));
    stream.replace(m_index, {index});
}

} // namespace corvane::automation::native::biff
