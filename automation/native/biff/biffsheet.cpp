// A sheet of a binary workbook read: its cell index, what each cell holds and shows, and find and
// replace over them. The records a change writes are made in biffsheetedits.cpp.
#include "biffsheet.h"

#include "biffworkbook.h"
#include "cellrecords.h"
#include "formulasource.h"

#include "automation/native/text/celltext.h"
#include "automation/native/text/searchpattern.h"

#include <algorithm>
#include <cstring>
#include <tuple>
#include <vector>

namespace corvane::automation::native::biff {

namespace {

QString errorText(unsigned code)
{
    for (const ErrorCode& e : kErrors) {
        if (e.code == code)
            return QString::fromLatin1(e.text);
    }
    return QStringLiteral("#N/A");
}

// The smallest body each cell record needs before its fields can be read.
int minimumBody(std::uint16_t type)
{
    switch (type) {
    case rt::kFormula:
        return 20;
    case rt::kLabelSst:
        return 10;
    case rt::kNumber:
        return 14;
    case rt::kRk:
        return 10;
    case rt::kMulRk:
        return 12;
    case rt::kBoolErr:
        return 8;
    case rt::kBlank:
        return 6;
    case rt::kMulBlank:
        return 8;
    case rt::kLabel:
    case rt::kRString:
        return 9;
    default:
        return 0;
    }
}

double rkValue(std::uint32_t rk)
{
    double value = 0;
    if (rk & 0x02) {
        value = double(std::int32_t(rk) >> 2);
    } else {
        const std::uint64_t bits = std::uint64_t(rk & 0xFFFFFFFCu) << 32;
        std::memcpy(&value, &bits, 8);
    }
    return (rk & 0x01) ? value / 100.0 : value;
}

double number(const QByteArray& body, int at)
{
    std::uint64_t bits = 0;
    for (int i = 7; i >= 0; --i)
        bits = (bits << 8) | static_cast<unsigned char>(body[at + i]);
    double value = 0;
    std::memcpy(&value, &bits, 8);
    return value;
}

} // namespace

BiffSheet::BiffSheet(BiffWorkbook& workbook, int position, const QString& name, std::size_t bof,
                     std::size_t eof, bool hasGrid)
    : m_workbook(workbook), m_position(position), m_name(name), m_bof(bof), m_eof(eof), m_hasGrid(hasGrid)
{
}

void BiffSheet::index()
{
    if (m_indexed)
        return;
    m_indexed = true;
    const std::vector<Record>& records = m_workbook.stream().records();
    int depth = 0;
    for (std::size_t i = m_bof + 1; i < m_eof && i < records.size(); ++i) {
        const Record& r = records[i];
        if (!ownRecord(r, depth))
            continue;
        if (r.type == rt::kProtect && r.data.size() >= 2 && le16(r.data, 0) != 0)
            m_protected = true;
        if (r.type == rt::kDimensions && r.data.size() >= 12)
            m_dimensions = i;
        if (r.type == rt::kRow && r.data.size() >= 6)
            m_rowRecords[le16(r.data, 0) + 1] = i;
        if (r.type == rt::kIndex && r.data.size() >= 16)
            m_index = i;
        if (r.type == rt::kDefaultRowHeight && r.data.size() >= 4)
            m_rowHeight = i;
        if (r.type == rt::kColInfo && r.data.size() >= 10)
            m_columns.push_back(i);
        if (!isCellRecord(r.type) || r.data.size() < minimumBody(r.type))
            continue;
        const int row = le16(r.data, 0) + 1;
        if (r.type == rt::kFormula)
            m_formulas = true;
        m_firstCell.emplace(row, i);
        if (r.type == rt::kMulRk || r.type == rt::kMulBlank) {
            int first = 0, last = 0, entry = 0;
            if (!runBounds(r, &first, &last, &entry))
                continue;
            for (int c = first; c <= last; ++c)
                m_cells[{row, c + 1}] = {i, Placed::Read};
        } else {
            m_cells[{row, le16(r.data, 2) + 1}] = {i, Placed::Read};
        }
    }
    indexBlocks();
}

QString BiffSheet::formulaRefusal()
{
    if (!m_hasGrid || !holdsFormulas())
        return {};
    FormulaTextSource* source = m_workbook.formulas();
    if (!source)
        return QStringLiteral("searching formulas (the workbook holds formulas)");
    for (const auto& [at, ref] : m_cells) {
        const CellAddress cell{at.first, at.second};
        const Record* r = current(cell, ref);
        if (!r || r->type != rt::kFormula)
            continue;
        const std::optional<QString> text = source->formulaText(m_workbook, m_position, r->data);
        if (!text)
            return QStringLiteral("reading the formula of cell %1 on sheet \"%2\"")
                .arg(cellName(cell), m_name);
        // A cell with tokens of its own, a member of a shared formula and an array formula (once
        // for its range) may be written back; its text must compile again.
        const FormulaShape shape = source->shape(m_workbook, m_position, r->data);
        if (shape == FormulaShape::Other)
            continue;
        int tokenSize = 0;
        QString reason;
        if (!source->formulaTokens(m_workbook, m_position, cell.row - 1, cell.column - 1, *text, &tokenSize,
                                   &reason))
            return QStringLiteral("the formula of cell %1 on sheet \"%2\" (%3)")
                .arg(cellName(cell), m_name, reason);
    }
    return {};
}

QString BiffSheet::rewriteRefusal(const AutomationServer::FormulaRewrite& rewrite)
{
    if (!m_hasGrid)
        return {};
    index();
    FormulaTextSource* source = m_workbook.formulas();
    const std::vector<Record>& records = m_workbook.stream().records();
    for (const auto& [at, ref] : m_cells) {
        const CellAddress cell{at.first, at.second};
        const std::optional<QString> text = barText(cell, ref);
        if (!text)
            return QStringLiteral("reading the formula of cell %1 on sheet \"%2\"")
                .arg(cellName(cell), m_name);
        const QString after = rewrite(*text);
        CellInput input;
        // A text that is no formula, or no valid one, is written or refused cell by cell as in
        // a package.
        if (after == *text || !parseTypedInput(after, input) || input.kind != CellInput::Kind::Formula)
            continue;
        const Record* r = current(cell, ref);
        if (r && r->type == rt::kFormula) {
            const FormulaShape shape = source->shape(m_workbook, m_position, r->data);
            if ((shape == FormulaShape::Array && !singleCellArray(cell)) || shape == FormulaShape::Other)
                continue; // part of an array formula or data table: refused cell by cell, as in a package
            // Its shared formula is written out cell by cell first: each must compile.
            if (ref.placed == Placed::Read && ref.record + 1 < records.size() &&
                records[ref.record + 1].type == rt::kShrFmla) {
                for (const auto& [member, memberRef] : m_cells) {
                    if (member == at || sharedAnchorOf({member.first, member.second}, memberRef) != at)
                        continue;
                    const CellAddress m{member.first, member.second};
                    const std::optional<QString> own = barText(m, memberRef);
                    int size = 0;
                    QString why = QStringLiteral("reading formulas");
                    if (!own || !source->formulaTokens(m_workbook, m_position, m.row - 1, m.column - 1, *own,
                                                       &size, &why))
                        return QStringLiteral("the formula of cell %1 on sheet \"%2\", which shares the "
                                              "formula of cell %3 (%4)")
                            .arg(cellName(m), m_name, cellName(cell), why);
                }
            }
        }
        int tokenSize = 0;
        QString reason;
        const std::optional<QByteArray> tokens = source->formulaTokens(
            m_workbook, m_position, cell.row - 1, cell.column - 1, input.text, &tokenSize, &reason);
        if (!tokens)
            return QStringLiteral("the formula %1 of cell %2 on sheet \"%3\" (%4)")
                .arg(after.left(100), cellName(cell), m_name, reason);
        if (tokenSize > 0xFFFF || 22 + tokens->size() > kMaxRecordData)
            return QStringLiteral("the formula of cell %1 on sheet \"%2\" (longer than a record holds)")
                .arg(cellName(cell), m_name);
    }
    return {};
}

bool BiffSheet::holdsFormulas()
{
    index();
    return m_formulas;
}

const Record* BiffSheet::current(const CellAddress& cell, const CellRef& ref) const
{
    if (ref.placed == Placed::Fresh) {
        const auto c = m_fresh.find({cell.row, cell.column});
        return c == m_fresh.end() ? nullptr : &c->second;
    }
    if (ref.placed != Placed::Read) {
        const auto& from = ref.placed == Placed::Before ? m_before : m_after;
        const auto e = from.find(ref.record);
        if (e == from.end())
            return nullptr;
        const auto c = e->second.find({cell.row, cell.column});
        return c == e->second.end() ? nullptr : &c->second;
    }
    if (const auto e = m_edits.find(ref.record); e != m_edits.end()) {
        if (const auto c = e->second.find(cell.column); c != e->second.end())
            return &c->second;
    }
    return &m_workbook.stream().records()[ref.record];
}

CellValue BiffSheet::valueOf(const CellAddress& cell, const CellRef& ref) const
{
    const Record* r = current(cell, ref);
    if (!r)
        return CellValue::empty();
    const QByteArray& b = r->data;
    switch (r->type) {
    case rt::kLabelSst: {
        const std::uint32_t index = le32(b, 6);
        SharedStringTable* strings = const_cast<BiffWorkbook&>(m_workbook).strings();
        if (!strings || index >= std::uint32_t(strings->count()))
            return CellValue::fromText({});
        return CellValue::fromText(strings->text(int(index)));
    }
    case rt::kLabel:
    case rt::kRString: {
        QString text;
        readUnicodeString(b, 6, true, &text);
        return CellValue::fromText(text);
    }
    case rt::kNumber:
        return CellValue::fromNumber(number(b, 6));
    case rt::kRk:
        return CellValue::fromNumber(rkValue(le32(b, 6)));
    case rt::kMulRk: {
        int first = 0, last = 0, entry = 0;
        runBounds(*r, &first, &last, &entry);
        return CellValue::fromNumber(rkValue(le32(b, 4 + (cell.column - 1 - first) * 6 + 2)));
    }
    case rt::kBoolErr: {
        const unsigned v = static_cast<unsigned char>(b[6]);
        return b[7] ? CellValue::fromError(errorText(v)) : CellValue::fromBoolean(v != 0);
    }
    case rt::kFormula: {
        if (le16(b, 12) != 0xFFFF)
            return CellValue::fromNumber(number(b, 6));
        const unsigned kind = static_cast<unsigned char>(b[6]);
        const unsigned v = static_cast<unsigned char>(b[8]);
        if (kind == 1)
            return CellValue::fromBoolean(v != 0);
        if (kind == 2)
            return CellValue::fromError(errorText(v));
        if (kind == 3)
            return CellValue::fromText({});
        // The result text is in the STRING record that follows the formula (and what belongs
        // to it).
        const std::vector<Record>& records = m_workbook.stream().records();
        for (std::size_t k = ref.record + 1; k < records.size() && k < ref.record + 4; ++k) {
            if (records[k].type == rt::kString) {
                QString text;
                readUnicodeString(records[k].data, 0, true, &text);
                return CellValue::fromText(text);
            }
            if (records[k].type != rt::kShrFmla && records[k].type != rt::kArray &&
                records[k].type != rt::kTable)
                break;
        }
        return CellValue::fromText({});
    }
    default:
        return CellValue::empty();
    }
}

int BiffSheet::styleOf(const CellAddress& cell, const CellRef& ref) const
{
    const Record* r = current(cell, ref);
    if (!r)
        return 15;
    if (r->type == rt::kMulRk || r->type == rt::kMulBlank) {
        int first = 0, last = 0, entry = 0;
        runBounds(*r, &first, &last, &entry);
        return le16(r->data, 4 + (cell.column - 1 - first) * entry);
    }
    return le16(r->data, 4);
}

std::optional<QString> BiffSheet::barText(const CellAddress& cell, const CellRef& ref)
{
    const Record* r = current(cell, ref);
    if (r && r->type == rt::kFormula) {
        if (const auto anchor = sharedAnchorOf(cell, ref); anchor && m_arrayTexts.count(*anchor))
            return m_arrayTexts.at(*anchor);
        if (FormulaTextSource* source = m_workbook.formulas())
            return source->formulaText(m_workbook, m_position, r->data);
        return std::nullopt;
    }
    const CellValue v = valueOf(cell, ref);
    switch (v.kind) {
    case CellValue::Kind::Number:
        return generalNumberText(v.number);
    case CellValue::Kind::Boolean:
        return v.boolean ? QStringLiteral("TRUE") : QStringLiteral("FALSE");
    default:
        return v.text;
    }
}

QString BiffSheet::shownText(const CellAddress& cell, const CellRef& ref)
{
    const CellValue v = valueOf(cell, ref);
    switch (v.kind) {
    case CellValue::Kind::Number:
        return m_workbook.formats().shown(v.number, styleOf(cell, ref));
    case CellValue::Kind::Boolean:
        return v.boolean ? QStringLiteral("TRUE") : QStringLiteral("FALSE");
    default:
        return v.text;
    }
}

std::optional<RangeAddress> BiffSheet::usedRange()
{
    if (!m_hasGrid) {
        m_lastError = QStringLiteral("the sheet \"%1\" has no cells (a chart or dialog sheet)").arg(m_name);
        return std::nullopt;
    }
    index();
    if (m_cells.empty())
        return RangeAddress{1, 1, 1, 1};
    RangeAddress r{m_cells.begin()->first.first, m_cells.begin()->first.second, m_cells.rbegin()->first.first,
                   m_cells.begin()->first.second};
    for (const auto& [at, ref] : m_cells) {
        r.firstColumn = std::min(r.firstColumn, at.second);
        r.lastColumn = std::max(r.lastColumn, at.second);
    }
    return r;
}

std::optional<RangeAddress> BiffSheet::range(const QString& address)
{
    const auto r = parseRangeAddress(address);
    if (!r)
        m_lastError = QStringLiteral("\"%1\" is not a cell or range address").arg(address);
    return r;
}

std::optional<CellAddress> BiffSheet::cell(int row, int column)
{
    // The binary format holds 65536 rows and 256 columns.
    const CellAddress c{row, column};
    if (!c.isValid() || row > 65536 || column > 256) {
        m_lastError = QStringLiteral("row %1, column %2 lies outside the sheet").arg(row).arg(column);
        return std::nullopt;
    }
    return c;
}

std::optional<CellAddress> BiffSheet::find(const RangeAddress& in, const FindQuery& query,
                                           std::optional<CellAddress> after)
{
    if (!m_hasGrid)
        return std::nullopt;
    index();
    const CellAddress start = after.value_or(in.topLeft());
    if (!in.contains(start)) {
        m_lastError = QStringLiteral("the start cell lies outside the searched range");
        return std::nullopt;
    }
    const SearchPattern pattern(query.what, query.lookAt == LookAt::Whole);
    if (pattern.isEmpty())
        return std::nullopt;
    const auto matches = [&](const CellAddress& at, const CellRef& ref) {
        if (query.lookIn == LookIn::Values)
            return pattern.matches(shownText(at, ref));
        const std::optional<QString> text = barText(at, ref);
        if (!text) {
            // Never reached through the engine's own open, which refuses such a search.
            m_lastError = unsupportedOnXls(QStringLiteral("reading formulas"));
            return false;
        }
        return pattern.matches(*text);
    };
    const auto inRange = [&](const CellAddress& at) { return in.contains(at); };
    for (auto it = m_cells.upper_bound({start.row, start.column}); it != m_cells.end(); ++it) {
        const CellAddress at{it->first.first, it->first.second};
        if (at.row > in.lastRow)
            break;
        if (inRange(at) && matches(at, it->second))
            return at;
    }
    for (auto it = m_cells.lower_bound({in.firstRow, 0}); it != m_cells.end(); ++it) {
        const CellAddress at{it->first.first, it->first.second};
        if (at.row > start.row || (at.row == start.row && at.column > start.column))
            break;
        if (inRange(at) && matches(at, it->second))
            return at;
    }
    return std::nullopt;
}

bool BiffSheet::replace(const RangeAddress& in, const QString& what, const QString& replacement,
                        const CellChanged& changed)
{
    m_replaceRefusal.clear();
    if (!m_hasGrid)
        return false;
    index();
    const SearchPattern pattern(what, false);
    if (pattern.isEmpty())
        return false;
    std::vector<CellRewrite> changes;
    for (auto it = m_cells.lower_bound({in.firstRow, 0}); it != m_cells.end(); ++it) {
        const CellAddress at{it->first.first, it->first.second};
        if (at.row > in.lastRow)
            break;
        if (!in.contains(at))
            continue;
        const std::optional<QString> text = barText(at, it->second);
        if (!text) {
            m_replaceRefusal = QStringLiteral("could not replace in cell %1: %2")
                                   .arg(cellName(at), unsupportedOnXls(QStringLiteral("reading formulas")));
            continue;
        }
        if (!pattern.matches(*text))
            continue;
        const QString after = pattern.replaceAll(*text, replacement);
        // A formula only retyped ("sum(" for "SUM(") is stored as it was: nothing to write.
        if (after == *text)
            continue;
        const Record* held = current(at, it->second);
        if (!(held && held->type == rt::kFormula && after.startsWith(QLatin1Char('=')) &&
              writesAs(at, after, *text)))
            changes.emplace_back(at, *text, after);
    }
    // An array formula's text is held once for its range: it changes for all its cells at once,
    // through the cell its ARRAY record follows, or not at all.
    std::vector<CellRewrite> arrays;
    changes.erase(std::remove_if(changes.begin(), changes.end(),
                                 [&](const CellRewrite& change) {
                                     const CellAddress& at = std::get<0>(change);
                                     const auto anchor = arrayAnchorOf(at);
                                     if (anchor && *anchor == std::make_pair(at.row, at.column))
                                         arrays.push_back(change);
                                     return anchor.has_value();
                                 }),
                  changes.end());
    dissolveSharedFormulas(changes);
    bool any = false;
    for (const auto& [at, before, text] : changes) {
        CellInput input;
        if (!parseTypedInput(text, input))
            continue; // the replacement would break the formula: the cell keeps it
        if (!sharedFormulaFree(at)) {
            m_replaceRefusal =
                QStringLiteral("could not replace in cell %1: %2")
                    .arg(cellName(at),
                         unsupportedOnXls(QStringLiteral("overwriting a cell that heads a shared formula "
                                                         "whose other cells keep it")));
            continue;
        }
        if (store(at, text, true)) {
            any = true;
            if (changed) {
                // What the cell now holds, which typed input may have made a number of.
                const QString now = formula(at);
                if (now != before)
                    changed(at, before, now);
            }
        } else
            m_replaceRefusal =
                QStringLiteral("could not replace in cell %1: %2").arg(cellName(at), m_lastError);
    }
    for (const auto& [at, before, text] : arrays) {
        CellInput input;
        if (!parseTypedInput(text, input) || input.kind != CellInput::Kind::Formula)
            continue; // an array formula stays a formula, as in a package
        if (!rewriteArray(at, input.text)) {
            m_replaceRefusal =
                QStringLiteral("could not replace in cell %1: %2").arg(cellName(at), m_lastError);
            continue;
        }
        any = true;
        if (changed) {
            const QString now = formula(at);
            if (now != before)
                changed(at, before, now);
        }
    }
    return any;
}

CellValue BiffSheet::value(const CellAddress& cell)
{
    index();
    const auto it = m_cells.find({cell.row, cell.column});
    return it == m_cells.end() ? CellValue::empty() : valueOf(cell, it->second);
}

QString BiffSheet::text(const CellAddress& cell)
{
    index();
    const auto it = m_cells.find({cell.row, cell.column});
    return it == m_cells.end() ? QString() : shownText(cell, it->second);
}

QString BiffSheet::formula(const CellAddress& cell)
{
    index();
    const auto it = m_cells.find({cell.row, cell.column});
    if (it == m_cells.end())
        return {};
    const std::optional<QString> text = barText(cell, it->second);
    if (!text) {
        // Guessing would write a wrong formula back; the workbook is not saved.
        m_lastError = unsupportedOnXls(QStringLiteral("reading formulas"));
        m_workbook.noteDamage(m_lastError);
        return {};
    }
    return *text;
}

bool BiffSheet::unsupported(const QString& what)
{
    m_lastError = unsupportedOnXls(what);
    return false;
}

bool BiffSheet::deleteRow(int)
{
    return unsupported(QStringLiteral("deleting or inserting rows and columns"));
}
bool BiffSheet::deleteColumn(int)
{
    return unsupported(QStringLiteral("deleting or inserting rows and columns"));
}
bool BiffSheet::insertRow(int)
{
    return unsupported(QStringLiteral("deleting or inserting rows and columns"));
}
bool BiffSheet::insertColumn(int)
{
    return unsupported(QStringLiteral("deleting or inserting rows and columns"));
}
std::optional<double> BiffSheet::cellLeft(const CellAddress&)
{
    unsupported(QStringLiteral("pictures"));
    return std::nullopt;
}
std::optional<double> BiffSheet::cellTop(const CellAddress&)
{
    unsupported(QStringLiteral("pictures"));
    return std::nullopt;
}
std::optional<CellAddress> BiffSheet::shapeTopLeftCell(int)
{
    return std::nullopt;
}
bool BiffSheet::deleteShape(int)
{
    return unsupported(QStringLiteral("pictures"));
}
bool BiffSheet::addPicture(const QString&, double, double, double, double)
{
    return unsupported(QStringLiteral("pictures"));
}

} // namespace corvane::automation::native::biff
