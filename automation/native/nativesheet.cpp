#include "nativesheet.h"

#include "nativeworkbook.h"
#include "searchpattern.h"
#include "worksheet.h"

namespace corvane::automation::native {

namespace {

// Why the application would not store `input`, or nothing: a text beyond what a cell holds, a
// formula beyond the longest it accepts.
QString tooLong(const CellInput& input)
{
    constexpr int kMaxText = 32767;
    constexpr int kMaxFormula = 8192;
    if (input.kind == CellInput::Kind::Text && input.text.size() > kMaxText)
        return QStringLiteral("the text is longer than the 32767 characters a cell can hold");
    if (input.kind == CellInput::Kind::Formula && input.text.size() + 1 > kMaxFormula)
        return QStringLiteral("the formula is longer than the 8192 characters a formula can have");
    return {};
}

} // namespace

NativeSheet::NativeSheet(NativeWorkbook& workbook, const QString& name, const std::string& partName,
                         bool hasGrid)
    : m_workbook(workbook), m_name(name), m_partName(partName), m_hasGrid(hasGrid)
{
}

Worksheet* NativeSheet::worksheet()
{
    if (m_worksheet)
        return m_worksheet;
    if (!m_hasGrid) {
        m_lastError = QStringLiteral("the sheet \"%1\" has no cells (a chart or dialog sheet)").arg(m_name);
        return nullptr;
    }
    QString error;
    SharedStrings* strings = m_workbook.sharedStrings(error);
    if (!error.isEmpty()) {
        m_lastError = error;
        m_workbook.noteDamage(error);
        return nullptr;
    }
    m_worksheet = m_workbook.package().part<Worksheet>(m_partName);
    if (!m_worksheet) {
        m_lastError = m_workbook.package().error();
        m_workbook.noteDamage(m_lastError);
        return nullptr;
    }
    m_worksheet->setSharedStrings(strings);
    m_worksheet->setCellFormats(m_workbook.cellFormats());
    return m_worksheet;
}

std::optional<RangeAddress> NativeSheet::usedRange()
{
    Worksheet* ws = worksheet();
    if (!ws)
        return std::nullopt;
    return ws->usedRange();
}

std::optional<RangeAddress> NativeSheet::range(const QString& address)
{
    const auto r = parseRangeAddress(address);
    if (!r)
        m_lastError = QStringLiteral("\"%1\" is not a cell or range address").arg(address);
    return r;
}

std::optional<CellAddress> NativeSheet::cell(int row, int column)
{
    const CellAddress c{row, column};
    if (!c.isValid()) {
        m_lastError = QStringLiteral("row %1, column %2 lies outside the sheet").arg(row).arg(column);
        return std::nullopt;
    }
    return c;
}

std::optional<CellAddress> NativeSheet::find(const RangeAddress& in, const FindQuery& query,
                                             std::optional<CellAddress> after)
{
    Worksheet* ws = worksheet();
    if (!ws)
        return std::nullopt;
    const CellAddress start = after.value_or(in.topLeft());
    if (!in.contains(start)) {
        m_lastError = QStringLiteral("the start cell lies outside the searched range");
        return std::nullopt;
    }
    const SearchPattern pattern(query.what, query.lookAt == LookAt::Whole);
    if (pattern.isEmpty())
        return std::nullopt;
    const auto matches = [&](const GridCell& c, int row) {
        const QString text = query.lookIn == LookIn::Values ? ws->displayText(c) : ws->formulaBarText(c, row);
        return pattern.matches(text);
    };
    // Cells after the start to the end of the range, then from the top to the start itself.
    const auto& rows = ws->grid().rows();
    for (auto it = ws->grid().rowAtOrAfter(start.row); it != rows.end() && it->row <= in.lastRow; ++it) {
        const int from = it->row == start.row ? start.column + 1 : in.firstColumn;
        for (const GridCell& c : it->cells) {
            if (c.column >= from && c.column <= in.lastColumn && matches(c, it->row))
                return CellAddress{it->row, c.column};
        }
    }
    for (auto it = ws->grid().rowAtOrAfter(in.firstRow); it != rows.end() && it->row <= start.row; ++it) {
        const int to = it->row == start.row ? start.column : in.lastColumn;
        for (const GridCell& c : it->cells) {
            if (c.column >= in.firstColumn && c.column <= to && matches(c, it->row))
                return CellAddress{it->row, c.column};
        }
    }
    return std::nullopt;
}

bool NativeSheet::replace(const RangeAddress& in, const QString& what, const QString& replacement)
{
    Worksheet* ws = worksheet();
    if (!ws)
        return false;
    const SearchPattern pattern(what, false);
    if (pattern.isEmpty())
        return false;
    // Collect first: writing may add cells to the grid being walked.
    struct Change
    {
        CellAddress cell;
        QString text;
    };
    std::vector<Change> changes;
    m_replaceRefusal.clear();
    const auto& rows = ws->grid().rows();
    for (auto it = ws->grid().rowAtOrAfter(in.firstRow); it != rows.end() && it->row <= in.lastRow; ++it) {
        for (const GridCell& c : it->cells) {
            if (c.column < in.firstColumn || c.column > in.lastColumn)
                continue;
            const QString text = ws->formulaBarText(c, it->row);
            if (!pattern.matches(text))
                continue;
            const QString changed = pattern.replaceAll(text, replacement);
            if (changed != text)
                changes.push_back({{it->row, c.column}, changed});
        }
    }
    bool any = false;
    for (const Change& ch : changes) {
        if (!writable(*ws, ch.cell)) {
            m_replaceRefusal =
                QStringLiteral("could not replace in cell %1: %2").arg(cellName(ch.cell), m_lastError);
            continue;
        }
        CellInput input;
        if (!parseTypedInput(ch.text, input))
            continue; // the replacement would break the formula: the cell keeps it
        if (const QString reason = tooLong(input); !reason.isEmpty()) {
            m_replaceRefusal =
                QStringLiteral("could not replace in cell %1: %2").arg(cellName(ch.cell), reason);
            continue;
        }
        if (ws->isInArray(ch.cell.row, ch.cell.column)) {
            if (!ws->isArrayMaster(ch.cell.row, ch.cell.column) || input.kind != CellInput::Kind::Formula)
                continue;
            ws->setArrayFormula(ch.cell.row, ch.cell.column, input.text);
        } else if (!ws->write(ch.cell.row, ch.cell.column, input)) {
            continue;
        }
        any = true;
    }
    if (any)
        m_workbook.contentsChanged();
    return any;
}

CellValue NativeSheet::value(const CellAddress& cell)
{
    Worksheet* ws = worksheet();
    if (!ws || !cell.isValid())
        return CellValue::empty();
    const GridCell* c = ws->grid().find(cell.row, cell.column);
    return c ? ws->value(*c) : CellValue::empty();
}

QString NativeSheet::text(const CellAddress& cell)
{
    Worksheet* ws = worksheet();
    if (!ws || !cell.isValid())
        return {};
    const GridCell* c = ws->grid().find(cell.row, cell.column);
    return c ? ws->displayText(*c) : QString();
}

QString NativeSheet::formula(const CellAddress& cell)
{
    Worksheet* ws = worksheet();
    if (!ws || !cell.isValid())
        return {};
    const GridCell* c = ws->grid().find(cell.row, cell.column);
    return c ? ws->formulaBarText(*c, cell.row) : QString();
}

bool NativeSheet::store(const CellAddress& cell, const QString& text)
{
    Worksheet* ws = worksheet();
    if (!ws)
        return false;
    if (!cell.isValid()) {
        m_lastError = QStringLiteral("the cell lies outside the sheet");
        return false;
    }
    if (!writable(*ws, cell))
        return false;
    CellInput input;
    if (!parseTypedInput(text, input)) {
        m_lastError = QStringLiteral("\"%1\" is not a valid formula").arg(text.left(100));
        return false;
    }
    if (const QString reason = tooLong(input); !reason.isEmpty()) {
        m_lastError = reason;
        return false;
    }
    if (!ws->grid().find(cell.row, cell.column) && input.kind == CellInput::Kind::Empty)
        return true;
    if (!ws->write(cell.row, cell.column, input)) {
        m_lastError = ws->error();
        return false;
    }
    m_workbook.contentsChanged();
    return true;
}

bool NativeSheet::writable(Worksheet& ws, const CellAddress& cell)
{
    if (ws.isProtected() && m_workbook.styleLocked(ws.cellStyle(cell.row, cell.column))) {
        m_lastError = QStringLiteral("the cell is locked on a protected sheet");
        return false;
    }
    return true;
}

bool NativeSheet::setValue(const CellAddress& cell, const QString& text)
{
    return store(cell, text);
}

bool NativeSheet::setFormula(const CellAddress& cell, const QString& text)
{
    return store(cell, text);
}

} // namespace corvane::automation::native
