#include "libreofficesheet.h"

#include "libreofficeworkbook.h"
#include "typedinput.h"
#include "wildcardpattern.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QThread>
#include <QUrl>

#include <com/sun/star/awt/Size.hpp>
#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/container/XNamed.hpp>
#include <com/sun/star/drawing/XDrawPageSupplier.hpp>
#include <com/sun/star/drawing/XShape.hpp>
#include <com/sun/star/graphic/GraphicProvider.hpp>
#include <com/sun/star/graphic/XGraphic.hpp>
#include <com/sun/star/graphic/XGraphicProvider.hpp>
#include <com/sun/star/lang/XMultiServiceFactory.hpp>
#include <com/sun/star/lang/XServiceInfo.hpp>
#include <com/sun/star/sheet/CellFlags.hpp>
#include <com/sun/star/sheet/FormulaResult.hpp>
#include <com/sun/star/sheet/XCalculatable.hpp>
#include <com/sun/star/sheet/XCellAddressable.hpp>
#include <com/sun/star/sheet/XCellRangeAddressable.hpp>
#include <com/sun/star/sheet/XCellRangeFormula.hpp>
#include <com/sun/star/sheet/XCellRangesQuery.hpp>
#include <com/sun/star/sheet/XDataPilotDescriptor.hpp>
#include <com/sun/star/sheet/XDataPilotTable.hpp>
#include <com/sun/star/sheet/XDataPilotTablesSupplier.hpp>
#include <com/sun/star/sheet/XSheetCellCursor.hpp>
#include <com/sun/star/sheet/XSheetCellRanges.hpp>
#include <com/sun/star/sheet/XSpreadsheetDocument.hpp>
#include <com/sun/star/sheet/XUsedAreaCursor.hpp>
#include <com/sun/star/table/CellContentType.hpp>
#include <com/sun/star/table/XColumnRowRange.hpp>
#include <com/sun/star/table/XTableColumns.hpp>
#include <com/sun/star/table/XTableRows.hpp>
#include <com/sun/star/text/XTextRange.hpp>
#include <com/sun/star/util/CellProtection.hpp>
#include <com/sun/star/util/NumberFormat.hpp>
#include <com/sun/star/util/XProtectable.hpp>
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

// LibreOffice's codes for formulas that do not parse (as opposed to errors of evaluation).
bool isSyntaxError(sal_Int32 code)
{
    switch (code) {
    case 501: // invalid character
    case 504: // error in parameter list
    case 507: // missing pair
    case 508: // missing bracket
    case 509: // missing operator
    case 510: // missing variable
    case 511: // missing variable
    case 512: // formula overflow
    case 516: // internal syntactical errors
    case 517:
    case 518:
    case 520:
        return true;
    default:
        return false;
    }
}

// Calc quietly closes parentheses a formula left open ("=SUM(" becomes "=SUM()"); Excel refuses
// such a formula, and so do we.
bool parenthesesBalance(const QString& formula)
{
    int depth = 0;
    bool quoted = false;
    for (const QChar c : formula) {
        if (c == QLatin1Char('"'))
            quoted = !quoted;
        else if (!quoted && c == QLatin1Char('('))
            ++depth;
        else if (!quoted && c == QLatin1Char(')') && --depth < 0)
            return false;
    }
    return depth == 0 && !quoted;
}

// Calc prints a reference to another sheet its own way ("$Data.A3", "$'My sheet'.A1:B2") even
// when told to use Excel's syntax; it reads Excel's form ("Data!A3") fine. Rewrite the sheet part
// outside string literals so formulas read the way Excel shows them.
QString excelSheetReferences(const QString& formula)
{
    static const QRegularExpression sheetRef(
        QStringLiteral("(?<![\\w.'\\]])\\$?('(?:[^']|'')+'|[^\\W\\d][\\w]*)\\.(?=\\$?[A-Za-z]{1,3}\\$?[0-9]|"
                       "\\$?[A-Za-z]{1,3}:|\\$?[0-9]+:|#REF!)"));
    QString result;
    int i = 0;
    while (i < formula.size()) {
        const int quote = formula.indexOf(QLatin1Char('"'), i);
        const int end = quote < 0 ? formula.size() : quote;
        result += formula.mid(i, end - i).replace(sheetRef, QStringLiteral("\\1!"));
        if (quote < 0)
            break;
        const int close = formula.indexOf(QLatin1Char('"'), quote + 1);
        const int stop = close < 0 ? formula.size() : close + 1;
        result += formula.mid(quote, stop - quote);
        i = stop;
    }
    return result;
}

// LibreOffice keeps the boolean constants of .xls and .xlsx files as these formulas.
QString booleanConstant(const QString& formula)
{
    if (formula.compare(QLatin1String("=TRUE()"), Qt::CaseInsensitive) == 0)
        return QStringLiteral("TRUE");
    if (formula.compare(QLatin1String("=FALSE()"), Qt::CaseInsensitive) == 0)
        return QStringLiteral("FALSE");
    return {};
}

// SearchType of Calc's search descriptor.
constexpr sal_Int16 kSearchFormulas = 0;
constexpr sal_Int16 kSearchValues = 1;

// FormulaResultType2 of a formula cell.
constexpr sal_Int32 kResultString = 2;

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

// A cell's place as one number, for finding what a block read returned for it.
qint64 cellKey(int row, int column)
{
    return (static_cast<qint64>(row) << 24) | column;
}

// Calls `f` with the 1-based row and column of every cell of `ranges`.
template <typename F> void forEachCell(const css::uno::Sequence<css::table::CellRangeAddress>& ranges, F f)
{
    for (const css::table::CellRangeAddress& a : ranges)
        for (sal_Int32 row = a.StartRow; row <= a.EndRow; ++row)
            for (sal_Int32 column = a.StartColumn; column <= a.EndColumn; ++column)
                f(row + 1, column + 1);
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

LibreOfficeSheet::LibreOfficeSheet(LibreOfficeWorkbook* workbook, Reference<css::sheet::XSpreadsheet> sheet)
    : m_workbook(workbook), m_sheet(std::move(sheet))
{
}

QString LibreOfficeSheet::name() const
{
    try {
        const Reference<css::container::XNamed> named(m_sheet, UNO_QUERY_THROW);
        return toQString(named->getName());
    } catch (const css::uno::Exception& e) {
        m_lastError = describe(e);
        return {};
    }
}

bool LibreOfficeSheet::limits(int* rows, int* columns)
{
    if (m_rows == 0) {
        const Reference<css::table::XColumnRowRange> grid(m_sheet, UNO_QUERY_THROW);
        m_rows = grid->getRows()->getCount();
        m_columns = grid->getColumns()->getCount();
    }
    *rows = m_rows;
    *columns = m_columns;
    return m_rows > 0 && m_columns > 0;
}

std::optional<RangeAddress> LibreOfficeSheet::clamp(const RangeAddress& range)
{
    int rows = 0;
    int columns = 0;
    if (!limits(&rows, &columns) || range.firstRow < 1 || range.firstColumn < 1 || range.firstRow > rows ||
        range.firstColumn > columns || range.lastRow < range.firstRow ||
        range.lastColumn < range.firstColumn) {
        m_lastError = QStringLiteral("range %1 lies outside the sheet").arg(rangeName(range));
        return std::nullopt;
    }
    RangeAddress r = range;
    r.lastRow = std::min(r.lastRow, rows);
    r.lastColumn = std::min(r.lastColumn, columns);
    return r;
}

bool LibreOfficeSheet::editLine(bool row, int index, bool insert)
{
    try {
        int rows = 0;
        int columns = 0;
        if (!limits(&rows, &columns) || index < 1 || index > (row ? rows : columns)) {
            m_lastError = QStringLiteral("%1 %2 lies outside the sheet")
                              .arg(row ? QStringLiteral("row") : QStringLiteral("column"))
                              .arg(index);
            return false;
        }
        // Refused as the engine refuses them, before anything moves; Calc itself would move
        // a pivot table's source under it, and a refusal of its own comes as a bare exception.
        const QString refusal = lineEditRefusal(row, index);
        if (!refusal.isEmpty()) {
            m_lastError = refusal;
            m_workbook->noteFailedEdit(refusal);
            return false;
        }
        const Reference<css::table::XColumnRowRange> grid(m_sheet, UNO_QUERY_THROW);
        if (row) {
            const Reference<css::table::XTableRows> lines = grid->getRows();
            insert ? lines->insertByIndex(index - 1, 1) : lines->removeByIndex(index - 1, 1);
        } else {
            // Calc recomputes the automatic row heights after a column edit, which moves every
            // drawing object below a changed row up or down; Excel keeps the rows as they are.
            const std::vector<sal_Int32> heights = rowHeightsAboveDrawings();
            const Reference<css::table::XTableColumns> lines = grid->getColumns();
            insert ? lines->insertByIndex(index - 1, 1) : lines->removeByIndex(index - 1, 1);
            restoreRowHeights(heights);
        }
        return true;
    } catch (const css::uno::Exception& e) {
        m_lastError = describe(e);
        m_workbook->noteFailedEdit(m_lastError);
        return false;
    }
}

std::vector<sal_Int32> LibreOfficeSheet::rowHeightsAboveDrawings()
{
    sal_Int32 bottom = -1;
    for (const Reference<css::drawing::XShape>& shape : drawingObjects())
        bottom = std::max(bottom, shape->getPosition().Y + shape->getSize().Height);
    std::vector<sal_Int32> heights;
    if (bottom < 0)
        return heights;
    int rows = 0;
    int columns = 0;
    limits(&rows, &columns);
    const Reference<css::table::XColumnRowRange> grid(m_sheet, UNO_QUERY_THROW);
    const Reference<css::container::XIndexAccess> lines(grid->getRows(), UNO_QUERY_THROW);
    sal_Int32 top = 0;
    for (int r = 0; r < rows && top <= bottom; ++r) {
        const Reference<css::beans::XPropertySet> line(lines->getByIndex(r), UNO_QUERY_THROW);
        sal_Int32 height = 0;
        line->getPropertyValue("Height") >>= height;
        heights.push_back(height);
        top += height;
    }
    return heights;
}

void LibreOfficeSheet::restoreRowHeights(const std::vector<sal_Int32>& heights)
{
    const Reference<css::table::XColumnRowRange> grid(m_sheet, UNO_QUERY_THROW);
    const Reference<css::container::XIndexAccess> lines(grid->getRows(), UNO_QUERY_THROW);
    for (size_t r = 0; r < heights.size(); ++r) {
        const Reference<css::beans::XPropertySet> line(lines->getByIndex(sal_Int32(r)), UNO_QUERY_THROW);
        sal_Int32 height = 0;
        line->getPropertyValue("Height") >>= height;
        if (height != heights[r])
            line->setPropertyValue("Height", Any(heights[r]));
    }
}

QString LibreOfficeSheet::lineEditRefusal(bool row, int index)
{
    const QString what = row ? QStringLiteral("rows") : QStringLiteral("columns");
    const Reference<css::util::XProtectable> protectable(m_sheet, UNO_QUERY);
    if (protectable.is() && protectable->isProtected())
        return QStringLiteral("the sheet is protected against changing its %1").arg(what);
    // An edit at or before a range's last line moves or cuts it.
    const auto touches = [row, index](const css::table::CellRangeAddress& a) {
        return index - 1 <= (row ? a.EndRow : a.EndColumn);
    };
    const sal_Int16 here = sheetIndex();
    const Reference<css::sheet::XSpreadsheetDocument> doc(m_workbook->document(), UNO_QUERY_THROW);
    const Reference<css::container::XIndexAccess> sheets(doc->getSheets(), UNO_QUERY_THROW);
    for (sal_Int32 i = 0; i < sheets->getCount(); ++i) {
        const Reference<css::sheet::XDataPilotTablesSupplier> supplier(sheets->getByIndex(i), UNO_QUERY);
        if (!supplier.is())
            continue;
        const Reference<css::container::XIndexAccess> tables(supplier->getDataPilotTables(), UNO_QUERY);
        for (sal_Int32 t = 0; tables.is() && t < tables->getCount(); ++t) {
            const Reference<css::sheet::XDataPilotTable> table(tables->getByIndex(t), UNO_QUERY);
            const Reference<css::sheet::XDataPilotDescriptor> descriptor(table, UNO_QUERY);
            if (table.is() && i == here && touches(table->getOutputRange()))
                return QStringLiteral("a pivot table on the sheet lies in the way");
            if (descriptor.is()) {
                const css::table::CellRangeAddress source = descriptor->getSourceRange();
                if (source.Sheet == here && touches(source))
                    return QStringLiteral("the edit would change the source range of a pivot table");
            }
        }
    }
    return {};
}

sal_Int16 LibreOfficeSheet::sheetIndex()
{
    const Reference<css::sheet::XCellRangeAddressable> addressable(m_sheet, UNO_QUERY_THROW);
    return addressable->getRangeAddress().Sheet;
}

bool LibreOfficeSheet::sheetProtected()
{
    const Reference<css::util::XProtectable> protectable(m_sheet, UNO_QUERY);
    return protectable.is() && protectable->isProtected();
}

bool LibreOfficeSheet::locked(const Reference<css::table::XCell>& cell)
{
    return sheetProtected() && cellLocked(cell);
}

bool LibreOfficeSheet::cellLocked(const Reference<css::table::XCell>& cell)
{
    const Reference<css::beans::XPropertySet> props(cell, UNO_QUERY_THROW);
    css::util::CellProtection protection;
    return !(props->getPropertyValue("CellProtection") >>= protection) || protection.IsLocked;
}

Reference<css::table::XCell> LibreOfficeSheet::cellAt(const CellAddress& cell)
{
    return m_sheet->getCellByPosition(cell.column - 1, cell.row - 1);
}

Reference<css::table::XCellRange> LibreOfficeSheet::rangeAt(const RangeAddress& range)
{
    return m_sheet->getCellRangeByPosition(range.firstColumn - 1, range.firstRow - 1, range.lastColumn - 1,
                                           range.lastRow - 1);
}

std::optional<RangeAddress> LibreOfficeSheet::usedRange()
{
    try {
        const Reference<css::sheet::XSheetCellCursor> cursor = m_sheet->createCursor();
        const Reference<css::sheet::XUsedAreaCursor> used(cursor, UNO_QUERY_THROW);
        used->gotoStartOfUsedArea(false);
        used->gotoEndOfUsedArea(true);
        const Reference<css::sheet::XCellRangeAddressable> addressable(cursor, UNO_QUERY_THROW);
        const css::table::CellRangeAddress a = addressable->getRangeAddress();
        return RangeAddress{a.StartRow + 1, a.StartColumn + 1, a.EndRow + 1, a.EndColumn + 1};
    } catch (const css::uno::Exception& e) {
        m_lastError = describe(e);
        return std::nullopt;
    }
}

std::optional<RangeAddress> LibreOfficeSheet::range(const QString& address)
{
    const std::optional<RangeAddress> parsed = parseRangeAddress(address);
    if (!parsed)
        m_lastError = QStringLiteral("\"%1\" is not a cell or range address").arg(address);
    return parsed;
}

std::optional<CellAddress> LibreOfficeSheet::cell(int row, int column)
{
    const CellAddress address{row, column};
    if (address.isValid())
        return address;
    m_lastError = QStringLiteral("cell (%1, %2) lies outside the sheet").arg(row).arg(column);
    return std::nullopt;
}

bool LibreOfficeSheet::reachable(const CellAddress& address)
{
    int rows = 0;
    int columns = 0;
    if (address.isValid() && limits(&rows, &columns) && address.row <= rows && address.column <= columns)
        return true;
    m_lastError = QStringLiteral("cell %1 lies beyond what LibreOffice's sheet holds").arg(cellName(address));
    return false;
}

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
        auto rowMajor = [](const CellAddress& a, const CellAddress& b) {
            return a.row != b.row ? a.row < b.row : a.column < b.column;
        };
        std::set<CellAddress, decltype(rowMajor)> cells(rowMajor);
        auto addCells = [&cells](const css::table::CellRangeAddress& a) {
            for (int row = a.StartRow + 1; row <= a.EndRow + 1; ++row)
                for (int column = a.StartColumn + 1; column <= a.EndColumn + 1; ++column)
                    cells.insert({row, column});
        };
        // Each call to the office is a round trip between two processes, so the found cells
        // come as one list and the texts among them are read in blocks. A formula still takes
        // calls of its own: only the cell gives the text Calc shows for it.
        std::unordered_map<qint64, QString> texts;
        std::unordered_set<qint64> passOver; // texts and formulas Calc sees nothing to change in
        const Reference<css::sheet::XSheetCellRanges> found(all, UNO_QUERY);
        const Reference<css::sheet::XCellRangesQuery> kinds(all, UNO_QUERY);
        if (found.is() && kinds.is()) {
            for (const css::table::CellRangeAddress& a : found->getRangeAddresses())
                addCells(a);
            const Reference<css::sheet::XSheetCellRanges> textCells =
                kinds->queryContentCells(css::sheet::CellFlags::STRING);
            if (textCells.is())
                texts = inputStrings(textCells->getRangeAddresses());
            const QString changing = changingCellsRegex(what, replacement);
            if (!changing.isEmpty()) {
                const Reference<css::sheet::XSheetCellRanges> formulaCells =
                    kinds->queryContentCells(css::sheet::CellFlags::FORMULA);
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
                if (formulaCells.is())
                    forEachCell(formulaCells->getRangeAddresses(), [&](int row, int column) {
                        if (mayChange.count(cellKey(row, column)) == 0)
                            passOver.insert(cellKey(row, column));
                    });
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
        QString failures;
        QString lockedCells;
        for (const CellAddress& address : cells) {
            if (passOver.count(cellKey(address.row, address.column)) != 0)
                continue;
            Reference<css::table::XCell> cell;
            Content before;
            const auto text = texts.find(cellKey(address.row, address.column));
            if (text != texts.end()) {
                before.type = css::table::CellContentType_TEXT;
                before.text = text->second.startsWith(QLatin1Char('\'')) ? text->second.mid(1) : text->second;
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
            if (enter(cell, after, &before)) {
                any = true;
                if (changed) {
                    // Read back: what the cell now holds, not what was typed into it.
                    const QString now = cellFormula(cell);
                    if (now != before.text)
                        changed(address, before.text, now);
                }
            } else
                failures = cellName(address);
        }
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

QString LibreOfficeSheet::textContent(const Reference<css::table::XCell>& cell)
{
    // The cell's string shows through its number format ("Item: "@ puts a prefix in front);
    // the formula text is the string itself, with an apostrophe in front of any that would not
    // be read back as text.
    QString text = toQString(cell->getFormula());
    if (text.startsWith(QLatin1Char('\'')))
        text.remove(0, 1);
    return text;
}

QString LibreOfficeSheet::cellFormula(const Reference<css::table::XCell>& cell)
{
    return content(cell).text;
}

LibreOfficeSheet::Content LibreOfficeSheet::content(const Reference<css::table::XCell>& cell)
{
    Content c;
    c.type = cell->getType();
    switch (c.type) {
    case css::table::CellContentType_TEXT:
        c.text = textContent(cell);
        break;
    case css::table::CellContentType_FORMULA: {
        c.props.set(cell, UNO_QUERY_THROW);
        rtl::OUString formula;
        c.props->getPropertyValue("FormulaLocal") >>= formula;
        const QString text = excelSheetReferences(toQString(formula));
        const QString boolean = booleanConstant(text);
        c.text = boolean.isEmpty() ? text : boolean;
        break;
    }
    case css::table::CellContentType_VALUE: {
        c.props.set(cell, UNO_QUERY_THROW);
        sal_Int32 format = 0;
        c.props->getPropertyValue("NumberFormat") >>= format;
        if (m_workbook->isBooleanFormat(format))
            c.text = cell->getValue() != 0 ? QStringLiteral("TRUE") : QStringLiteral("FALSE");
        else
            c.text = CellValue::fromNumber(cell->getValue()).toText();
        break;
    }
    default:
        break;
    }
    return c;
}

bool LibreOfficeSheet::enter(const Reference<css::table::XCell>& cell, const QString& text,
                             const Content* before)
{
    Reference<css::beans::XPropertySet> knownProps =
        before ? before->props : Reference<css::beans::XPropertySet>();
    auto props = [&]() -> const Reference<css::beans::XPropertySet>& {
        if (!knownProps.is())
            knownProps.set(cell, UNO_QUERY_THROW);
        return knownProps;
    };
    const TypedInput input = parseTypedInput(text);
    switch (input.kind) {
    case TypedInput::Kind::Formula: {
        if (!parenthesesBalance(input.text)) {
            m_lastError = QStringLiteral("\"%1\" is not a valid formula").arg(text);
            return false;
        }
        const Content old = before ? *before : content(cell);
        const double oldValue = old.type == css::table::CellContentType_VALUE ? cell->getValue() : 0.0;
        props()->setPropertyValue("FormulaLocal", Any(toOUString(input.text)));
        if (!isSyntaxError(cell->getError()))
            return true;
        // Put back exactly what was there.
        if (old.type == css::table::CellContentType_VALUE)
            cell->setValue(oldValue);
        else if (old.type == css::table::CellContentType_TEXT)
            Reference<css::text::XTextRange>(cell, UNO_QUERY_THROW)->setString(toOUString(old.text));
        else if (old.type == css::table::CellContentType_FORMULA)
            props()->setPropertyValue("FormulaLocal", Any(toOUString(old.text)));
        else
            cell->setFormula(rtl::OUString());
        m_lastError = QStringLiteral("\"%1\" is not a valid formula").arg(text);
        return false;
    }
    case TypedInput::Kind::Number: {
        sal_Int32 format = 0;
        props()->getPropertyValue("NumberFormat") >>= format;
        cell->setValue(input.number);
        if (input.percent)
            props()->setPropertyValue("NumberFormat",
                                      Any(m_workbook->standardFormat(css::util::NumberFormat::PERCENT)));
        else if (m_workbook->isBooleanFormat(format))
            props()->setPropertyValue("NumberFormat",
                                      Any(m_workbook->standardFormat(css::util::NumberFormat::NUMBER)));
        return true;
    }
    case TypedInput::Kind::Boolean:
        cell->setValue(input.boolean ? 1.0 : 0.0);
        props()->setPropertyValue("NumberFormat",
                                  Any(m_workbook->standardFormat(css::util::NumberFormat::LOGICAL)));
        return true;
    case TypedInput::Kind::Text:
        if (input.text.isEmpty())
            cell->setFormula(rtl::OUString());
        else
            Reference<css::text::XTextRange>(cell, UNO_QUERY_THROW)->setString(toOUString(input.text));
        return true;
    }
    return false;
}

CellValue LibreOfficeSheet::value(const CellAddress& address)
{
    try {
        if (!reachable(address))
            return CellValue::empty();
        const Reference<css::table::XCell> c = cellAt(address);
        const Reference<css::beans::XPropertySet> props(c, UNO_QUERY_THROW);
        auto text = [&c] {
            return toQString(Reference<css::text::XTextRange>(c, UNO_QUERY_THROW)->getString());
        };
        auto number = [&] {
            sal_Int32 format = 0;
            props->getPropertyValue("NumberFormat") >>= format;
            return m_workbook->isBooleanFormat(format) ? CellValue::fromBoolean(c->getValue() != 0)
                                                       : CellValue::fromNumber(c->getValue());
        };
        switch (c->getType()) {
        case css::table::CellContentType_EMPTY:
            return CellValue::empty();
        case css::table::CellContentType_TEXT:
            return CellValue::fromText(textContent(c));
        case css::table::CellContentType_VALUE:
            return number();
        case css::table::CellContentType_FORMULA: {
            if (c->getError() != 0)
                return CellValue::fromError(text());
            sal_Int32 result = 0;
            props->getPropertyValue("FormulaResultType2") >>= result;
            if (result == kResultString)
                return CellValue::fromText(text());
            // A formula's boolean result carries no boolean format in Calc; it shows as one.
            const double v = c->getValue();
            rtl::OUString formulaText;
            props->getPropertyValue("FormulaLocal") >>= formulaText;
            if (!booleanConstant(toQString(formulaText)).isEmpty())
                return CellValue::fromBoolean(v != 0.0);
            if (v == 0.0 || v == 1.0) {
                const QString shown = text();
                if (shown == QLatin1String("TRUE") || shown == QLatin1String("FALSE"))
                    return CellValue::fromBoolean(v != 0.0);
            }
            return number();
        }
        default:
            return CellValue::empty();
        }
    } catch (const css::uno::Exception& e) {
        m_lastError = describe(e);
        return CellValue::empty();
    }
}

QString LibreOfficeSheet::formula(const CellAddress& address)
{
    try {
        if (!reachable(address))
            return {};
        return cellFormula(cellAt(address));
    } catch (const css::uno::Exception& e) {
        m_lastError = describe(e);
        return {};
    }
}

bool LibreOfficeSheet::setValue(const CellAddress& address, const QString& text)
{
    try {
        if (!reachable(address))
            return false;
        const Reference<css::table::XCell> cell = cellAt(address);
        // Calc's API writes into a protected sheet where its user could not; Excel refuses.
        if (locked(cell)) {
            m_lastError = QStringLiteral("the cell %1 is locked on a protected sheet").arg(cellName(address));
            return false;
        }
        return enter(cell, text);
    } catch (const css::uno::Exception& e) {
        m_lastError = describe(e);
        return false;
    }
}

bool LibreOfficeSheet::setFormula(const CellAddress& address, const QString& text)
{
    return setValue(address, text);
}

} // namespace corvane::automation::libreoffice

namespace corvane::automation::libreoffice {

namespace {

// The drawing layer counts in 1/100 mm; the interface in points.
constexpr double kHmmPerPoint = 2540.0 / 72.0;
// A picture given -1 for a side takes its pixels at 96 dpi.
constexpr double kPointsPerPixel = 0.75;

sal_Int32 toHmm(double points)
{
    return static_cast<sal_Int32>(points * kHmmPerPoint + (points < 0 ? -0.5 : 0.5));
}

} // namespace

std::optional<css::awt::Point> LibreOfficeSheet::cellPosition(const CellAddress& address)
{
    if (!reachable(address))
        return std::nullopt;
    const Reference<css::beans::XPropertySet> props(cellAt(address), UNO_QUERY_THROW);
    css::awt::Point position;
    if (!(props->getPropertyValue("Position") >>= position))
        return std::nullopt;
    return position;
}

std::optional<double> LibreOfficeSheet::cellLeft(const CellAddress& cell)
{
    try {
        const auto position = cellPosition(cell);
        return position ? std::optional<double>(position->X / kHmmPerPoint) : std::nullopt;
    } catch (const css::uno::Exception& e) {
        m_lastError = describe(e);
        return std::nullopt;
    }
}

std::optional<double> LibreOfficeSheet::cellTop(const CellAddress& cell)
{
    try {
        const auto position = cellPosition(cell);
        return position ? std::optional<double>(position->Y / kHmmPerPoint) : std::nullopt;
    } catch (const css::uno::Exception& e) {
        m_lastError = describe(e);
        return std::nullopt;
    }
}

CellAddress LibreOfficeSheet::cellAtPoint(const css::awt::Point& point)
{
    int rows = 0;
    int columns = 0;
    limits(&rows, &columns);
    // The last row (column) whose top (left) edge is not beyond the point.
    auto search = [this](int count, auto edge, sal_Int32 target) {
        int low = 1;
        int high = count;
        while (low < high) {
            const int mid = low + (high - low + 1) / 2;
            if (edge(mid) <= target)
                low = mid;
            else
                high = mid - 1;
        }
        return low;
    };
    const int row = search(
        rows,
        [this](int r) {
            return cellPosition({r, 1})->Y;
        },
        point.Y);
    const int column = search(
        columns,
        [this](int c) {
            return cellPosition({1, c})->X;
        },
        point.X);
    return {row, column};
}

Reference<css::drawing::XShapes> LibreOfficeSheet::shapes()
{
    const Reference<css::drawing::XDrawPageSupplier> supplier(m_sheet, UNO_QUERY_THROW);
    // The IDL marks it deprecated, yet a sheet offers its draw page through nothing else.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    return Reference<css::drawing::XShapes>(supplier->getDrawPage(), UNO_QUERY_THROW);
#pragma GCC diagnostic pop
}

std::vector<Reference<css::drawing::XShape>> LibreOfficeSheet::drawingObjects()
{
    // Form controls live on the draw page too, but the shape collection holds drawings only.
    std::vector<Reference<css::drawing::XShape>> objects;
    const Reference<css::drawing::XShapes> all = shapes();
    const sal_Int32 count = all->getCount();
    for (sal_Int32 i = 0; i < count; ++i) {
        Reference<css::drawing::XShape> shape(all->getByIndex(i), UNO_QUERY);
        const Reference<css::lang::XServiceInfo> info(shape, UNO_QUERY);
        if (shape.is() && !(info.is() && info->supportsService("com.sun.star.drawing.ControlShape")))
            objects.push_back(shape);
    }
    return objects;
}

int LibreOfficeSheet::shapeCount()
{
    try {
        return static_cast<int>(drawingObjects().size());
    } catch (const css::uno::Exception& e) {
        m_lastError = describe(e);
        return 0;
    }
}

std::optional<CellAddress> LibreOfficeSheet::shapeTopLeftCell(int index)
{
    try {
        const auto objects = drawingObjects();
        if (index < 1 || index > static_cast<int>(objects.size())) {
            m_lastError = QStringLiteral("there is no drawing object %1").arg(index);
            return std::nullopt;
        }
        const Reference<css::drawing::XShape>& shape = objects[static_cast<size_t>(index - 1)];
        // Anchored to a cell: that cell, as Calc keeps it while rows and columns move.
        const Reference<css::beans::XPropertySet> props(shape, UNO_QUERY);
        if (props.is()) {
            const Reference<css::sheet::XCellAddressable> anchor(props->getPropertyValue("Anchor"),
                                                                 UNO_QUERY);
            if (anchor.is()) {
                const css::table::CellAddress a = anchor->getCellAddress();
                return CellAddress{a.Row + 1, a.Column + 1};
            }
        }
        return cellAtPoint(shape->getPosition());
    } catch (const css::uno::Exception& e) {
        m_lastError = describe(e);
        return std::nullopt;
    }
}

bool LibreOfficeSheet::deleteShape(int index)
{
    try {
        // XShapes::remove says nothing when the shape it is given has lost its drawing object,
        // which happens when Calc rebuilds an object (a chart, say) between two of our calls.
        // So look again afterwards, and take a fresh list for another try.
        for (int attempt = 0; attempt < 3; ++attempt) {
            const auto objects = drawingObjects();
            if (index < 1 || index > static_cast<int>(objects.size())) {
                m_lastError = QStringLiteral("there is no drawing object %1").arg(index);
                return false;
            }
            shapes()->remove(objects[static_cast<size_t>(index - 1)]);
            if (drawingObjects().size() + 1 == objects.size())
                return true;
            QThread::msleep(100); // give Calc time to finish what it was doing to the object
        }
        m_lastError = QStringLiteral("LibreOffice did not remove drawing object %1").arg(index);
        return false;
    } catch (const css::uno::Exception& e) {
        m_lastError = describe(e);
        return false;
    }
}

bool LibreOfficeSheet::addPicture(const QString& file, double left, double top, double width, double height)
{
    try {
        const QFileInfo info(file);
        if (!info.isFile() || !info.isReadable()) {
            m_lastError = QStringLiteral("%1 does not exist or cannot be read").arg(file);
            return false;
        }
        const Reference<css::uno::XComponentContext> office = m_workbook->office();
        if (!office.is()) {
            m_lastError = QStringLiteral("no connection to LibreOffice for reading pictures");
            return false;
        }
        const Reference<css::graphic::XGraphicProvider> provider =
            css::graphic::GraphicProvider::create(office);
        css::uno::Sequence<css::beans::PropertyValue> media(1);
        media[0] = makeProperty(
            "URL",
            Any(toOUString(QUrl::fromLocalFile(info.absoluteFilePath()).toString(QUrl::FullyEncoded))));
        Reference<css::graphic::XGraphic> graphic;
        try {
            graphic = provider->queryGraphic(media);
        } catch (const css::uno::Exception&) {
            graphic.clear();
        }
        const Reference<css::beans::XPropertySet> graphicProps(graphic, UNO_QUERY);
        css::awt::Size pixels;
        if (!graphicProps.is() || !(graphicProps->getPropertyValue("SizePixel") >>= pixels) ||
            pixels.Width <= 0 || pixels.Height <= 0) {
            m_lastError = QStringLiteral("%1 is not a picture LibreOffice can read").arg(file);
            return false;
        }
        const double widthPt = width < 0 ? pixels.Width * kPointsPerPixel : width;
        const double heightPt = height < 0 ? pixels.Height * kPointsPerPixel : height;

        const Reference<css::lang::XMultiServiceFactory> factory(m_workbook->document(), UNO_QUERY_THROW);
        const Reference<css::drawing::XShape> shape(
            factory->createInstance("com.sun.star.drawing.GraphicObjectShape"), UNO_QUERY_THROW);
        const Reference<css::beans::XPropertySet> props(shape, UNO_QUERY_THROW);
        props->setPropertyValue("Graphic", Any(graphic));
        shapes()->add(shape);
        const css::awt::Point position(toHmm(left), toHmm(top));
        // Like a picture placed in Excel, it moves with the cell under its top-left corner.
        const CellAddress anchor = cellAtPoint(position);
        props->setPropertyValue("Anchor",
                                Any(Reference<css::uno::XInterface>(cellAt(anchor), UNO_QUERY_THROW)));
        shape->setPosition(position);
        shape->setSize(css::awt::Size(toHmm(widthPt), toHmm(heightPt)));
        return true;
    } catch (const css::uno::Exception& e) {
        m_lastError = describe(e);
        return false;
    }
}

} // namespace corvane::automation::libreoffice
