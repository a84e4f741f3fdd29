#include "records.h"

#include <algorithm>
#include <deque>

namespace corvane::automation::native::biff {

bool WorkbookStream::parse(const QByteArray& stream, QString* error)
{
    m_records.clear();
    m_tail.clear();
    m_replaced.clear();
    m_inserted.clear();
    m_appended.clear();
    const int size = stream.size();
    int at = 0;
    int depth = 0;
    while (at + 4 <= size) {
        const std::uint16_t type = le16(stream, at);
        const std::uint16_t length = le16(stream, at + 2);
        if (m_records.empty() && type != rt::kBof) {
            *error = QStringLiteral("damaged: the workbook stream does not start with a BOF record");
            return false;
        }
        if (depth == 0 && !m_records.empty() && type != rt::kBof)
            break; // padding after the last substream
        if (length > size - at - 4) {
            *error = QStringLiteral("damaged: a record at byte %1 of the workbook stream runs past its end")
                         .arg(at);
            return false;
        }
        Record record;
        record.type = type;
        record.offset = std::uint32_t(at);
        record.data = stream.mid(at + 4, length);
        m_records.push_back(std::move(record));
        at += 4 + length;
        if (type == rt::kBof) {
            // Embedded charts nest a substream inside a worksheet's; nothing nests deeper.
            if (++depth > 3) {
                *error = QStringLiteral("damaged: the workbook stream nests substreams too deeply");
                return false;
            }
        } else if (type == rt::kEof) {
            --depth;
        }
    }
    if (m_records.empty() || depth != 0) {
        *error = QStringLiteral("damaged: the workbook stream ends inside a substream");
        return false;
    }
    m_tail = stream.mid(at);
    return true;
}

namespace {

struct Layout
{
    const std::vector<Record>* records = nullptr;
    std::vector<std::uint32_t> own;  // by record index: where the record (or what replaced it) starts now
    std::vector<std::uint32_t> slot; // by record index: where the records inserted before it start
    std::uint32_t oldEnd = 0;
    std::uint32_t newEnd = 0;

    // The record that started at `old`, if one did.
    long long indexAt(std::uint32_t old) const
    {
        const auto& r = *records;
        const auto it = std::lower_bound(r.begin(), r.end(), old,
                                         [](const Record& rec, std::uint32_t v) { return rec.offset < v; });
        if (it == r.end() || it->offset != old)
            return -1;
        return it - r.begin();
    }
    // The new position of a record start that was at `old`; false when no record started there.
    bool map(std::uint32_t old, std::uint32_t* now, bool toSlot = false) const
    {
        if (old == oldEnd) {
            *now = newEnd;
            return true;
        }
        const long long i = indexAt(old);
        if (i < 0)
            return false;
        *now = toSlot ? slot[std::size_t(i)] : own[std::size_t(i)];
        return true;
    }
};

} // namespace

namespace {

// A DBCELL for the block of rows written just before it: the way back to the block's first ROW
// record, and from there to each row's first cell (for a row without cells, where its cells
// would start). `written` holds every record written so far, with where it starts.
bool rebuiltDbCell(const std::vector<std::pair<int, const Record*>>& written, int at, QByteArray* body,
                   QString* error)
{
    body->clear();
    // Back over the block's cells to its ROW records.
    std::size_t k = written.size();
    while (k > 0 && written[k - 1].second->type != rt::kRow && written[k - 1].second->type != rt::kDbCell &&
           written[k - 1].second->type != rt::kBof)
        --k;
    const std::size_t cellsFrom = k;
    while (k > 0 && written[k - 1].second->type == rt::kRow)
        --k;
    const std::size_t rowsFrom = k;
    if (rowsFrom == cellsFrom) {
        append32(*body, 0);
        return true;
    }
    const int firstRow = written[rowsFrom].first;
    append32(*body, std::uint32_t(at - firstRow));
    int base = firstRow + 4 + written[rowsFrom].second->data.size();
    for (std::size_t r = rowsFrom; r < cellsFrom; ++r) {
        const Record& row = *written[r].second;
        const int number = row.data.size() >= 2 ? le16(row.data, 0) : 0;
        int target = at;
        for (std::size_t c = cellsFrom; c < written.size(); ++c) {
            const Record& cell = *written[c].second;
            if (isCellRecord(cell.type) && cell.data.size() >= 2 && le16(cell.data, 0) >= number) {
                target = written[c].first;
                break;
            }
        }
        if (target < base || target - base > 0xFFFF) {
            *error = QStringLiteral("a block of rows grew beyond what its index can point into");
            return false;
        }
        append16(*body, std::uint32_t(target - base));
        base = target;
    }
    return true;
}

} // namespace

bool WorkbookStream::write(QByteArray* out, QString* error) const
{
    QByteArray bytes;
    Layout layout;
    layout.records = &m_records;
    layout.own.resize(m_records.size());
    layout.slot.resize(m_records.size());
    // Where each emitted record whose fields hold positions starts, with the record it came from.
    struct Emitted
    {
        int at;
        std::size_t source;
    };
    std::vector<Emitted> holders;
    // Every record written, with where it starts; and the rebuilt INDEX records among them.
    std::vector<std::pair<int, const Record*>> written;
    std::vector<std::size_t> indexes;
    std::deque<Record> rebuiltCells; // bodies made for rebuilt DBCELL records, kept for `written`
    const auto emit = [&](const Record& given) {
        const Record* r = &given;
        if (given.rebuilt && given.type == rt::kDbCell) {
            Record made;
            made.type = rt::kDbCell;
            if (!rebuiltDbCell(written, bytes.size(), &made.data, error))
                return false;
            rebuiltCells.push_back(std::move(made));
            r = &rebuiltCells.back();
        } else if (given.rebuilt && given.type == rt::kIndex) {
            indexes.push_back(written.size());
        }
        if (r->data.size() > 0xFFFF) {
            *error = QStringLiteral("a record grew beyond what BIFF can hold");
            return false;
        }
        written.emplace_back(bytes.size(), r);
        append16(bytes, r->type);
        append16(bytes, std::uint32_t(r->data.size()));
        bytes.append(r->data);
        return true;
    };
    for (std::size_t i = 0; i < m_records.size(); ++i) {
        layout.slot[i] = std::uint32_t(bytes.size());
        if (const auto ins = m_inserted.find(i); ins != m_inserted.end()) {
            for (const Record& r : ins->second) {
                if (!emit(r))
                    return false;
            }
        }
        layout.own[i] = std::uint32_t(bytes.size());
        const Record& original = m_records[i];
        if (const auto rep = m_replaced.find(i); rep != m_replaced.end()) {
            for (const Record& r : rep->second) {
                if (!emit(r))
                    return false;
            }
        } else {
            if (original.type == rt::kBoundSheet || original.type == rt::kIndex ||
                original.type == rt::kDbCell)
                holders.push_back({bytes.size(), i});
            if (!emit(original))
                return false;
        }
        if (const auto app = m_appended.find(i); app != m_appended.end()) {
            for (const Record& r : app->second) {
                if (!emit(r))
                    return false;
            }
        }
    }
    layout.oldEnd =
        m_records.empty() ? 0 : m_records.back().offset + 4 + std::uint32_t(m_records.back().data.size());
    layout.newEnd = std::uint32_t(bytes.size());

    for (const Emitted& h : holders) {
        const Record& r = m_records[h.source];
        const int body = h.at + 4;
        std::uint32_t now = 0;
        if (r.type == rt::kBoundSheet && r.data.size() >= 4) {
            if (!layout.map(le32(r.data, 0), &now)) {
                *error = QStringLiteral("damaged: a sheet's start is not where the workbook says");
                return false;
            }
            put32(bytes, body, now);
        } else if (r.type == rt::kIndex && r.data.size() >= 16) {
            // ibXF, then the DBCELL of every row block.
            for (int f = 12; f + 4 <= r.data.size(); f += 4) {
                if (layout.map(le32(r.data, f), &now))
                    put32(bytes, body + f, now);
            }
        } else if (r.type == rt::kDbCell && r.data.size() >= 4) {
            // Offsets back to the block's first ROW record, then from the second ROW record to
            // each row's first cell, each from the one before. Blocks that do not follow that
            // rule (some writers fill in anything) are left as they are.
            const std::uint32_t dbcell = r.offset;
            const std::uint32_t back = le32(r.data, 0);
            if (back > dbcell)
                continue;
            const std::uint32_t firstRow = dbcell - back;
            std::uint32_t firstRowNow = 0;
            if (!layout.map(firstRow, &firstRowNow))
                continue;
            const std::uint32_t dbcellNow = layout.own[h.source];
            put32(bytes, body, dbcellNow - firstRowNow);
            const long long rowIndex = layout.indexAt(firstRow);
            if (rowIndex < 0 || m_records[std::size_t(rowIndex)].type != rt::kRow)
                continue;
            const int count = (r.data.size() - 4) / 2;
            std::vector<std::uint32_t> targets;
            std::uint32_t base = firstRow + 4 + std::uint32_t(m_records[std::size_t(rowIndex)].data.size());
            bool consistent = true;
            for (int k = 0; k < count && consistent; ++k) {
                const std::uint32_t target = base + le16(r.data, 4 + 2 * k);
                std::uint32_t mapped = 0;
                consistent = layout.map(target, &mapped, true);
                targets.push_back(mapped);
                base = target;
            }
            if (!consistent)
                continue;
            std::uint32_t baseNow =
                firstRowNow + 4 + std::uint32_t(m_records[std::size_t(rowIndex)].data.size());
            for (int k = 0; k < count; ++k) {
                if (targets[std::size_t(k)] < baseNow || targets[std::size_t(k)] - baseNow > 0xFFFF) {
                    *error = QStringLiteral("a block of rows grew beyond what its index can point into");
                    return false;
                }
                put16(bytes, body + 4 + 2 * k, targets[std::size_t(k)] - baseNow);
                baseNow = targets[std::size_t(k)];
            }
        }
    }
    // A rebuilt INDEX: its DEFCOLWIDTH position followed as before, and the DBCELL records its
    // sheet now holds, in order.
    for (const std::size_t w : indexes) {
        const int body = written[w].first + 4;
        const Record& r = *written[w].second;
        std::uint32_t now = 0;
        if (r.data.size() >= 16 && layout.map(le32(r.data, 12), &now))
            put32(bytes, body + 12, now);
        int field = 16;
        int depth = 0;
        for (std::size_t k = w + 1; k < written.size(); ++k) {
            const std::uint16_t type = written[k].second->type;
            if (type == rt::kBof)
                ++depth;
            else if (type == rt::kEof && depth-- == 0)
                break;
            if (type != rt::kDbCell || depth != 0)
                continue;
            if (field + 4 > r.data.size()) {
                *error = QStringLiteral("a sheet's row index does not hold all its blocks of rows");
                return false;
            }
            put32(bytes, body + field, std::uint32_t(written[k].first));
            field += 4;
        }
    }
    bytes.append(m_tail);
    *out = std::move(bytes);
    return true;
}

} // namespace corvane::automation::native::biff
