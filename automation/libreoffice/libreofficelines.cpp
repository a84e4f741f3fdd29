// Row and column edits under LibreOffice: refused first where the engine refuses them (protection,
// pivot tables), and the row heights Calc recomputes under drawing objects put back.
#include "libreofficesheet.h"

#include "libreofficeworkbook.h"

#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/drawing/XShape.hpp>
#include <com/sun/star/sheet/XCellRangeAddressable.hpp>
#include <com/sun/star/sheet/XDataPilotDescriptor.hpp>
#include <com/sun/star/sheet/XDataPilotTable.hpp>
#include <com/sun/star/sheet/XDataPilotTablesSupplier.hpp>
#include <com/sun/star/sheet/XSpreadsheetDocument.hpp>
#include <com/sun/star/table/XColumnRowRange.hpp>
#include <com/sun/star/table/XTableColumns.hpp>
#include <com/sun/star/table/XTableRows.hpp>
#include <com/sun/star/util/XProtectable.hpp>

#include <algorithm>

using css::uno::Any;
using css::uno::Reference;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;

namespace corvane::automation::libreoffice {

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

} // namespace corvane::automation::libreoffice
