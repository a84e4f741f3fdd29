#include "worksheet.h"

#include "sharedstrings.h"
#include "xmltext.h"

#include "automation/native/formula/formularewriter.h"

#include <QLocale>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace corvane::automation::native {

namespace {

bool attrIs(pugi::xml_node n, const char* attr, const char* value)
{
    return std::strcmp(n.attribute(attr).value(), value) == 0;
}

bool parseRef(const char* text, RangeAddress& out)
{
    const char* colon = std::strchr(text, ':');
    int r1 = 0, c1 = 0, r2 = 0, c2 = 0;
    if (!colon) {
        if (!parseCellReference(text, r1, c1))
            return false;
        out = {r1, c1, r1, c1};
        return true;
    }
    const std::string first(text, static_cast<size_t>(colon - text));
    if (!parseCellReference(first.c_str(), r1, c1) || !parseCellReference(colon + 1, r2, c2))
        return false;
    out = {std::min(r1, r2), std::min(c1, c2), std::max(r1, r2), std::max(c1, c2)};
    return true;
}

} // namespace

std::string Worksheet::rawText(pugi::xml_node element) const
{
    pugi::xml_node first = element.first_child();
    if (first && !first.next_sibling() && first.type() == pugi::node_pcdata)
        return first.value();
    std::string raw;
    const std::string t = name("t");
    for (pugi::xml_node c = first; c; c = c.next_sibling()) {
        if (c.type() == pugi::node_pcdata)
            raw += c.value();
        else if (c.type() == pugi::node_cdata)
            raw += encodeXml(QString::fromUtf8(c.value()));
    }
    return raw;
}

bool Worksheet::afterLoad()
{
    m_sheetData = child(root(), "sheetData");
    const std::string rowName = name("row"), cName = name("c"), fName = name("f");
    int rowNumber = 0;
    bool first = true;
    for (pugi::xml_node r = m_sheetData.child(rowName.c_str()); r; r = r.next_sibling(rowName.c_str())) {
        const pugi::xml_attribute ra = r.attribute("r");
        rowNumber = ra ? ra.as_int() : rowNumber + 1;
        if (rowNumber < 1 || rowNumber > kMaxRows) {
            m_error = QStringLiteral("damaged: %1 numbers a row outside the sheet")
                          .arg(QString::fromStdString(partName()));
            return false;
        }
        GridRow row;
        row.row = rowNumber;
        row.node = r;
        int column = 0;
        for (pugi::xml_node c = r.child(cName.c_str()); c; c = c.next_sibling(cName.c_str())) {
            int cr = rowNumber, cc = column + 1;
            const pugi::xml_attribute ref = c.attribute("r");
            if (ref && !parseCellReference(ref.value(), cr, cc)) {
                m_error = QStringLiteral("damaged: %1 has a cell with the reference \"%2\"")
                              .arg(QString::fromStdString(partName()), QString::fromUtf8(ref.value()));
                return false;
            }
            column = cc;
            row.cells.push_back(GridCell{cc, c});
            if (first) {
                m_used = {cr, cc, cr, cc};
                first = false;
            } else {
                m_used.firstRow = std::min(m_used.firstRow, cr);
                m_used.lastRow = std::max(m_used.lastRow, cr);
                m_used.firstColumn = std::min(m_used.firstColumn, cc);
                m_used.lastColumn = std::max(m_used.lastColumn, cc);
            }
            const pugi::xml_node f = c.child(fName.c_str());
            if (!f)
                continue;
            const char* t = f.attribute("t").value();
            if (std::strcmp(t, "shared") == 0) {
                SharedGroup& g = m_shared[f.attribute("si").value()];
                g.members.emplace_back(cr, cc);
                if (f.attribute("ref") || (!g.row && f.first_child())) {
                    g.row = cr;
                    g.column = cc;
                    g.text = decodeXml(rawText(f)).toStdString();
                }
            } else if (std::strcmp(t, "array") == 0) {
                ArrayGroup a;
                if (!parseRef(f.attribute("ref").value(), a.ref))
                    a.ref = {cr, cc, cr, cc};
                a.text = decodeXml(rawText(f)).toStdString();
                m_arrays.push_back(std::move(a));
            }
        }
        m_grid.rows().push_back(std::move(row));
    }
    m_grid.sort();
    return true;
}

RangeAddress Worksheet::usedRange() const
{
    if (m_used.firstRow == 0)
        return {1, 1, 1, 1};
    return m_used;
}

CellValue Worksheet::value(pugi::xml_node cell) const
{
    const char* t = cell.attribute("t").value();
    if (std::strcmp(t, "inlineStr") == 0) {
        const pugi::xml_node is = child(cell, "is");
        std::string raw;
        const std::string tName = name("t"), rName = name("r");
        for (pugi::xml_node c = is.first_child(); c; c = c.next_sibling()) {
            if (tName == c.name())
                raw += rawText(c);
            else if (rName == c.name())
                raw += rawText(c.child(tName.c_str()));
        }
        return CellValue::fromText(decodeCellText(raw));
    }
    const pugi::xml_node v = child(cell, "v");
    if (!v)
        return CellValue::empty();
    const std::string raw = rawText(v);
    switch (t[0]) {
    case 's':
        if (t[1] == '\0') {
            const int index = std::atoi(raw.c_str());
            return CellValue::fromText(m_strings ? m_strings->text(index) : QString());
        }
        if (std::strcmp(t, "str") == 0)
            return CellValue::fromText(decodeCellText(raw));
        break;
    case 'b':
        return CellValue::fromBoolean(std::atoi(raw.c_str()) != 0);
    case 'e':
        return CellValue::fromError(decodeXml(raw));
    case 'd':
        return CellValue::fromText(decodeXml(raw));
    default:
        break;
    }
    if (raw.empty())
        return CellValue::empty();
    char* end = nullptr;
    const double d = std::strtod(raw.c_str(), &end);
    if (end == raw.c_str())
        return CellValue::fromText(decodeXml(raw));
    return CellValue::fromNumber(d);
}

bool Worksheet::formula(pugi::xml_node cell, int row, int column, QString& out) const
{
    const pugi::xml_node f = child(cell, "f");
    if (f) {
        const char* t = f.attribute("t").value();
        if (std::strcmp(t, "shared") == 0) {
            const auto it = m_shared.find(f.attribute("si").value());
            if (it == m_shared.end() || !it->second.row)
                return false;
            const SharedGroup& g = it->second;
            if (g.row == row && g.column == column) {
                out = QString::fromStdString(g.text);
            } else {
                out =
                    QString::fromStdString(formula::translateFormula(g.text, row - g.row, column - g.column));
            }
            return true;
        }
        if (std::strcmp(t, "dataTable") == 0)
            return false;
        out = decodeXml(rawText(f));
        return true;
    }
    for (const ArrayGroup& a : m_arrays) {
        if (a.ref.contains({row, column})) {
            out = QString::fromStdString(a.text);
            return true;
        }
    }
    return false;
}

QString Worksheet::displayText(pugi::xml_node cell) const
{
    const CellValue v = value(cell);
    switch (v.kind) {
    case CellValue::Kind::Empty:
        return {};
    case CellValue::Kind::Text:
    case CellValue::Kind::Error:
        return v.text;
    case CellValue::Kind::Number:
        return generalNumberText(v.number);
    case CellValue::Kind::Boolean:
        return v.boolean ? QStringLiteral("TRUE") : QStringLiteral("FALSE");
    }
    return {};
}

QString Worksheet::formulaBarText(pugi::xml_node cell, int row, int column) const
{
    QString f;
    if (formula(cell, row, column, f))
        return QLatin1Char('=') + f;
    return displayText(cell);
}

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
    pugi::xml_node cell = m_grid.find(row, column);
    pugi::xml_node f = child(cell, "f");
    if (!f)
        return;
    setText(f, encodeXml(text));
    cell.remove_child(child(cell, "v"));
    cell.remove_attribute("t");
    for (ArrayGroup& a : m_arrays) {
        if (a.ref.firstRow == row && a.ref.firstColumn == column)
            a.text = text.toStdString();
    }
    setDirty();
}

void Worksheet::unshare(const std::string& si)
{
    const auto it = m_shared.find(si);
    if (it == m_shared.end())
        return;
    const SharedGroup g = it->second;
    m_shared.erase(it);
    for (const auto& [r, c] : g.members) {
        pugi::xml_node cell = m_grid.find(r, c);
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
    }
    setDirty();
}

pugi::xml_node Worksheet::addCellChild(pugi::xml_node cell, const char* local)
{
    const pugi::xml_node ext = child(cell, "extLst");
    return ext ? cell.insert_child_before(name(local).c_str(), ext) : cell.append_child(name(local).c_str());
}

std::string Worksheet::styleForNewCell(const GridRow& row, int column) const
{
    if (attrIs(row.node, "customFormat", "1") || attrIs(row.node, "customFormat", "true")) {
        if (const pugi::xml_attribute s = row.node.attribute("s"))
            return s.value();
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

pugi::xml_node Worksheet::createCell(int row, int column)
{
    if (!m_sheetData) {
        // A worksheet without sheet data (allowed when empty): it goes after the columns.
        pugi::xml_node after;
        for (const char* n : {"sheetPr", "dimension", "sheetViews", "sheetFormatPr", "cols"}) {
            if (pugi::xml_node c = child(root(), n))
                after = c;
        }
        m_sheetData = after ? root().insert_child_after(name("sheetData").c_str(), after)
                            : root().prepend_child(name("sheetData").c_str());
    }
    GridRow* gridRow = m_grid.findRow(row);
    if (!gridRow) {
        const auto next = m_grid.rowAtOrAfter(row);
        pugi::xml_node node = next != m_grid.rows().end()
                                  ? m_sheetData.insert_child_before(name("row").c_str(), next->node)
                                  : m_sheetData.append_child(name("row").c_str());
        node.append_attribute("r").set_value(std::to_string(row).c_str());
        gridRow = &m_grid.insertRow(row, node);
    }
    auto next = std::lower_bound(gridRow->cells.begin(), gridRow->cells.end(), column,
                                 [](const GridCell& c, int value) { return c.column < value; });
    pugi::xml_node cell;
    if (next != gridRow->cells.end()) {
        cell = gridRow->node.insert_child_before(name("c").c_str(), next->node);
    } else if (!gridRow->cells.empty()) {
        // Right after the row's last cell, so the row's own layout whitespace stays at its end.
        cell = gridRow->node.insert_child_after(name("c").c_str(), gridRow->cells.back().node);
    } else {
        const pugi::xml_node ext = child(gridRow->node, "extLst");
        cell = ext ? gridRow->node.insert_child_before(name("c").c_str(), ext)
                   : gridRow->node.append_child(name("c").c_str());
    }
    cell.append_attribute("r").set_value(cellReference(row, column).c_str());
    const std::string style = styleForNewCell(*gridRow, column);
    if (!style.empty())
        cell.append_attribute("s").set_value(style.c_str());
    if (pugi::xml_attribute spans = gridRow->node.attribute("spans")) {
        int lo = 0, hi = 0;
        if (std::sscanf(spans.value(), "%d:%d", &lo, &hi) == 2 && !std::strchr(spans.value(), ' ') &&
            (column < lo || column > hi))
            spans.set_value(
                (std::to_string(std::min(lo, column)) + ':' + std::to_string(std::max(hi, column))).c_str());
    }
    m_grid.insertCell(*gridRow, column, cell);
    growDimension(row, column);
    return cell;
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
    pugi::xml_node cell = m_grid.find(row, column);
    if (cell) {
        const pugi::xml_node f = child(cell, "f");
        if (f && attrIs(f, "t", "shared"))
            unshare(f.attribute("si").value());
        if (attrIs(cell, "t", "s") && m_strings)
            m_strings->release();
        for (const char* n : {"f", "v", "is"}) {
            while (pugi::xml_node c = child(cell, n))
                cell.remove_child(c);
        }
        for (const char* a : {"t", "cm", "vm"})
            cell.remove_attribute(a);
    } else {
        if (input.kind == CellInput::Kind::Empty)
            return true;
        cell = createCell(row, column);
    }
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
    setDirty();
    return true;
}

} // namespace corvane::automation::native
