#include "biffworkbook.h"

#include "biffformulas.h"
#include "formulasource.h"

#include "automation/native/text/celltext.h"
#include "automation/native/text/numberformat.h"
#include "automation/native/text/searchpattern.h"

#include <cmath>
#include <cstring>
#include <set>
#include <tuple>

namespace corvane::automation::native::biff {

namespace {

constexpr int kMaxText = 32767;

struct ErrorCode
{
    unsigned code;
    const char* text;
};
constexpr ErrorCode kErrors[] = {{0x00, "#NULL!"}, {0x07, "#DIV/0!"}, {0x0F, "#VALUE!"}, {0x17, "#REF!"},
                                 {0x1D, "#NAME?"}, {0x24, "#NUM!"},   {0x2A, "#N/A"}};

QString errorText(unsigned code)
{
    for (const ErrorCode& e : kErrors) {
        if (e.code == code)
            return QString::fromLatin1(e.text);
    }
    return QStringLiteral("#N/A");
}

bool isCellRecord(std::uint16_t type)
{
    switch (type) {
    case rt::kFormula:
    case rt::kLabelSst:
    case rt::kNumber:
    case rt::kRk:
    case rt::kMulRk:
    case rt::kBoolErr:
    case rt::kBlank:
    case rt::kMulBlank:
    case rt::kLabel:
    case rt::kRString:
        return true;
    default:
        return false;
    }
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

// The first and last columns (0-based) of a MULRK or MULBLANK, and the size of one cell's entry.
bool runBounds(const Record& r, int* first, int* last, int* entry)
{
    *entry = r.type == rt::kMulRk ? 6 : 2;
    if (r.data.size() < 6)
        return false;
    *first = le16(r.data, 2);
    *last = le16(r.data, r.data.size() - 2);
    return *last >= *first && 4 + (*last - *first + 1) * *entry + 2 == r.data.size();
}

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

QString unsupportedOnXls(const QString& what)
{
    return QStringLiteral("unsupported on .xls: ") + what;
}

// ---------------------------------------------------------------------------------------------
// BiffWorkbook

BiffWorkbook::BiffWorkbook() = default;
BiffWorkbook::~BiffWorkbook() = default;

bool BiffWorkbook::open(const QString& path, WorkKind work, FormulaTextSource* formulas,
                        const QString& formula)
{
    m_path = path;
    if (!formulas) {
        m_ownFormulas = std::make_unique<RecordFormulas>();
        formulas = m_ownFormulas.get();
    }
    m_formulas = formulas;
    m_handOver = false;
    QString error;
    if (!m_document.read(path, &error)) {
        m_lastError = error;
        return false;
    }
    CompoundEntry* workbook = m_document.stream(QStringLiteral("Workbook"));
    if (!workbook) {
        m_handOver = true;
        m_lastError = m_document.stream(QStringLiteral("Book"))
                          ? QStringLiteral("unsupported: an Excel 5.0/95 workbook (BIFF5 or older)")
                          : QStringLiteral("unsupported: the compound file holds no workbook stream");
        return false;
    }
    if (!m_stream.parse(workbook->data, &error)) {
        m_lastError = error;
        return false;
    }
    const std::vector<Record>& records = m_stream.records();
    if (records.front().data.size() < 4 || le16(records.front().data, 0) != 0x0600) {
        m_handOver = true;
        m_lastError = QStringLiteral("unsupported: an Excel 5.0/95 workbook (BIFF5 or older)");
        return false;
    }

    struct Bound
    {
        std::uint32_t offset;
        QString name;
    };
    std::vector<Bound> bounds;
    std::size_t sst = 0;
    std::size_t i = 1;
    for (; i < records.size() && records[i].type != rt::kEof; ++i) {
        const Record& r = records[i];
        if (r.type == rt::kFilePass) {
            m_lastError = QStringLiteral("encrypted: the workbook is protected by a password");
            return false;
        }
        if (r.type == rt::kBoundSheet) {
            QString name;
            if (r.data.size() < 8 || !readUnicodeString(r.data, 6, false, &name)) {
                m_lastError = QStringLiteral("damaged: a sheet entry of the workbook is cut short");
                return false;
            }
            bounds.push_back({le32(r.data, 0), name});
        } else if (r.type == rt::kSst && sst == 0) {
            sst = i;
        } else if (r.type == rt::kExtSst) {
            m_extSst = i;
        } else if (r.type == rt::kXf) {
            m_xfLocked.push_back(r.data.size() < 6 || (le16(r.data, 4) & 0x0001) != 0);
        }
    }
    if (sst) {
        m_sst = std::make_unique<SharedStringTable>();
        if (!m_sst->parse(records, sst, &error)) {
            m_lastError = error;
            return false;
        }
    }

    for (const Bound& b : bounds) {
        std::size_t bof = 0;
        for (std::size_t k = i; k < records.size(); ++k) {
            if (records[k].offset == b.offset) {
                bof = k;
                break;
            }
            if (records[k].offset > b.offset)
                break;
        }
        if (!bof || records[bof].type != rt::kBof || records[bof].data.size() < 4) {
            m_lastError = QStringLiteral("damaged: the sheet \"%1\" does not start where the workbook says")
                              .arg(b.name);
            return false;
        }
        std::size_t eof = bof + 1;
        for (int depth = 1; eof < records.size(); ++eof) {
            if (records[eof].type == rt::kBof)
                ++depth;
            else if (records[eof].type == rt::kEof && --depth == 0)
                break;
        }
        const bool grid = le16(records[bof].data, 2) == 0x0010;
        m_sheets.push_back(std::make_unique<BiffSheet>(*this, int(m_sheets.size()), b.name, bof, eof, grid));
    }
    if (m_sheets.empty()) {
        m_lastError = QStringLiteral("damaged: the workbook has no sheets");
        return false;
    }

    QString notDone;
    switch (work) {
    case WorkKind::FindReplace:
    case WorkKind::CellText:
        break;
    case WorkKind::FindReplaceBeyondCells:
        notDone = QStringLiteral("replacing outside cells");
        break;
    case WorkKind::CellFormula: {
        // Each cell's own changed formula (change-formula) is known only once it is written, too
        // late to leave the workbook to another server; one formula for all is checked now.
        int tokenSize = 0;
        QString reason;
        if (formula.isEmpty())
            notDone = QStringLiteral("changing formulas");
        else if (!m_formulas->formulaTokens(*this, 0, 0, 0, formula, &tokenSize, &reason))
            notDone = QStringLiteral("the formula %1 (%2)").arg(formula.left(100), reason);
        break;
    }
    case WorkKind::RowColumn:
        notDone = QStringLiteral("deleting or inserting rows and columns");
        break;
    case WorkKind::Pictures:
        notDone = QStringLiteral("pictures");
        break;
    case WorkKind::SheetRemoval:
        notDone = QStringLiteral("deleting sheets");
        break;
    case WorkKind::Other:
        notDone = QStringLiteral("this operation");
        break;
    }
    // A search in formulas needs their text, and a replacement inside one needs it written back:
    // a workbook with a formula the engine can do neither for is left to a server that can,
    // before anything is changed.
    if (notDone.isEmpty() && work == WorkKind::FindReplace) {
        for (const auto& sheet : m_sheets) {
            notDone = sheet->formulaRefusal();
            if (!notDone.isEmpty())
                break;
        }
    }
    if (!notDone.isEmpty()) {
        m_handOver = true;
        m_lastError = unsupportedOnXls(notDone);
        return false;
    }
    m_lastError.clear();
    return true;
}

std::vector<QString> BiffWorkbook::sheetNames() const
{
    std::vector<QString> names;
    for (const auto& sheet : m_sheets)
        names.push_back(sheet->m_name);
    return names;
}

std::pair<std::size_t, std::size_t> BiffWorkbook::sheetRecords(int position) const
{
    if (position < 0 || std::size_t(position) >= m_sheets.size())
        return {0, 0};
    const BiffSheet& sheet = *m_sheets[std::size_t(position)];
    return {sheet.m_bof, sheet.m_eof};
}

Sheet* BiffWorkbook::sheet(int index)
{
    if (index < 1 || index > int(m_sheets.size()))
        return nullptr;
    return m_sheets[std::size_t(index - 1)].get();
}

bool BiffWorkbook::deleteSheet(int index)
{
    (void)index;
    m_lastError = unsupportedOnXls(QStringLiteral("deleting sheets"));
    return false;
}

bool BiffWorkbook::styleLocked(int xf) const
{
    return xf < 0 || std::size_t(xf) >= m_xfLocked.size() || m_xfLocked[std::size_t(xf)];
}

bool BiffWorkbook::streamBytes(QByteArray* out, QString* error) const
{
    // Changes go into a copy, so that the workbook stays as it was should the save fail.
    WorkbookStream stream = m_stream;
    for (const auto& sheet : m_sheets)
        sheet->commit(stream);
    if (m_sst && m_sst->changed()) {
        stream.replace(m_sst->firstRecord(), m_sst->tableRecords());
        for (std::size_t k = 1; k < m_sst->recordCount(); ++k)
            stream.replace(m_sst->firstRecord() + k, {});
        if (m_extSst) {
            // Nothing before the table changes, so it stays where it was.
            stream.replace(m_extSst, {m_sst->extSst(m_stream.records()[m_sst->firstRecord()].offset)});
        }
    }
    return stream.write(out, error);
}

bool BiffWorkbook::save()
{
    if (!m_changed)
        return true; // nothing changed: the file stays as it is, byte for byte
    QByteArray workbook;
    QString error;
    if (!streamBytes(&workbook, &error)) {
        m_lastError = QStringLiteral("not saved: %1").arg(error);
        return false;
    }
    CompoundDocument document = m_document;
    document.stream(QStringLiteral("Workbook"))->data = workbook;
    QByteArray file;
    if (!document.write(&file, &error)) {
        m_lastError = QStringLiteral("not saved: %1").arg(error);
        return false;
    }
    if (!replaceFileContents(m_path, file, &error)) {
        m_lastError = error;
        return false;
    }
    m_document = std::move(document);
    return true;
}

void BiffWorkbook::close()
{
    m_sheets.clear();
}

// ---------------------------------------------------------------------------------------------
// BiffSheet

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
        if (r.type == rt::kBof)
            ++depth;
        else if (r.type == rt::kEof)
            --depth;
        if (depth != 0)
            continue; // an embedded chart's substream
        if (r.type == rt::kProtect && r.data.size() >= 2 && le16(r.data, 0) != 0)
            m_protected = true;
        if (r.type == rt::kDimensions && r.data.size() >= 12)
            m_dimensions = i;
        if (r.type == rt::kRow && r.data.size() >= 6)
            m_rowRecords[le16(r.data, 0) + 1] = i;
        if (!isCellRecord(r.type) || r.data.size() < minimumBody(r.type))
            continue;
        const int row = le16(r.data, 0) + 1;
        if (r.type == rt::kFormula)
            m_formulas = true;
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
}

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
        // Only a cell with tokens of its own, or a member of a shared formula, is ever written
        // back; its text must compile again.
        const FormulaShape shape = source->shape(m_workbook, m_position, r->data);
        if (shape != FormulaShape::Own && shape != FormulaShape::Shared)
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

bool BiffSheet::holdsFormulas()
{
    index();
    return m_formulas;
}

const Record* BiffSheet::current(const CellAddress& cell, const CellRef& ref) const
{
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
        return generalDisplayText(v.number);
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
        if (after != *text)
            changes.emplace_back(at, *text, after);
    }
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
        if (store(at, text)) {
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

bool BiffSheet::store(const CellAddress& cell, const QString& text)
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
    const int style = it == m_cells.end() ? 15 : styleOf(cell, it->second);
    if (m_protected && m_workbook.styleLocked(style)) {
        m_lastError = QStringLiteral("the cell is locked on a protected sheet");
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
        FormulaTextSource* source = m_workbook.formulas();
        int tokenSize = 0;
        QString reason = QStringLiteral("writing formulas");
        const std::optional<QByteArray> tokens =
            source ? source->formulaTokens(m_workbook, m_position, cell.row - 1, cell.column - 1, input.text,
                                           &tokenSize, &reason)
                   : std::nullopt;
        if (!tokens)
            return unsupported(reason);
        if (tokenSize > 0xFFFF || 22 + tokens->size() > kMaxRecordData)
            return unsupported(QStringLiteral("a formula longer than a record holds"));
        record = cellHead(rt::kFormula, cell.row, cell.column, style);
        // No result is known until the formula is calculated: an empty text stands in, and the
        // cell asks to be calculated whenever the workbook is, opening included.
        const char pending[8] = {3, 0, 0, 0, 0, 0, char(0xFF), char(0xFF)};
        record.data.append(pending, 8);
        append16(record.data, 0x0001); // fAlwaysCalc
        append32(record.data, 0);
        append16(record.data, std::uint32_t(tokenSize));
        record.data.append(*tokens);
        break;
    }
    }
    return writeRecord(cell, std::move(record), references);
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
        else
            (ref.placed == Placed::Before ? m_before : m_after)[ref.record][{cell.row, cell.column}] =
                std::move(record);
        m_workbook.noteChange();
        return true;
    }

    // A new cell goes among the cells of its row, in column order; a row that holds no cell yet
    // would need its row block rebuilt.
    const auto firstOfRow = m_cells.lower_bound({cell.row, 0});
    if (firstOfRow == m_cells.end() || firstOfRow->first.first != cell.row || !m_rowRecords.count(cell.row))
        return unsupported(QStringLiteral("writing into a row that holds no cells yet"));
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
    // The row's and the sheet's bounds take the new column in.
    const std::size_t rowIndex = m_rowRecords[cell.row];
    Record row = m_patched.count(rowIndex) ? m_patched[rowIndex] : records[rowIndex];
    if (row.data.size() >= 6) {
        put16(row.data, 2, std::min<std::uint32_t>(le16(row.data, 2), std::uint32_t(cell.column - 1)));
        put16(row.data, 4, std::max<std::uint32_t>(le16(row.data, 4), std::uint32_t(cell.column)));
        m_patched[rowIndex] = row;
    }
    if (m_dimensions) {
        Record dim = m_patched.count(m_dimensions) ? m_patched[m_dimensions] : records[m_dimensions];
        put16(dim.data, 8, std::min<std::uint32_t>(le16(dim.data, 8), std::uint32_t(cell.column - 1)));
        put16(dim.data, 10, std::max<std::uint32_t>(le16(dim.data, 10), std::uint32_t(cell.column)));
        m_patched[m_dimensions] = dim;
    }
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
    for (const auto& [slot, cells] : m_before) {
        for (const auto& [at, record] : cells)
            stream.insertedBefore(slot).push_back(record);
    }
    for (const auto& [slot, cells] : m_after) {
        for (const auto& [at, record] : cells)
            stream.insertedAfter(slot).push_back(record);
    }
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
