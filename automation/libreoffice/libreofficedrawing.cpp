// Drawing objects under LibreOffice: where cells lie in the drawing layer, a sheet's shapes (form
// controls left out), and pictures anchored to a cell the way Excel places them.
#include "libreofficesheet.h"

#include "libreofficeworkbook.h"

#include <QFileInfo>
#include <QThread>
#include <QUrl>

#include <com/sun/star/awt/Size.hpp>
#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/drawing/XDrawPageSupplier.hpp>
#include <com/sun/star/drawing/XShape.hpp>
#include <com/sun/star/graphic/GraphicProvider.hpp>
#include <com/sun/star/graphic/XGraphic.hpp>
#include <com/sun/star/graphic/XGraphicProvider.hpp>
#include <com/sun/star/lang/XMultiServiceFactory.hpp>
#include <com/sun/star/lang/XServiceInfo.hpp>
#include <com/sun/star/sheet/XCellAddressable.hpp>

using css::uno::Any;
using css::uno::Reference;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;

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