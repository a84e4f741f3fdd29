// Find and replace under LibreOffice: Calc's search finds the cells, Excel's order and wrap-round
// are laid over it, and replacements are written with the typed-input rules, with texts read and
// formulas written in blocks since every call to the office is a round trip.
#include "libreofficesheet.h"

#include "libreofficeworkbook.h"
#include "wildcardpattern.h"

#include <QRegularExpression>

#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/sheet/CellFlags.hpp>
#include <com/sun/star/sheet/FormulaResult.hpp>
#include <com/sun/star/sheet/XCalculatable.hpp>
#include <com/sun/star/sheet/XCellRangeAddressable.hpp>
#include <com/sun/star/sheet/XCellRangeFormula.hpp>
#include <com/sun/star/sheet/XCellRangesQuery.hpp>
#include <com/sun/star/sheet/XSheetCellRanges.hpp>
#include <com/sun/star/table/CellContentType.hpp>
#include <com/sun/star/text/XTextRange.hpp>
#include <com/sun/star/util/XSearchDescriptor.hpp>
#include <com/sun/star/util/XSearchable.hpp>

#include <algorithm>
#include <limits>
#include <memory>
#include <set>
#include <unordered_set>

using css::uno::Any;
using css::uno::Reference;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;

namespace corvane::automation::libreoffice {

namespace {

// SearchType of Calc's search descriptor.
constexpr sal_Int16 kSearchFormulas = 0;
constexpr sal_Int16 kSearchValues = 1;

// `regex` as made by wildcardToRegex().
Reference<css::util::XSearchDescriptor> descriptorFor(const Reference<css::util::XSearchable>& searchable,
                                                      const QString& regex, sal_Int16 type, bool whole)
{
    Reference<css::util::XSearchDescriptor> desc = searchable->createSearchDescriptor();
    desc->setSearchString(toOUString(regex));
    Reference<css::beans::XPropertySet> props(desc, UNO_QUERY_THROW);
    props->setPropertyValue("SearchByRow", Any(true));
    props->setPropertyValue("SearchBackwards", Any(false));
    props->setPropertyValue("SearchRegularExpression", Any(true));
    props->setPropertyValue("SearchCaseSensitive", Any(false));
    props->setPropertyValue("SearchWords", Any(whole));
    props->setPropertyValue("SearchType", Any(type));
    return desc;
}

bool rowMajorLess(const CellAddress& a, const CellAddress& b)
{
    return a.row != b.row ? a.row < b.row : a.column < b.column;
}

// What Calc is to look for to find, among the texts and formulas a replace finds, those it
// may change; empty when that is all of them. A find text of letters and digits replaced by a
// text as long (a change of letter case, say) leaves a cell alone in which each match already
// is the replacement, letter for letter, and such cells need not be read one at a time only
// to be passed over. The text Calc searches in a text or formula cell differs from the one
// shown here only in characters that are neither letters nor digits (a sheet reference's
// "$Sheet." against "Sheet!"), and the letters and digits of a match never straddle those. A
// number's text may differ in its letters and digits (a date, say), so numbers are not sifted.
QString changingCellsRegex(const QString& what, const QString& replacement)
{
    const bool plainWord =
        std::all_of(what.begin(), what.end(), [](QChar c) { return c.isLetterOrNumber(); });
    if (!plainWord || replacement.size() != what.size())
        return {};
    QString literal;
    for (const QChar c : replacement) {
        if (!c.isLetterOrNumber())
            literal += QLatin1Char('\\');
        literal += c;
    }
    return QStringLiteral("(?!(?-i:") + literal + QStringLiteral("))") + wildcardToRegex(what);
}

// The most cells one block read asks for.
constexpr int kBlockCells = 65536;

// Holds off Calc's recalculation of the formulas that depend on a cell while many cells are
// written, so that they are computed once at the end instead of after every write. A workbook
// set to calculate by hand is left so.
class CalculationPause
{
public:
    explicit CalculationPause(const Reference<css::uno::XInterface>& document)
        : m_calculatable(document, UNO_QUERY)
    {
        if (m_calculatable.is() && m_calculatable->isAutomaticCalculationEnabled())
            m_calculatable->enableAutomaticCalculation(false);
        else
            m_calculatable.clear();
    }
    ~CalculationPause()
    {
        try {
            if (m_calculatable.is())
                m_calculatable->enableAutomaticCalculation(true);
        } catch (const css::uno::Exception&) {
            // The office went away; there is nothing left to recalculate.
        }
    }
    CalculationPause(const CalculationPause&) = delete;
    CalculationPause& operator=(const CalculationPause&) = delete;

private:
    Reference<css::sheet::XCalculatable> m_calculatable;
};

CellAddress topLeftOf(const Reference<css::uno::XInterface>& range)
{
    const Reference<css::sheet::XCellRangeAddressable> addressable(range, UNO_QUERY_THROW);
    const css::table::CellRangeAddress a = addressable->getRangeAddress();
    return {a.StartRow + 1, a.StartColumn + 1};
}

} // namespace

std::optional<CellAddress> LibreOfficeSheet::find(const RangeAddress& in, const FindQuery& query,
                                                  std::optional<CellAddress> after)
{
    if (query.what.isEmpty())
        return std::nullopt;
    try {
        const std::optional<RangeAddress> r = clamp(in);
        if (!r)
            return std::nullopt;
        const CellAddress start = after.value_or(r->topLeft());
        if (!r->contains(start)) {
            m_lastError =
                QStringLiteral("the start cell %1 lies outside %2").arg(cellName(start), rangeName(*r));
            return std::nullopt;
        }
        const Reference<css::table::XCellRange> range = rangeAt(*r);
        const Reference<css::util::XSearchable> searchable(range, UNO_QUERY_THROW);
        const Reference<css::util::XSearchDescriptor> desc = descriptorFor(
            searchable, wildcardToRegex(query.what),
            query.lookIn == LookIn::Values ? kSearchValues : kSearchFormulas, query.lookAt == LookAt::Whole);
        // Calc's findNext neither wraps nor returns its start cell: search after the start,
        // then from the top, which examines the start cell last as Excel does.
        const Reference<css::uno::XInterface> startCell(
            range->getCellByPosition(start.column - r->firstColumn, start.row - r->firstRow),
            UNO_QUERY_THROW);
        const std::vector<CellAddress> extra = extraMatches(range, query);
        std::optional<CellAddress> best;
        const Reference<css::uno::XInterface> next = searchable->findNext(startCell, desc);
        if (next.is())
            best = topLeftOf(next);
        for (const CellAddress& e : extra)
            if (rowMajorLess(start, e) && (!best || rowMajorLess(e, *best)))
                best = e;
        if (best)
            return best;
        const Reference<css::uno::XInterface> first = searchable->findFirst(desc);
        if (first.is())
            best = topLeftOf(first);
        for (const CellAddress& e : extra)
            if (!best || rowMajorLess(e, *best))
                best = e;
        return best;
    } catch (const css::uno::Exception& e) {
        m_lastError = describe(e);
        return std::nullopt;
    }
}

std::vector<CellAddress> LibreOfficeSheet::extraMatches(const Reference<css::table::XCellRange>& range,
                                                        const FindQuery& query)
{
    std::vector<CellAddress> found;
    const bool values = query.lookIn == LookIn::Values;
    // Calc's search passes over cells showing an error, and it sees references to other sheets
    // in its own form ("$Data.A1"); those cells are matched here against what Excel shows.
    if (!values && !query.what.contains(QLatin1Char('!')))
        return found;
    const Reference<css::sheet::XCellRangesQuery> cells(range, UNO_QUERY);
    if (!cells.is())
        return found;
    const Reference<css::sheet::XSheetCellRanges> candidates =
        values ? cells->queryFormulaCells(css::sheet::FormulaResult::ERROR)
               : cells->queryContentCells(css::sheet::CellFlags::FORMULA);
    if (!candidates.is())
        return found;
    const QRegularExpression re = wildcardExpression(query.what, query.lookAt == LookAt::Whole);
    const auto addresses = candidates->getRangeAddresses();
    for (const css::table::CellRangeAddress& a : addresses) {
        for (sal_Int32 row = a.StartRow; row <= a.EndRow; ++row) {
            for (sal_Int32 column = a.StartColumn; column <= a.EndColumn; ++column) {
                const Reference<css::table::XCell> cell = m_sheet->getCellByPosition(column, row);
                const QString text =
                    values ? toQString(Reference<css::text::XTextRange>(cell, UNO_QUERY_THROW)->getString())
                           : cellFormula(cell);
                if (re.match(text).hasMatch())
                    found.push_back({row + 1, column + 1});
            }
        }
    }
    return found;
}

bool LibreOfficeSheet::replace(const RangeAddress& in, const QString& what, const QString& replacement,
                               const CellChanged& changed)
{
    m_replaceRefusal.clear();
    if (what.isEmpty())
        return false;
    // Reported in row-major order once the cells are written, formulas last of all.
    struct Change
    {
        CellAddress address;
        QString before;
        QString now;
    };
    std::vector<Change> changes;
    auto report = [&changes, &changed] {
        std::sort(changes.begin(), changes.end(),
                  [](const Change& a, const Change& b) { return rowMajorLess(a.address, b.address); });
        for (const Change& c : changes)
            if (c.now != c.before)
                changed(c.address, c.before, c.now);
    };
    try {
        const std::optional<RangeAddress> r = clamp(in);
        if (!r)
            return false;
        const Reference<css::util::XSearchable> searchable(rangeAt(*r), UNO_QUERY_THROW);
        const Reference<css::container::XIndexAccess> all =
            searchable->findAll(descriptorFor(searchable, wildcardToRegex(what), kSearchFormulas, false));
        if (!all.is())
            return false;

        // Calc's own replace stores the result of a constant as text and lets a broken
        // formula in; rewriting each found cell here applies the typed-input rules instead.
        std::set<CellAddress, decltype(&rowMajorLess)> cells(&rowMajorLess);
        auto addCells = [&cells](const css::table::CellRangeAddress& a) {
            for (int row = a.StartRow + 1; row <= a.EndRow + 1; ++row)
                for (int column = a.StartColumn + 1; column <= a.EndColumn + 1; ++column)
                    cells.insert({row, column});
        };
        // Each call to the office is a round trip between two processes, so the found cells
        // come as one list and the texts among them are read in blocks. A formula is still
        // read by calls of its own, since only the cell gives the text Calc shows for it, but
        // the new formulas are written in blocks (enterFormulas()).
        std::unordered_map<qint64, QString> texts;
        std::unordered_set<qint64> passOver; // texts and formulas Calc sees nothing to change in
        // Writing a block clears the notes of its cells with their content, so formulas with a
        // note are written one at a time.
        std::unordered_set<qint64> annotated;
        std::unordered_set<qint64> formulaCells;
        bool inBlocks = false;
        const Reference<css::sheet::XSheetCellRanges> found(all, UNO_QUERY);
        const Reference<css::sheet::XCellRangesQuery> kinds(all, UNO_QUERY);
        if (found.is() && kinds.is()) {
            for (const css::table::CellRangeAddress& a : found->getRangeAddresses())
                addCells(a);
            const Reference<css::sheet::XSheetCellRanges> textCells =
                kinds->queryContentCells(css::sheet::CellFlags::STRING);
            if (textCells.is())
                texts = inputStrings(textCells->getRangeAddresses());
            const Reference<css::sheet::XSheetCellRanges> noted =
                kinds->queryContentCells(css::sheet::CellFlags::ANNOTATION);
            if (noted.is()) {
                forEachCell(noted->getRangeAddresses(),
                            [&annotated](int row, int column) { annotated.insert(cellKey(row, column)); });
                inBlocks = true;
            }
            const Reference<css::sheet::XSheetCellRanges> formulaRanges =
                kinds->queryContentCells(css::sheet::CellFlags::FORMULA);
            if (formulaRanges.is())
                forEachCell(formulaRanges->getRangeAddresses(), [&formulaCells](int row, int column) {
                    formulaCells.insert(cellKey(row, column));
                });
            const QString changing = changingCellsRegex(what, replacement);
            if (!changing.isEmpty()) {
                const Reference<css::sheet::XSheetCellRanges> changingCells(
                    searchable->findAll(descriptorFor(searchable, changing, kSearchFormulas, false)),
                    UNO_QUERY);
                std::unordered_set<qint64> mayChange;
                if (changingCells.is())
                    forEachCell(changingCells->getRangeAddresses(), [&mayChange](int row, int column) {
                        mayChange.insert(cellKey(row, column));
                    });
                for (const auto& text : texts)
                    if (mayChange.count(text.first) == 0)
                        passOver.insert(text.first);
                for (const qint64 key : formulaCells)
                    if (mayChange.count(key) == 0)
                        passOver.insert(key);
            }
        } else {
            for (sal_Int32 i = 0; i < all->getCount(); ++i) {
                const Reference<css::sheet::XCellRangeAddressable> range(all->getByIndex(i), UNO_QUERY_THROW);
                addCells(range->getRangeAddress());
            }
        }
        for (const CellAddress& extra : extraMatches(rangeAt(*r), {what, LookIn::Formulas, LookAt::Part}))
            cells.insert(extra);

        const QRegularExpression pattern = wildcardExpression(what, false);
        const bool guarded = sheetProtected();
        std::unique_ptr<CalculationPause> pause;
        bool any = false;
        std::vector<CellAddress> failed;
        QString lockedCells;
        std::vector<FormulaWrite> formulas; // written together after the other cells
        for (const CellAddress& address : cells) {
            if (passOver.count(cellKey(address.row, address.column)) != 0)
                continue;
            Reference<css::table::XCell> cell;
            Content before;
            const auto text = texts.find(cellKey(address.row, address.column));
            if (text != texts.end()) {
                before.type = css::table::CellContentType_TEXT;
                before.text = text->second.startsWith(QLatin1Char('\'')) ? text->second.mid(1) : text->second;
            } else if (formulaCells.count(cellKey(address.row, address.column)) != 0) {
                cell = cellAt(address);
                before.type = css::table::CellContentType_FORMULA;
                before.props.set(cell, UNO_QUERY_THROW);
                before.text = formulaText(before.props);
            } else {
                cell = cellAt(address);
                before = content(cell);
            }
            const QString after = replaceMatches(before.text, pattern, replacement);
            if (after == before.text)
                continue;
            if (!cell.is())
                cell = cellAt(address);
            if (guarded && cellLocked(cell)) {
                lockedCells = cellName(address);
                continue;
            }
            // Formulas that depend on the rewritten cells are computed once, after the last.
            if (!pause)
                pause = std::make_unique<CalculationPause>(m_workbook->document());
            if (inBlocks && before.type == css::table::CellContentType_FORMULA &&
                annotated.count(cellKey(address.row, address.column)) == 0) {
                formulas.push_back({address, cell, after, before});
                continue;
            }
            if (enter(cell, after, &before)) {
                any = true;
                // Read back: what the cell now holds, not what was typed into it.
                if (changed)
                    changes.push_back({address, before.text, cellFormula(cell)});
            } else
                failed.push_back(address);
        }
        if (!formulas.empty()) {
            enterFormulas(formulas);
            for (const FormulaWrite& f : formulas) {
                if (!f.written) {
                    failed.push_back(f.address);
                    continue;
                }
                if (f.same)
                    continue; // nothing written: the workbook is not saved for it
                any = true;
                if (changed)
                    changes.push_back({f.address, f.before.text, formulaText(f.before.props)});
            }
        }
        report();
        const QString failures =
            failed.empty() ? QString()
                           : cellName(*std::max_element(failed.begin(), failed.end(), rowMajorLess));
        if (!failures.isEmpty())
            m_lastError =
                QStringLiteral("the replacement would make the formula in %1 invalid; left unchanged")
                    .arg(failures);
        else if (!lockedCells.isEmpty())
            m_lastError =
                QStringLiteral("the cell %1 is locked on a protected sheet; left unchanged").arg(lockedCells);
        // Reported like the engine's refusal, so that a workbook whose every hit was locked is
        // not counted as changed.
        if (!lockedCells.isEmpty())
            m_replaceRefusal =
                QStringLiteral("could not replace in cell %1: the cell is locked on a protected sheet")
                    .arg(lockedCells);
        return any;
    } catch (const css::uno::Exception& e) {
        m_lastError = describe(e);
        report();
        return false;
    }
}

std::unordered_map<qint64, QString>
LibreOfficeSheet::inputStrings(const css::uno::Sequence<css::table::CellRangeAddress>& ranges)
{
    std::unordered_map<qint64, QString> strings;
    std::vector<std::pair<int, int>> cells; // 0-based row and column
    int left = std::numeric_limits<int>::max();
    int right = -1;
    for (const css::table::CellRangeAddress& a : ranges) {
        for (sal_Int32 row = a.StartRow; row <= a.EndRow; ++row)
            for (sal_Int32 column = a.StartColumn; column <= a.EndColumn; ++column)
                cells.emplace_back(row, column);
        left = std::min(left, static_cast<int>(a.StartColumn));
        right = std::max(right, static_cast<int>(a.EndColumn));
    }
    if (cells.empty())
        return strings;
    std::sort(cells.begin(), cells.end());
    // Rows of the columns that hold the cells, as many at a time as keep a block small enough
    // for one message; rows in between that hold none of them are read along.
    const int bandRows = std::max(1, kBlockCells / (right - left + 1));
    size_t i = 0;
    while (i < cells.size()) {
        const int top = cells[i].first;
        size_t j = i;
        while (j < cells.size() && cells[j].first < top + bandRows)
            ++j;
        const int bottom = cells[j - 1].first;
        const Reference<css::sheet::XCellRangeFormula> block(
            m_sheet->getCellRangeByPosition(left, top, right, bottom), UNO_QUERY_THROW);
        const css::uno::Sequence<css::uno::Sequence<rtl::OUString>> rows = block->getFormulaArray();
        for (; i < j; ++i) {
            const auto [row, column] = cells[i];
            if (row - top < rows.getLength() && column - left < rows[row - top].getLength())
                strings.emplace(cellKey(row + 1, column + 1), toQString(rows[row - top][column - left]));
        }
    }
    return strings;
}

} // namespace corvane::automation::libreoffice
