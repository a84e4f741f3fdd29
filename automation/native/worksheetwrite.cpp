// Writing cells into a worksheet: new cells and rows, shared formulas written out in full before
// a member changes, array formulas, and the protection and styles that decide what a cell gets.
#include "worksheet.h"
#include "worksheetscan.h"

#include "sharedstrings.h"
#include "xmltext.h"

#include "automation/native/formula/formularewriter.h"

#include <QLocale>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace corvane::automation::native {

bool Worksheet::isInArray(int row, int column) const
{
    return std::any_of(m_arrays.begin(), m_arrays.end(), [&](const ArrayGroup& a) {
        return a.ref.contains({row, column}) && (a.ref.rowCount() > 1 || a.ref.columnCount() > 1);
    });
}

bool Worksheet::isArrayMaster(int row, int column) const
{
    return std::any_of(m_arrays.begin(), m_arrays.end(), [&](const ArrayGroup& a) {
        return a.ref.firstRow == row && a.ref.firstColumn == column;
    });
}

void Worksheet::setText(pugi::xml_node element, const std::string& raw)
{
    while (element.first_child())
        element.remove_child(element.first_child());
    element.append_child(pugi::node_pcdata).set_value(raw.c_str());
}

void Worksheet::setArrayFormula(int row, int column, const QString& text)
{
    GridCell* gridCell = m_grid.find(row, column);
    if (!gridCell)
        return;
    pugi::xml_node cell = parseCell(*gridCell);
    pugi::xml_node f = child(cell, "f");
    if (!f)
        return;
    setText(f, encodeXml(text));
    cell.remove_child(child(cell, "v"));
    cell.remove_attribute("t");
    storeCell(*gridCell, cell);
    for (ArrayGroup& a : m_arrays) {
        if (a.ref.firstRow == row && a.ref.firstColumn == column)
            a.text = text.toStdString();
    }
}

void Worksheet::unshare(const std::string& si)
{
    const auto it = m_shared.find(si);
    if (it == m_shared.end())
        return;
    const SharedGroup g = it->second;
    m_shared.erase(it);
    for (const auto& [r, c] : g.members) {
        GridCell* gridCell = m_grid.find(r, c);
        if (!gridCell)
            continue;
        pugi::xml_node cell = parseCell(*gridCell);
        pugi::xml_node f = child(cell, "f");
        if (!f || !attrIs(f, "t", "shared") || si != f.attribute("si").value())
            continue;
        if (g.row) {
            const std::string text = (r == g.row && c == g.column)
                                         ? g.text
                                         : formula::translateFormula(g.text, r - g.row, c - g.column);
            setText(f, encodeXml(QString::fromStdString(text)));
        }
        f.remove_attribute("t");
        f.remove_attribute("si");
        f.remove_attribute("ref");
        storeCell(*gridCell, cell);
    }
}

pugi::xml_node Worksheet::addCellChild(pugi::xml_node cell, const char* local)
{
    const pugi::xml_node ext = child(cell, "extLst");
    return ext ? cell.insert_child_before(name(local).c_str(), ext) : cell.append_child(name(local).c_str());
}

std::string Worksheet::styleForNewCell(const GridRow& row, int column) const
{
    if (!row.added) {
        const std::string_view tag = rowTag(row);
        std::string_view custom, style;
        if (attributeValue(tag, "customFormat", custom) && (custom == "1" || custom == "true") &&
            attributeValue(tag, "s", style))
            return std::string(style);
    }
    const pugi::xml_node cols = child(root(), "cols");
    const std::string colName = name("col");
    for (pugi::xml_node c = cols.child(colName.c_str()); c; c = c.next_sibling(colName.c_str())) {
        if (column >= c.attribute("min").as_int() && column <= c.attribute("max").as_int()) {
            if (const pugi::xml_attribute s = c.attribute("style"))
                return std::strcmp(s.value(), "0") == 0 ? std::string() : s.value();
            return {};
        }
    }
    return {};
}

bool Worksheet::isProtected() const
{
    const pugi::xml_node protection = child(root(), "sheetProtection");
    return protection && protection.attribute("sheet").as_bool();
}

bool Worksheet::protectsObjects() const
{
    return isProtected() && child(root(), "sheetProtection").attribute("objects").as_bool();
}

int Worksheet::cellStyle(int row, int column) const
{
    const auto index = [](std::string_view text) {
        int value = 0;
        for (char c : text) {
            if (c < '0' || c > '9' || value > 100000000)
                return -1; // no style the workbook can have: taken as locked
            value = value * 10 + (c - '0');
        }
        return text.empty() ? -1 : value;
    };
    if (const GridCell* c = m_grid.find(row, column)) {
        const std::string_view xml = cellXml(*c);
        bool selfClosing = false;
        const size_t te = tagEnd(xml, 0, selfClosing);
        std::string_view style;
        if (te != std::string_view::npos && attributeValue(xml.substr(0, te), "s", style))
            return index(style);
        return 0;
    }
    const auto& rows = m_grid.rows();
    const auto it = m_grid.rowAtOrAfter(row);
    GridRow fresh;
    fresh.added = true; // no row element: the column's style decides
    const std::string style = styleForNewCell(it != rows.end() && it->row == row ? *it : fresh, column);
    return style.empty() ? 0 : index(style);
}

void Worksheet::growDimension(int row, int column)
{
    const bool wasEmpty = m_used.firstRow == 0;
    if (wasEmpty) {
        m_used = {row, column, row, column};
    } else {
        m_used.firstRow = std::min(m_used.firstRow, row);
        m_used.lastRow = std::max(m_used.lastRow, row);
        m_used.firstColumn = std::min(m_used.firstColumn, column);
        m_used.lastColumn = std::max(m_used.lastColumn, column);
    }
    pugi::xml_node dimension = child(root(), "dimension");
    if (!dimension)
        return;
    RangeAddress ref;
    if (!wasEmpty && parseRef(dimension.attribute("ref").value(), ref)) {
        ref.firstRow = std::min(ref.firstRow, row);
        ref.lastRow = std::max(ref.lastRow, row);
        ref.firstColumn = std::min(ref.firstColumn, column);
        ref.lastColumn = std::max(ref.lastColumn, column);
    } else {
        ref = m_used;
    }
    const std::string text = rangeName(ref).toStdString();
    pugi::xml_attribute a = dimension.attribute("ref");
    if (!a)
        a = dimension.append_attribute("ref");
    a.set_value(text.c_str());
}

GridCell& Worksheet::createCell(int row, int column)
{
    if (!child(root(), "sheetData")) {
        // A worksheet without sheet data (allowed when empty): it goes after the columns.
        pugi::xml_node after;
        for (const char* n : {"sheetPr", "dimension", "sheetViews", "sheetFormatPr", "cols"}) {
            if (pugi::xml_node c = child(root(), n))
                after = c;
        }
        pugi::xml_node sheetData = after ? root().insert_child_after(name("sheetData").c_str(), after)
                                         : root().prepend_child(name("sheetData").c_str());
        sheetData.append_child(pugi::node_pcdata).set_value(kRowsPlaceholder);
    }
    GridRow* gridRow = m_grid.findRow(row);
    if (!gridRow) {
        GridRow added;
        added.row = row;
        added.added = true;
        gridRow = &m_grid.insertRow(std::move(added));
    }
    std::string xml = "<" + m_cellName + " r=\"" + cellReference(row, column) + "\"";
    const std::string style = styleForNewCell(*gridRow, column);
    if (!style.empty())
        xml += " s=\"" + style + "\"";
    xml += "/>";
    if (!gridRow->added) {
        const std::string_view tag = rowTag(*gridRow);
        std::string_view spans;
        int lo = 0, hi = 0;
        if (attributeValue(tag, "spans", spans) && spans.find(' ') == std::string_view::npos &&
            std::sscanf(std::string(spans).c_str(), "%d:%d", &lo, &hi) == 2 && (column < lo || column > hi)) {
            const size_t at = static_cast<size_t>(spans.data() - tag.data());
            std::string edited(tag);
            edited.replace(at, spans.size(),
                           std::to_string(std::min(lo, column)) + ':' + std::to_string(std::max(hi, column)));
            if (gridRow->tagEdit >= 0) {
                m_edits[static_cast<size_t>(gridRow->tagEdit)] = std::move(edited);
            } else {
                gridRow->tagEdit = static_cast<int>(m_edits.size());
                m_edits.push_back(std::move(edited));
            }
        }
    }
    GridCell cell;
    cell.column = column;
    cell.added = true;
    cell.edit = static_cast<int>(m_edits.size());
    m_edits.push_back(std::move(xml));
    growDimension(row, column);
    setDirty();
    return m_grid.insertCell(*gridRow, cell);
}

bool Worksheet::write(int row, int column, const CellInput& input)
{
    if (isInArray(row, column)) {
        m_error = QStringLiteral("the cell is part of an array formula; only the whole array can change");
        return false;
    }
    if (input.kind == CellInput::Kind::Text && input.text.size() > 32767) {
        m_error = QStringLiteral("the text is longer than a cell may hold (32767 characters)");
        return false;
    }
    m_arrays.erase(std::remove_if(m_arrays.begin(), m_arrays.end(),
                                  [&](const ArrayGroup& a) {
                                      return a.ref.topLeft() == CellAddress{row, column};
                                  }),
                   m_arrays.end());
    GridCell* gridCell = m_grid.find(row, column);
    if (!gridCell) {
        if (input.kind == CellInput::Kind::Empty)
            return true;
        gridCell = &createCell(row, column);
    }
    pugi::xml_node cell = parseCell(*gridCell);
    if (!cell) {
        m_error = QStringLiteral("damaged: the cell's XML is malformed");
        return false;
    }
    if (const pugi::xml_node f = child(cell, "f"); f && attrIs(f, "t", "shared")) {
        unshare(f.attribute("si").value());
        gridCell = m_grid.find(row, column);
        cell = parseCell(*gridCell);
    }
    if (attrIs(cell, "t", "s") && m_strings)
        m_strings->release();
    for (const char* n : {"f", "v", "is"}) {
        while (pugi::xml_node c = child(cell, n))
            cell.remove_child(c);
    }
    for (const char* a : {"t", "cm", "vm"})
        cell.remove_attribute(a);
    const auto setType = [&](const char* type) {
        pugi::xml_attribute after = cell.attribute("s");
        if (!after)
            after = cell.attribute("r");
        pugi::xml_attribute t = after ? cell.insert_attribute_after("t", after) : cell.prepend_attribute("t");
        t.set_value(type);
    };
    switch (input.kind) {
    case CellInput::Kind::Empty:
        break;
    case CellInput::Kind::Text:
        if (m_strings) {
            setType("s");
            setText(addCellChild(cell, "v"), std::to_string(m_strings->add(input.text)));
        } else {
            setType("inlineStr");
            pugi::xml_node t = addCellChild(cell, "is").append_child(name("t").c_str());
            if (!input.text.isEmpty() && (input.text.front().isSpace() || input.text.back().isSpace()))
                t.append_attribute("xml:space").set_value("preserve");
            setText(t, encodeCellText(input.text));
        }
        break;
    case CellInput::Kind::Number:
        setText(addCellChild(cell, "v"),
                QString::number(input.number, 'g', QLocale::FloatingPointShortest).toStdString());
        break;
    case CellInput::Kind::Boolean:
        setType("b");
        setText(addCellChild(cell, "v"), input.boolean ? "1" : "0");
        break;
    case CellInput::Kind::Error:
        setType("e");
        setText(addCellChild(cell, "v"), encodeXml(input.text));
        break;
    case CellInput::Kind::Formula:
        setText(addCellChild(cell, "f"), encodeXml(input.text));
        break;
    }
    storeCell(*gridCell, cell);
    return true;
}

} // namespace corvane::automation::native
