// The sheet's limits, addresses and protection, which its other parts build on: cells
// (libreofficecells.cpp), find and replace (libreofficesearch.cpp), row and column edits
// (libreofficelines.cpp), drawing objects (libreofficedrawing.cpp) and places (libreofficeplaces.cpp).
#include "libreofficesheet.h"

#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/container/XNamed.hpp>
#include <com/sun/star/sheet/XCellRangeAddressable.hpp>
#include <com/sun/star/sheet/XSheetCellCursor.hpp>
#include <com/sun/star/sheet/XUsedAreaCursor.hpp>
#include <com/sun/star/table/XColumnRowRange.hpp>
#include <com/sun/star/table/XTableColumns.hpp>
#include <com/sun/star/table/XTableRows.hpp>
#include <com/sun/star/util/CellProtection.hpp>
#include <com/sun/star/util/XProtectable.hpp>

#include <algorithm>

using css::uno::Any;
using css::uno::Reference;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;

namespace corvane::automation::libreoffice {

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

} // namespace corvane::automation::libreoffice
