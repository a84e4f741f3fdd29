// A row or column edit in the drawing layer of a worksheet: anchors of drawings, comments and
// threaded comments, and the notes and controls of legacy (VML) drawings.
#include "rowcolumnedit.h"

#include "rowcolumnwork.h"
#include "xmlelement.h"
#include "xmltext.h"

#include "formula/formularewriter.h"

#include <pugixml.hpp>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace corvane::automation::native {

using formula::SheetEdit;

bool RowColumnEdit::prepareDrawing(const std::string& drawingPart)
{
    XmlPart drawing;
    if (!loadCopy(drawingPart, drawing))
        return false;
    const bool rows = m_edit.axis == SheetEdit::Axis::Rows;
    const char* indexName = rows ? "row" : "col";
    const char* offsetName = rows ? "rowOff" : "colOff";
    bool changed = false;

    struct Marker
    {
        pugi::xml_node index, offset;
        int at = 0; // 1-based row or column
    };
    const auto marker = [&](pugi::xml_node anchor, const char* which) {
        Marker m;
        const pugi::xml_node n = firstChildElement(anchor, which);
        m.index = firstChildElement(n, indexName);
        m.offset = firstChildElement(n, offsetName);
        m.at =
            m.index ? boundedInt(m.index.child_value(), 0, (rows ? kMaxRows : kMaxColumns) - 1, -1) + 1 : 0;
        if (m.at == 0)
            m.index = {}; // no cell: the marker cannot follow one
        return m;
    };
    const auto place = [&](Marker& m, int at, bool clearOffset) {
        if (at != m.at) {
            setText(m.index, std::to_string(at - 1));
            changed = true;
        }
        if (clearOffset && m.offset && std::strcmp(m.offset.child_value(), "0") != 0) {
            setText(m.offset, "0");
            changed = true;
        }
    };
    // Where a marker goes: with its cell, or to the start of the deleted band (its edge closes
    // up there).
    const auto follow = [&](Marker& m) {
        const std::optional<int> moved = formula::shiftIndex(m.at, m_edit);
        if (moved)
            place(m, *moved, false);
        else
            place(m, formula::closedIndex(m.at, m_edit), true);
    };

    for (pugi::xml_node anchor = drawing.root().first_child(); anchor; anchor = anchor.next_sibling()) {
        if (isElement(anchor, "oneCellAnchor")) {
            Marker from = marker(anchor, "from");
            if (from.index)
                follow(from);
        } else if (isElement(anchor, "twoCellAnchor")) {
            Marker from = marker(anchor, "from");
            Marker to = marker(anchor, "to");
            if (!from.index || !to.index)
                continue;
            const std::string_view editAs = anchor.attribute("editAs").value();
            if (editAs == "absolute")
                continue;
            if (editAs == "oneCell") {
                // Moves with its top-left cell and keeps its size.
                const int before = from.at;
                follow(from);
                const int delta =
                    (from.index
                         ? boundedInt(from.index.child_value(), 0, std::numeric_limits<int>::max() - 1, 0) + 1
                         : before) -
                    before;
                place(to, to.at + delta, false);
                continue;
            }
            // Move and size with the cells: each edge follows its own cell. An object whose rows
            // (columns) are all deleted is kept, closed up to nothing at the place of the band,
            // as the application leaves it.
            follow(from);
            follow(to);
        }
    }
    if (changed)
        m_partTexts[drawingPart] = drawing.serialize();
    return true;
}

bool RowColumnEdit::prepareComments(const std::string& partName)
{
    // Legacy <comment ref> and threaded <threadedComment ref>: a comment goes with its cell.
    XmlPart part;
    if (!loadCopy(partName, part))
        return false;
    bool changed = false;
    std::vector<pugi::xml_node> stack{part.root()};
    while (!stack.empty()) {
        pugi::xml_node n = stack.back();
        stack.pop_back();
        std::vector<pugi::xml_node> gone;
        for (pugi::xml_node c = n.first_child(); c; c = c.next_sibling()) {
            if (c.type() != pugi::node_element)
                continue;
            if (!isElement(c, "comment") && !isElement(c, "threadedComment")) {
                stack.push_back(c);
                continue;
            }
            const std::string before = c.attribute("ref").value();
            const auto moved = formula::adjustRangeAddress(before, m_edit);
            if (!moved)
                gone.push_back(c);
            else if (*moved != before)
                c.attribute("ref").set_value(moved->c_str());
            changed = changed || !moved || *moved != before;
        }
        for (pugi::xml_node c : gone)
            n.remove_child(c);
    }
    if (changed)
        m_partTexts[partName] = part.serialize();
    return true;
}

bool RowColumnEdit::prepareVml(const std::string& partName)
{
    // Legacy drawings (VML): every object has an <x:Anchor> (left column, offset, top row,
    // offset, right column, offset, bottom row, offset; 0-based) and notes also name their cell
    // in <x:Row> and <x:Column>. VML is not always well-formed XML; such a drawing is refused.
    XmlPart vml;
    if (!loadCopy(partName, vml))
        return refuse(QStringLiteral("the legacy drawing %1 is not well-formed and cannot be moved")
                          .arg(QString::fromStdString(partName)));
    const bool rows = m_edit.axis == SheetEdit::Axis::Rows;
    bool changed = false;
    std::vector<pugi::xml_node> clients;
    std::vector<pugi::xml_node> stack{vml.root()};
    while (!stack.empty()) {
        pugi::xml_node n = stack.back();
        stack.pop_back();
        for (pugi::xml_node c = n.first_child(); c; c = c.next_sibling()) {
            if (isElement(c, "ClientData"))
                clients.push_back(c);
            else if (c.type() == pugi::node_element)
                stack.push_back(c);
        }
    }
    for (pugi::xml_node client : clients) {
        const bool note = std::strcmp(client.attribute("ObjectType").value(), "Note") == 0;
        int cellDelta = 0;
        if (note) {
            pugi::xml_node line = firstChildElement(client, rows ? "Row" : "Column");
            const int index = boundedInt(line.child_value(), 0, (rows ? kMaxRows : kMaxColumns) - 1, -1) + 1;
            if (index == 0)
                continue; // no place the note could be moved from
            const std::optional<int> moved = formula::shiftIndex(index, m_edit);
            if (!moved) {
                // The note goes with its cell.
                pugi::xml_node shape = client.parent();
                shape.parent().remove_child(shape);
                changed = true;
                continue;
            }
            if (*moved != index) {
                cellDelta = *moved - index;
                setText(line, std::to_string(*moved - 1));
                changed = true;
            }
        }
        pugi::xml_node anchorNode = firstChildElement(client, "Anchor");
        std::vector<int> v;
        const char* p = anchorNode.child_value();
        const char* lead = p;
        while (*lead == ' ' || *lead == '\r' || *lead == '\n' || *lead == '\t')
            ++lead;
        for (const char* q = lead; *q;) {
            char* endp = nullptr;
            const long n = std::strtol(q, &endp, 10);
            if (endp == q)
                break;
            // Positions of a box on the sheet: beyond a million rows and columns they are no place,
            // and so bounded they take a row or column shift without overflowing.
            v.push_back(static_cast<int>(std::clamp(n, -kMaxRows * 2L, kMaxRows * 2L)));
            q = endp;
            while (*q == ',' || *q == ' ' || *q == '\r' || *q == '\n' || *q == '\t')
                ++q;
        }
        if (v.size() != 8)
            continue;
        const int first = rows ? 2 : 0;
        const int second = rows ? 6 : 4;
        if (!note) {
            // Form controls carry their own rules for moving with cells, in the VML and in the
            // sheet's <controls>; the engine does not move them.
            if (touchesLine(v[second] + 1))
                return refuse(QStringLiteral("a form control on the sheet would have to move"));
            continue;
        }
        if (cellDelta == 0)
            continue;
        // The note's box keeps its size and its place beside the cell.
        v[first] = std::max(0, v[first] + cellDelta);
        v[second] = std::max(0, v[second] + cellDelta);
        std::string anchor(p, static_cast<std::size_t>(lead - p));
        for (std::size_t k = 0; k < v.size(); ++k)
            anchor += (k ? ", " : "") + std::to_string(v[k]);
        setText(anchorNode, anchor);
    }
    if (changed)
        m_partTexts[partName] = vml.serialize();
    return true;
}

} // namespace corvane::automation::native
