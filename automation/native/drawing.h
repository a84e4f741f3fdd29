// The drawing part of a worksheet (xl/drawings/drawingN.xml): its DrawingML objects, each one
// anchor of the drawing (a picture, a chart, a shape, a group), deleting them with what only
// they used, and embedding new pictures.
#pragma once

#include "automation/celladdress.h"

#include <QString>

#include <pugixml.hpp>

#include <optional>
#include <string>
#include <vector>

namespace corvane::automation::native {

class Package;
class Worksheet;
class XmlPart;

class SheetDrawing
{
public:
    SheetDrawing(Package& package, std::string sheetPart, Worksheet& sheet);

    int count();
    // From the anchor's top-left cell, or from its position for an absolute anchor.
    std::optional<CellAddress> topLeft(int index);
    // The anchor goes; relationships and parts that nothing uses any more go with it.
    bool remove(int index);
    // Embeds the file as a picture anchored at (left, top) points with the given size in points
    // (-1: the picture's pixels at 96 dpi). The sheet gets a drawing part when it has none.
    // `edges`: the cell whose top and left edges the position was taken from, if any (0 where not).
    bool addPicture(const QString& file, double left, double top, double width, double height,
                    const CellAddress& edges = {});

    const QString& error() const { return m_error; }

private:
    // The drawing part the sheet links to; null when it has none (m_error says why when the
    // link is broken).
    XmlPart* drawing();
    XmlPart* createDrawing();
    std::vector<pugi::xml_node> anchors();
    // Removes `part` with its own relationships when no relationship in the package points to
    // it any more, then does the same for the parts it pointed to.
    void dropIfUnused(const std::string& part, int depth);

    Package& m_package;
    std::string m_sheetPart;
    Worksheet& m_sheet;
    std::string m_drawingPart;
    QString m_error;
};

} // namespace corvane::automation::native
