// A sheet's cells changed: the record a written cell gets, where a new one goes, shared formulas
// written out cell by cell, and the changes put into a copy of the stream when the workbook saves.
#include "biffsheet.h"

#include "biffworkbook.h"
#include "cellrecords.h"
#include "formulasource.h"

#include "automation/native/text/celltext.h"

#include <algorithm>
#include <cstring>
#include <set>
#include <tuple>
#include <vector>

namespace corvane::automation::native::biff {

namespace {

constexpr int kMaxText = 32767;

Record cellHead(std::uint16_t type, int row, int column, int style)
{
    Record r;
    r.type = type;
    append16(r.data, std::uint32_t(row - 1));
    append16(r.data, std::uint32_t(column - 1));
    append16(r.data, std::uint32_t(style));
    return r;
}

// One cell of a MULRK or MULBLANK as a record of its own.
Record singleOf(const Record& run, int column0)
{
    int first = 0, last = 0, entry = 0;
    runBounds(run, &first, &last, &entry);
    const int at = 4 + (column0 - first) * entry;
    Record r;
    r.type = run.type == rt::kMulRk ? rt::kRk : rt::kBlank;
    r.data = run.data.left(2);
    append16(r.data, std::uint32_t(column0));
    r.data.append(run.data.mid(at, entry));
    return r;
}

// Cells first..last (0-based) of a run, as one record: a run of one cell is an RK or BLANK.
Record partOf(const Record& run, int from, int to)
{
    if (from == to)
        return singleOf(run, from);
    int first = 0, last = 0, entry = 0;
    runBounds(run, &first, &last, &entry);
    Record r;
    r.type = run.type;
    r.data = run.data.left(2);
    append16(r.data, std::uint32_t(from));
    r.data.append(run.data.mid(4 + (from - first) * entry, (to - from + 1) * entry));
    append16(r.data, std::uint32_t(to));
    return r;
}

} // namespace

std::optional<std::pair<int, int>> BiffSheet::sharedAnchorOf(const CellAddress& cell,
                                                             const CellRef& ref) const
{
    const Record* r = current(cell, ref);
    if (!r || r->type != rt::kFormula || r->data.size() < 27 || le16(r->data, 20) != 5 || r->data[22] != 0x01)
        return std::nullopt;
    return std::make_pair(le16(r->data, 23) + 1, le16(r->data, 25) + 1);
}

void BiffSheet::dissolveSharedFormulas(std::vector<CellRewrite>& changes)
{
    // The cell after which a shared formula's record is stored cannot take other tokens alone:
    // the record would no longer follow a cell that uses it. When it changes, every cell of the
    // shared formula gets tokens of its own, and the shared record goes.
    const std::vector<Record>& records = m_workbook.stream().records();
    std::set<std::pair<int, int>> anchors;
    for (const auto& change : changes) {
        const CellAddress& at = std::get<0>(change);
        const auto it = m_cells.find({at.row, at.column});
        if (it == m_cells.end() || it->second.placed != Placed::Read)
            continue;
        const std::size_t next = it->second.record + 1;
        if (next < records.size() && records[next].type == rt::kShrFmla && sharedAnchorOf(at, it->second))
            anchors.insert({at.row, at.column});
    }
    if (anchors.empty())
        return;
    std::set<std::pair<int, int>> listed;
    for (const auto& change : changes)
        listed.insert({std::get<0>(change).row, std::get<0>(change).column});
    for (const auto& [at, ref] : m_cells) {
        const CellAddress cell{at.first, at.second};
        const auto anchor = sharedAnchorOf(cell, ref);
        if (!anchor || !anchors.count(*anchor) || listed.count(at))
            continue;
        const std::optional<QString> text = barText(cell, ref);
        if (text)
            changes.emplace_back(cell, *text, *text);
    }
    for (const auto& anchor : anchors)
        m_dissolved.insert(m_cells[anchor].record);
    // The anchor is written last: should a member be refused, the shared formula stays whole.
    std::stable_partition(changes.begin(), changes.end(), [&](const auto& change) {
        return !anchors.count({std::get<0>(change).row, std::get<0>(change).column});
    });
}

bool BiffSheet::writeOutSharedFormula(const CellAddress& head)
{
    FormulaTextSource* source = m_workbook.formulas();
    std::vector<std::pair<CellAddress, QString>> members;
    for (const auto& [at, ref] : m_cells) {
        const CellAddress cell{at.first, at.second};
        if (at == std::make_pair(head.row, head.column) ||
            sharedAnchorOf(cell, ref) != std::make_pair(head.row, head.column))
            continue;
        const std::optional<QString> text = barText(cell, ref);
        int tokenSize = 0;
        QString reason = QStringLiteral("reading formulas");
        if (!text || !source ||
            !source->formulaTokens(m_workbook, m_position, cell.row - 1, cell.column - 1, *text, &tokenSize,
                                   &reason))
            return unsupported(QStringLiteral("overwriting a cell that heads a shared formula whose cell %1 "
                                              "cannot have it as its own (%2)")
                                   .arg(cellName(cell), reason));
        members.emplace_back(cell, *text);
    }
    m_dissolved.insert(m_cells[{head.row, head.column}].record);
    for (const auto& [cell, text] : members) {
        if (!store(cell, text, true)) {
            m_dissolved.erase(m_cells[{head.row, head.column}].record);
            return false;
        }
    }
    return true;
}

std::optional<std::pair<int, int>> BiffSheet::arrayAnchorOf(const CellAddress& cell)
{
    const auto it = m_cells.find({cell.row, cell.column});
    if (it == m_cells.end())
        return std::nullopt;
    const auto anchor = sharedAnchorOf(cell, it->second);
    if (!anchor)
        return std::nullopt;
    const auto head = m_cells.find(*anchor);
    const std::vector<Record>& records = m_workbook.stream().records();
    if (head == m_cells.end() || head->second.placed != Placed::Read ||
        head->second.record + 1 >= records.size() || records[head->second.record + 1].type != rt::kArray)
        return std::nullopt;
    return anchor;
}

bool BiffSheet::singleCellArray(const CellAddress& cell)
{
    if (arrayAnchorOf(cell) != std::make_pair(cell.row, cell.column))
        return false;
    const QByteArray& b = m_workbook.stream().records()[m_cells.at({cell.row, cell.column}).record + 1].data;
    return b.size() >= 6 && le16(b, 0) == le16(b, 2) && b[4] == b[5];
}

bool BiffSheet::rewriteArray(const CellAddress& anchor, const QString& text)
{
    const std::vector<Record>& records = m_workbook.stream().records();
    const CellRef ref = m_cells.at({anchor.row, anchor.column});
    const std::size_t at = ref.record + 1;
    if (records[at].data.size() < 14 || (at + 1 < records.size() && records[at + 1].type == rt::kContinue))
        return unsupported(QStringLiteral("an array formula stored over several records"));
    if (m_protected && m_workbook.styleLocked(styleOf(anchor, ref))) {
        m_lastError = QStringLiteral("the cell is locked on a protected sheet");
        return false;
    }
    FormulaTextSource* source = m_workbook.formulas();
    int tokenSize = 0;
    QString reason = QStringLiteral("writing formulas");
    const std::optional<QByteArray> tokens =
        source ? source->formulaTokens(m_workbook, m_position, anchor.row - 1, anchor.column - 1, text,
                                       &tokenSize, &reason, true)
               : std::nullopt;
    if (!tokens)
        return unsupported(reason);
    if (tokenSize > 0xFFFF || 14 + tokens->size() > kMaxRecordData)
        return unsupported(QStringLiteral("a formula longer than a record holds"));
    Record array;
    array.type = rt::kArray;
    array.data = records[at].data.left(12);
    put16(array.data, 6, le16(array.data, 6) | 0x0001); // fAlwaysCalc
    append16(array.data, std::uint32_t(tokenSize));
    array.data.append(*tokens);
    // The text as the formula bar shows it: the new tokens read back.
    QByteArray body = records[ref.record].data.left(20);
    append16(body, std::uint32_t(tokenSize));
    body.append(*tokens);
    const std::optional<QString> shown = source->formulaText(m_workbook, m_position, body);
    // Every cell of the range keeps its pointer to the array formula and loses its result.
    const std::pair<int, int> key{anchor.row, anchor.column};
    for (const auto& [cellAt, cellRef] : m_cells) {
        const CellAddress cell{cellAt.first, cellAt.second};
        if (cellRef.placed != Placed::Read || sharedAnchorOf(cell, cellRef) != key)
            continue;
        Record r = *current(cell, cellRef);
        const char pending[8] = {3, 0, 0, 0, 0, 0, char(0xFF), char(0xFF)};
        for (int i = 0; i < 8; ++i)
            r.data[6 + i] = pending[i];
        put16(r.data, 14, le16(r.data, 14) | 0x0001);
        m_edits[cellRef.record][cell.column] = r;
    }
    m_arrays[at] = array;
    m_arrayTexts[key] = shown.value_or(QLatin1Char('=') + text);
    m_workbook.noteChange();
    return true;
}

bool BiffSheet::sharedFormulaFree(const CellAddress& anchor)
{
    const auto self = m_cells.find({anchor.row, anchor.column});
    if (self == m_cells.end() || self->second.placed != Placed::Read ||
        !m_dissolved.count(self->second.record))
        return true;
    for (const auto& [at, ref] : m_cells) {
        if (at == self->first)
            continue;
        if (sharedAnchorOf({at.first, at.second}, ref) == self->first) {
            m_dissolved.erase(self->second.record);
            return false;
        }
    }
    return true;
}

bool BiffSheet::store(const CellAddress& cell, const QString& text, bool rewrite)
{
    if (!m_hasGrid) {
        m_lastError = QStringLiteral("the sheet \"%1\" has no cells (a chart or dialog sheet)").arg(m_name);
        return false;
    }
    index();
    if (!cell.isValid() || cell.row > 65536 || cell.column > 256) {
        m_lastError = QStringLiteral("the cell lies outside the sheet");
        return false;
    }
    CellInput input;
    if (!parseTypedInput(text, input)) {
        m_lastError = QStringLiteral("\"%1\" is not a valid formula").arg(text.left(100));
        return false;
    }
    if (input.kind == CellInput::Kind::Text && input.text.size() > kMaxText) {
        m_lastError = QStringLiteral("the text is longer than the 32767 characters a cell can hold");
        return false;
    }
    const auto it = m_cells.find({cell.row, cell.column});
    if (it == m_cells.end() && input.kind == CellInput::Kind::Empty)
        return true;
    const int style = it == m_cells.end() ? newCellStyle(cell.row, cell.column) : styleOf(cell, it->second);
    if (m_protected && m_workbook.styleLocked(style)) {
        m_lastError = QStringLiteral("the cell is locked on a protected sheet");
        return false;
    }
    // A formula written over itself changes nothing: its tokens, cached result and shared or
    // array formula stay as they are.
    if (it != m_cells.end() && input.kind == CellInput::Kind::Formula) {
        const Record* now = current(cell, it->second);
        if (!rewrite && now && now->type == rt::kFormula) {
            const std::optional<QString> held = barText(cell, it->second);
            if (held && (*held == text || writesAs(cell, input.text, *held)))
                return true;
        }
        // An array formula of one cell is that cell's formula: it is written as the array's.
        if (singleCellArray(cell))
            return rewriteArray(cell, input.text);
        const std::vector<Record>& records = m_workbook.stream().records();
        const std::size_t next = it->second.record + 1;
        if (it->second.placed == Placed::Read && now && now->type == rt::kFormula && next < records.size() &&
            records[next].type == rt::kShrFmla && !m_dissolved.count(it->second.record) &&
            !writeOutSharedFormula(cell))
            return false;
    }
    Record record;
    int references = 0;
    switch (input.kind) {
    case CellInput::Kind::Text: {
        SharedStringTable* strings = m_workbook.strings();
        const int index = strings ? strings->indexOf(input.text) : -1;
        if (index < 0)
            return unsupported(QStringLiteral("writing text into this workbook's shared string table"));
        record = cellHead(rt::kLabelSst, cell.row, cell.column, style);
        append32(record.data, std::uint32_t(index));
        references = 1;
        break;
    }
    case CellInput::Kind::Number: {
        record = cellHead(rt::kNumber, cell.row, cell.column, style);
        std::uint64_t bits = 0;
        std::memcpy(&bits, &input.number, 8);
        for (int i = 0; i < 8; ++i)
            record.data.append(char((bits >> (8 * i)) & 0xFF));
        break;
    }
    case CellInput::Kind::Boolean:
    case CellInput::Kind::Error: {
        record = cellHead(rt::kBoolErr, cell.row, cell.column, style);
        unsigned code = input.boolean ? 1 : 0;
        if (input.kind == CellInput::Kind::Error) {
            for (const ErrorCode& e : kErrors) {
                if (input.text.compare(QLatin1String(e.text), Qt::CaseInsensitive) == 0)
                    code = e.code;
            }
        }
        record.data.append(char(code));
        record.data.append(char(input.kind == CellInput::Kind::Error ? 1 : 0));
        break;
    }
    case CellInput::Kind::Empty:
        record = cellHead(rt::kBlank, cell.row, cell.column, style);
        break;
    case CellInput::Kind::Formula: {
        std::optional<Record> formula = formulaRecord(cell, input.text, style);
        if (!formula)
            return false;
        record = std::move(*formula);
        break;
    }
    }
    return writeRecord(cell, std::move(record), references);
}

std::optional<Record> BiffSheet::formulaRecord(const CellAddress& cell, const QString& text, int style)
{
    FormulaTextSource* source = m_workbook.formulas();
    int tokenSize = 0;
    QString reason = QStringLiteral("writing formulas");
    const std::optional<QByteArray> tokens =
        source ? source->formulaTokens(m_workbook, m_position, cell.row - 1, cell.column - 1, text,
                                       &tokenSize, &reason)
               : std::nullopt;
    if (!tokens) {
        unsupported(reason);
        return std::nullopt;
    }
    if (tokenSize > 0xFFFF || 22 + tokens->size() > kMaxRecordData) {
        unsupported(QStringLiteral("a formula longer than a record holds"));
        return std::nullopt;
    }
    Record record = cellHead(rt::kFormula, cell.row, cell.column, style);
    // No result is known until the formula is calculated: an empty text stands in, and the
    // cell asks to be calculated whenever the workbook is, opening included.
    const char pending[8] = {3, 0, 0, 0, 0, 0, char(0xFF), char(0xFF)};
    record.data.append(pending, 8);
    append16(record.data, 0x0001); // fAlwaysCalc
    append32(record.data, 0);
    append16(record.data, std::uint32_t(tokenSize));
    record.data.append(*tokens);
    return record;
}

bool BiffSheet::writesAs(const CellAddress& cell, const QString& text, const QString& shown)
{
    // Function names and references are stored as tokens, not as typed: "=sum(a1)" is the
    // formula "=SUM(A1)" already holds.
    const QString error = m_lastError;
    const std::optional<Record> record = formulaRecord(cell, text, 0);
    m_lastError = error;
    FormulaTextSource* source = m_workbook.formulas();
    return record && source && source->formulaText(m_workbook, m_position, record->data) == shown;
}

bool BiffSheet::writeRecord(const CellAddress& cell, Record record, int references)
{
    const std::vector<Record>& records = m_workbook.stream().records();
    SharedStringTable* strings = m_workbook.strings();
    const auto it = m_cells.find({cell.row, cell.column});
    if (it != m_cells.end()) {
        const CellRef ref = it->second;
        const Record* now = current(cell, ref);
        if (now && now->type == rt::kFormula) {
            // A formula that heads a shared or array formula, or belongs to an array or table,
            // cannot be overwritten alone.
            const std::size_t next = ref.record + 1;
            const bool dissolved = ref.placed == Placed::Read && m_dissolved.count(ref.record) &&
                                   next < records.size() && records[next].type == rt::kShrFmla &&
                                   record.type == rt::kFormula;
            if (ref.placed == Placed::Read && next < records.size() && !dissolved &&
                (records[next].type == rt::kShrFmla || records[next].type == rt::kArray ||
                 records[next].type == rt::kTable))
                return unsupported(QStringLiteral("overwriting a cell that heads a shared or array formula"));
            const QByteArray& b = now->data;
            const int tokens = le16(b, 20);
            if (tokens >= 5 && b.size() >= 27 && (b[22] == 0x01 || b[22] == 0x02)) {
                // tExp/tTbl: a member of an array, table or shared formula. Only a shared
                // formula's member may be overwritten on its own.
                const int masterRow = le16(b, 23) + 1;
                const int masterColumn = le16(b, 25) + 1;
                const auto master = m_cells.find({masterRow, masterColumn});
                const bool shared = b[22] == 0x01 && master != m_cells.end() &&
                                    master->second.placed == Placed::Read &&
                                    master->second.record + 1 < records.size() &&
                                    records[master->second.record + 1].type == rt::kShrFmla;
                if (!shared)
                    return unsupported(QStringLiteral("overwriting part of an array formula or data table"));
            }
        }
        if (now && now->type == rt::kLabelSst)
            --references;
        if (strings)
            strings->countReferences(references);
        if (ref.placed == Placed::Read)
            m_edits[ref.record][cell.column] = std::move(record);
        else if (ref.placed == Placed::Fresh)
            m_fresh[{cell.row, cell.column}] = std::move(record);
        else
            (ref.placed == Placed::Before ? m_before : m_after)[ref.record][{cell.row, cell.column}] =
                std::move(record);
        m_workbook.noteChange();
        return true;
    }

    // A new cell goes among the cells of its row, in column order; into a row that holds no
    // cells yet, with the records of its row made for it.
    const auto firstOfRow = m_cells.lower_bound({cell.row, 0});
    const bool rowHasCells = firstOfRow != m_cells.end() && firstOfRow->first.first == cell.row;
    if (!rowHasCells || m_freshRows.count(cell.row)) {
        if (!openRow(cell.row))
            return false;
        widen(cell.row, cell.column);
        if (strings)
            strings->countReferences(references);
        m_fresh[{cell.row, cell.column}] = std::move(record);
        m_cells[{cell.row, cell.column}] = {0, Placed::Fresh};
        m_workbook.noteChange();
        return true;
    }
    if (!m_rowRecords.count(cell.row))
        return unsupported(QStringLiteral("writing into a row whose cells have no ROW record"));
    CellRef place;
    bool found = false;
    for (auto c = firstOfRow; c != m_cells.end() && c->first.first == cell.row; ++c) {
        if (c->first.second > cell.column && c->second.placed == Placed::Read) {
            place = {c->second.record, Placed::Before};
            found = true;
            break;
        }
    }
    if (!found) {
        // After the row's last cell record and what belongs to it (a formula's cached text, its
        // shared or array formula).
        std::size_t last = 0;
        for (auto c = firstOfRow; c != m_cells.end() && c->first.first == cell.row; ++c) {
            if (c->second.placed == Placed::Read)
                last = std::max(last, c->second.record);
        }
        while (last + 1 < m_eof &&
               (records[last + 1].type == rt::kString || records[last + 1].type == rt::kShrFmla ||
                records[last + 1].type == rt::kArray || records[last + 1].type == rt::kTable))
            ++last;
        place = {last, Placed::After};
    }
    widen(cell.row, cell.column);
    if (strings)
        strings->countReferences(references);
    (place.placed == Placed::Before ? m_before : m_after)[place.record][{cell.row, cell.column}] =
        std::move(record);
    m_cells[{cell.row, cell.column}] = place;
    m_workbook.noteChange();
    return true;
}

void BiffSheet::commit(WorkbookStream& stream) const
{
    const std::vector<Record>& records = stream.records();
    for (const auto& [index, record] : m_patched)
        stream.replace(index, {record});
    for (const auto& [index, record] : m_arrays)
        stream.replace(index, {record});
    // Everything new, in the order of the stream: block by block, a block's ROW records before
    // its cells, cells by row and column.
    Placement placement;
    for (const auto& [slot, cells] : m_before) {
        for (const auto& [at, record] : cells)
            placement[{slot, true}].emplace(Order{blockFirstOf(at.first), 1, at.first, at.second}, record);
    }
    for (const auto& [slot, cells] : m_after) {
        for (const auto& [at, record] : cells)
            placement[{slot, false}].emplace(Order{blockFirstOf(at.first), 1, at.first, at.second}, record);
    }
    placeFreshRows(placement);
    for (const auto& [slot, placed] : placement) {
        std::vector<Record>& into =
            slot.before ? stream.insertedBefore(slot.record) : stream.insertedAfter(slot.record);
        for (const auto& [order, record] : placed)
            into.push_back(record);
    }
    if (!m_freshRows.empty())
        commitRowIndex(stream);
    for (const auto& [index, cells] : m_edits) {
        const Record& original = records[index];
        if (original.type == rt::kMulRk || original.type == rt::kMulBlank) {
            // The run is split round the changed cells; the unchanged stretches stay runs.
            int first = 0, last = 0, entry = 0;
            runBounds(original, &first, &last, &entry);
            std::vector<Record> parts;
            int from = first;
            for (const auto& [column, record] : cells) {
                const int c = column - 1;
                if (c > from)
                    parts.push_back(partOf(original, from, c - 1));
                parts.push_back(record);
                from = c + 1;
            }
            if (from <= last)
                parts.push_back(partOf(original, from, last));
            stream.replace(index, parts);
            continue;
        }
        stream.replace(index, {cells.begin()->second});
        // A formula's cached text result goes with it, and so does the shared formula it headed
        // once all its cells have tokens of their own.
        std::size_t next = index + 1;
        if (original.type == rt::kFormula && m_dissolved.count(index) && next < records.size() &&
            records[next].type == rt::kShrFmla)
            stream.replace(next++, {});
        // An array formula's record stays between a cell of it and the cell's cached text.
        if (original.type == rt::kFormula && next < records.size() && records[next].type == rt::kArray)
            ++next;
        if (original.type == rt::kFormula && next < records.size() && records[next].type == rt::kString)
            stream.replace(next, {});
    }
}

bool BiffSheet::setValue(const CellAddress& cell, const QString& text)
{
    return store(cell, text);
}

bool BiffSheet::setFormula(const CellAddress& cell, const QString& text)
{
    return store(cell, text);
}

} // namespace corvane::automation::native::biff
