// The drawing layer of a native sheet and the geometry of its cells.
#include "drawing.h"
#include "nativesheet.h"
#include "nativeworkbook.h"
#include "sheetgeometry.h"
#include "worksheet.h"

namespace corvane::automation::native {

std::optional<double> NativeSheet::cellLeft(const CellAddress& cell)
{
    Worksheet* ws = worksheet();
    if (!ws)
        return std::nullopt;
    if (!cell.isValid()) {
        m_lastError = QStringLiteral("the cell lies outside the sheet");
        return std::nullopt;
    }
    m_edgeColumn = cell.column;
    return SheetGeometry(*ws).columns().start(cell.column);
}

std::optional<double> NativeSheet::cellTop(const CellAddress& cell)
{
    Worksheet* ws = worksheet();
    if (!ws)
        return std::nullopt;
    if (!cell.isValid()) {
        m_lastError = QStringLiteral("the cell lies outside the sheet");
        return std::nullopt;
    }
    m_edgeRow = cell.row;
    return SheetGeometry(*ws).rows().start(cell.row);
}

int NativeSheet::shapeCount()
{
    Worksheet* ws = worksheet();
    if (!ws)
        return 0;
    SheetDrawing drawing(m_workbook.package(), m_partName, *ws);
    const int n = drawing.count();
    if (!drawing.error().isEmpty())
        m_lastError = drawing.error();
    return n;
}

std::optional<CellAddress> NativeSheet::shapeTopLeftCell(int index)
{
    Worksheet* ws = worksheet();
    if (!ws)
        return std::nullopt;
    SheetDrawing drawing(m_workbook.package(), m_partName, *ws);
    const auto cell = drawing.topLeft(index);
    if (!cell)
        m_lastError = drawing.error();
    return cell;
}

bool NativeSheet::deleteShape(int index)
{
    Worksheet* ws = worksheet();
    if (!ws)
        return false;
    if (ws->protectsObjects()) {
        m_lastError = QStringLiteral("the sheet is protected against changing its objects");
        return false;
    }
    SheetDrawing drawing(m_workbook.package(), m_partName, *ws);
    if (!drawing.remove(index)) {
        m_lastError = drawing.error();
        return false;
    }
    return true;
}

bool NativeSheet::addPicture(const QString& file, double left, double top, double width, double height)
{
    Worksheet* ws = worksheet();
    if (!ws)
        return false;
    if (ws->protectsObjects()) {
        m_lastError = QStringLiteral("the sheet is protected against changing its objects");
        return false;
    }
    SheetDrawing drawing(m_workbook.package(), m_partName, *ws);
    if (!drawing.addPicture(file, left, top, width, height, {m_edgeRow, m_edgeColumn})) {
        m_lastError = drawing.error();
        return false;
    }
    return true;
}

} // namespace corvane::automation::native
