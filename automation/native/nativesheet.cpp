#include "nativesheet.h"

#include "deferredlines.h"
#include "nativeworkbook.h"
#include "package.h"
#include "sharedstrings.h"
#include "text/searchpattern.h"
#include "worksheet.h"

#include <algorithm>
#include <map>
#include <set>

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

NativeSheet::~NativeSheet() = default;

Worksheet* NativeSheet::worksheet()
{
    // Deletions kept aside, here or on another sheet, go into the package before any look at
    // cells: they move cells of this sheet or the references in it.
    m_workbook.settle();
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
    // Between line edits kept aside, the sheet as it was answers where it can.
    if (m_deferred && m_worksheet) {
        const CellAddress start = after.value_or(in.topLeft());
        if (!in.contains(start)) {
            m_lastError = QStringLiteral("the start cell lies outside the searched range");
            return std::nullopt;
        }
        bool answered = false;
        const std::optional<CellAddress> found = findBeforeEdits(in, query, start, answered);
        if (answered)
            return found;
    } else {
        m_searchesNeedEdits = query.lookIn == LookIn::Formulas && searchKey(query) == m_keyNeedingEdits;
    }
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
    // Cells whose text cannot match are not turned into text.
    const bool formulas = query.lookIn == LookIn::Formulas;
    const bool numbers = !formulas || pattern.mayMatchNumberText();
    const std::vector<bool>* strings = formulas ? storedMatches(query.what, pattern) : nullptr;
    const bool stored = formulas && pattern.needsStoredText();
    static const std::vector<std::size_t> kNowhere;
    const std::vector<std::size_t>& places = stored ? ws->bytePlaces(pattern) : kNowhere;
    const auto matches = [&](const GridCell& c, int row) {
        // A find text that needs stored text matches no number: the first test covers both.
        if (stored ? !ws->mayMatch(c, row, pattern, strings, places)
                   : !numbers && ws->isNumberConstant(c, row))
            return false;
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

void NativeSheet::releaseUnchanged()
{
    if (!m_worksheet || m_worksheet->isDirty())
        return;
    m_worksheet = nullptr;
    m_workbook.package().unload(m_partName);
}

Worksheet* NativeSheet::worksheetQuietly()
{
    m_workbook.settle();
    if (m_worksheet || !m_hasGrid)
        return m_worksheet;
    QString error;
    SharedStrings* strings = m_workbook.sharedStrings(error);
    if (!error.isEmpty())
        return nullptr;
    m_worksheet = m_workbook.package().part<Worksheet>(m_partName);
    if (m_worksheet)
        m_worksheet->setSharedStrings(strings);
    return m_worksheet;
}

const std::vector<bool>* NativeSheet::storedMatches(const QString& what, const SearchPattern& pattern)
{
    if (!pattern.needsStoredText())
        return nullptr;
    const NativeWorkbook::StringMatches* m = m_workbook.sharedStringMatches(what, pattern);
    return m ? &m->byIndex : nullptr;
}

bool NativeSheet::mayHold(const QString& what)
{
    // A parsed sheet may hold edits; a sheet without cells is for the usual path to pass over.
    if (m_worksheet || !m_hasGrid)
        return true;
    const SearchPattern pattern(what, false);
    if (!pattern.needsStoredText())
        return true;
    QString error;
    m_workbook.sharedStrings(error);
    if (!error.isEmpty())
        return true;
    const NativeWorkbook::StringMatches* strings = m_workbook.sharedStringMatches(what, pattern);
    if (strings && strings->any)
        return true;
    Package& package = m_workbook.package();
    std::string data;
    if (!package.read(m_partName, data))
        return true; // the usual path reports why
    const bool may =
        pattern.mayBeIn(data) || data.find("shared") != std::string::npos || Worksheet::holdsTextRuns(data);
    package.keepRead(m_partName, std::move(data));
    // Parsed all the same, so that a damaged part is reported just as when it is searched; only
    // the walk over its cells is saved.
    return !worksheet() || may;
}

bool NativeSheet::replace(const RangeAddress& in, const QString& what, const QString& replacement,
                          const CellChanged& changed)
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
        QString before;
    };
    std::vector<Change> changes;
    m_replaceRefusal.clear();
    const bool numbers = pattern.mayMatchNumberText();
    const std::vector<bool>* matching = storedMatches(what, pattern);
    const bool stored = pattern.needsStoredText();
    static const std::vector<std::size_t> kNowhere;
    const std::vector<std::size_t>& places = stored ? ws->bytePlaces(pattern) : kNowhere;
    // The shared strings the cells the walk cannot pass over refer to: every cell that refers
    // to a matching string is among them, so over a whole sheet this counts its uses.
    std::map<int, int> seen;
    size_t walked = 0;
    const auto& rows = ws->grid().rows();
    for (auto it = ws->grid().rowAtOrAfter(in.firstRow); it != rows.end() && it->row <= in.lastRow; ++it) {
        for (const GridCell& c : it->cells) {
            if (c.column < in.firstColumn || c.column > in.lastColumn)
                continue;
            ++walked;
            if (stored ? !ws->mayMatch(c, it->row, pattern, matching, places)
                       : !numbers && ws->isNumberConstant(c, it->row))
                continue;
            if (const int index = stored && matching ? ws->sharedStringIndex(c, true) : -1; index >= 0)
                ++seen[index];
            const QString text = ws->formulaBarText(c, it->row);
            if (!pattern.matches(text))
                continue;
            const QString after = pattern.replaceAll(text, replacement);
            if (after != text)
                changes.push_back({{it->row, c.column}, after, text});
        }
    }
    // A shared string whose every cell takes the same new text is changed in place, and the
    // sheets stay as they are; one that other cells still show is left to them (copy on write).
    QString error;
    SharedStrings* strings = m_workbook.sharedStrings(error);
    std::map<int, std::pair<QString, int>> inPlace; // string: new text, cells taking it
    std::vector<int> stringOf(changes.size(), -1);
    if (strings) {
        std::set<int> mixed;
        for (size_t i = 0; i < changes.size(); ++i) {
            const Change& ch = changes[i];
            const GridCell* c = ws->grid().find(ch.cell.row, ch.cell.column);
            const int index = c ? ws->sharedStringIndex(*c) : -1;
            CellInput input;
            // A locked cell of a protected sheet keeps its string: it is refused below.
            if (index < 0 || !strings->isPlain(index) || ws->isInArray(ch.cell.row, ch.cell.column) ||
                !writable(*ws, ch.cell) || !parseTypedInput(ch.text, input) ||
                input.kind != CellInput::Kind::Text || input.text != ch.text ||
                input.text.size() > 32767) // write() refuses it
                continue;
            stringOf[i] = index;
            auto [it, fresh] = inPlace.emplace(index, std::make_pair(ch.text, 0));
            ++it->second.second;
            if (!fresh && it->second.first != ch.text)
                mixed.insert(index);
        }
        for (int index : mixed)
            inPlace.erase(index);
        std::map<int, int> uses;
        for (const auto& [index, change] : inPlace)
            uses.emplace(index, 0);
        // Cells the walk passed over refer to no matching string; with every cell of the sheet
        // walked, only the other sheets are left to count.
        size_t cells = 0;
        for (const GridRow& row : rows)
            cells += row.cells.size();
        const bool counted = stored && matching && walked == cells;
        if (counted) {
            for (auto& [index, count] : uses)
                count = seen.count(index) ? seen[index] : 0;
        }
        if (!uses.empty() && !m_workbook.sharedStringUses(uses, counted ? ws : nullptr))
            inPlace.clear();
        for (const auto& [index, count] : uses) {
            if (inPlace.count(index) && inPlace[index].second != count)
                inPlace.erase(index);
        }
    }
    bool any = false;
    std::vector<std::size_t> applied;
    for (const auto& [index, change] : inPlace) {
        strings->setText(index, change.first);
        any = true;
    }
    if (!inPlace.empty())
        m_workbook.sharedStringEdited();
    for (size_t i = 0; i < changes.size(); ++i) {
        const Change& ch = changes[i];
        if (stringOf[i] >= 0 && inPlace.count(stringOf[i])) {
            applied.push_back(i);
            continue;
        }
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
        applied.push_back(i);
        any = true;
    }
    if (any)
        m_workbook.contentsChanged();
    if (changed) {
        // Read back: what the cell now holds, not what was typed into it.
        std::sort(applied.begin(), applied.end());
        for (const std::size_t i : applied) {
            const Change& ch = changes[i];
            const GridCell* c = ws->grid().find(ch.cell.row, ch.cell.column);
            const QString now = c ? ws->formulaBarText(*c, ch.cell.row) : QString();
            if (now != ch.before)
                changed(ch.cell, ch.before, now);
        }
    }
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
