// A row or column edit in the parts beside the worksheet's own: its tables (and, through its
// relationships, its drawings and comments), pivot caches, charts and defined names.
#include "rowcolumnedit.h"

#include "package.h"
#include "relationships.h"
#include "rowcolumnwork.h"
#include "xmlelement.h"
#include "xmltext.h"

#include "formula/formularewriter.h"
#include "formula/sheetname.h"

#include <pugixml.hpp>

#include <cstring>
#include <set>

namespace corvane::automation::native {

using formula::SheetEdit;

bool RowColumnEdit::prepareTables(WorksheetWork& work)
{
    const SheetPart& sheet = m_sheets[work.index];
    const std::string relsName = Relationships::relsPartFor(sheet.part);
    if (!m_package.contains(relsName))
        return true;
    auto* rels = m_package.part<Relationships>(relsName);
    if (!rels)
        return refuse(m_package.error());
    rels->setSource(sheet.part);
    const bool rows = m_edit.axis == SheetEdit::Axis::Rows;
    for (const Relationship& r : rels->all()) {
        if (r.external || !m_package.contains(r.target))
            continue;
        const auto endsWith = [&r](const char* suffix) {
            const std::size_t n = std::strlen(suffix);
            return r.type.size() >= n && r.type.compare(r.type.size() - n, n, suffix) == 0;
        };
        if (endsWith("/drawing")) {
            if (!prepareDrawing(r.target))
                return false;
            continue;
        }
        if (endsWith("/comments") || endsWith("/threadedComment")) {
            if (!prepareComments(r.target))
                return false;
            continue;
        }
        if (endsWith("/vmlDrawing")) {
            if (!prepareVml(r.target))
                return false;
            continue;
        }
        if (!endsWith("/table"))
            continue;
        XmlPart table;
        if (!loadCopy(r.target, table))
            return false;
        pugi::xml_node root = table.root();
        const QString tableName = QString::fromUtf8(root.attribute("displayName").value());
        const auto ref = plainRange(root.attribute("ref").value());
        if (!ref)
            return refuse(QStringLiteral("table %1 has no readable range").arg(tableName));
        // Column formulas (their cell references, beside the structured ones) follow the edit
        // wherever the table lies.
        bool formulasChanged = false;
        for (pugi::xml_node column : childElements(firstChildElement(root, "tableColumns"), "tableColumn"))
            formulasChanged |= adjustFormulaTexts(column, m_editedName);
        if (!touchesLine(rows ? ref->lastRow : ref->lastColumn)) {
            if (formulasChanged)
                m_partTexts[r.target] = table.serialize();
            continue;
        }
        if (std::strcmp(root.attribute("tableType").value(), "queryTable") == 0)
            return refuse(QStringLiteral("table %1 holds external data (a query table)").arg(tableName));
        if (rows) {
            const int header = intAttribute(root, "headerRowCount", 1);
            const int totals = intAttribute(root, "totalsRowCount", 0);
            const bool deletes = !m_edit.insert;
            if (deletes && header > 0 && m_edit.first <= ref->firstRow && m_edit.last() >= ref->firstRow)
                return refuse(
                    QStringLiteral("the edit would delete the header row of table %1").arg(tableName));
            if (deletes && totals > 0 && m_edit.first <= ref->lastRow && m_edit.last() >= ref->lastRow)
                return refuse(
                    QStringLiteral("the edit would delete the totals row of table %1").arg(tableName));
            const auto moved = formula::adjustRange(*ref, m_edit);
            if (!moved || moved->rowCount() <= header + totals)
                return refuse(QStringLiteral("the edit would leave table %1 without rows").arg(tableName));
        } else {
            const bool cuts = m_edit.insert
                                  ? m_edit.insertsInside(ref->firstColumn, ref->lastColumn)
                                  : (m_edit.first <= ref->lastColumn && m_edit.last() >= ref->firstColumn);
            if (cuts)
                return refuse(
                    QStringLiteral("the edit would cut through the columns of table %1").arg(tableName));
        }
        const auto adjust = [&](pugi::xml_node n) {
            if (!n || !n.attribute("ref"))
                return;
            const auto moved = formula::adjustRangeAddress(n.attribute("ref").value(), m_edit);
            if (moved)
                n.attribute("ref").set_value(moved->c_str());
        };
        adjust(root);
        const pugi::xml_node filter = firstChildElement(root, "autoFilter");
        adjust(filter);
        for (pugi::xml_node sort :
             {firstChildElement(root, "sortState"), firstChildElement(filter, "sortState")}) {
            adjust(sort);
            for (pugi::xml_node c : childElements(sort, "sortCondition"))
                adjust(c);
        }
        m_partTexts[r.target] = table.serialize();
    }
    return true;
}

bool RowColumnEdit::preparePivotCaches()
{
    // A pivot cache whose source range lies on the edited sheet at or after the edit would
    // have to be refreshed; the engine cannot do that.
    XmlPart* workbook = m_package.part<XmlPart>(m_workbookPart);
    if (!workbook)
        return refuse(m_package.error());
    const pugi::xml_node caches = firstChildElement(workbook->root(), "pivotCaches");
    if (!caches)
        return true;
    const std::string relsName = Relationships::relsPartFor(m_workbookPart);
    auto* rels = m_package.part<Relationships>(relsName);
    if (!rels)
        return refuse(m_package.error());
    rels->setSource(m_workbookPart);
    const bool rows = m_edit.axis == SheetEdit::Axis::Rows;
    for (const Relationship& r : rels->all()) {
        if (r.external || r.type.find("/pivotCacheDefinition") == std::string::npos ||
            !m_package.contains(r.target))
            continue;
        XmlPart cache;
        if (!loadCopy(r.target, cache))
            return false;
        const pugi::xml_node source =
            firstChildElement(firstChildElement(cache.root(), "cacheSource"), "worksheetSource");
        if (!source)
            continue;
        if (source.attribute("name") && !source.attribute("sheet")) {
            if (!namedSourceHit(*workbook, utf8String(attributeText(source.attribute("name").value()))))
                continue;
            return refuse(
                QStringLiteral("the edit would change the range %1 that a pivot table takes its data from")
                    .arg(attributeText(source.attribute("name").value())));
        }
        if (!formula::sheetNamesEqual(utf8String(attributeText(source.attribute("sheet").value())),
                                      m_editedName))
            continue;
        const auto ref = plainRange(source.attribute("ref").value());
        if (!ref || touchesLine(rows ? ref->lastRow : ref->lastColumn))
            return refuse(QStringLiteral("the edit would change the source range of a pivot table"));
    }
    return true;
}

bool RowColumnEdit::namedSourceHit(XmlPart& workbook, const std::string& name)
{
    // A defined name: hit when the edit changes what it refers to.
    for (pugi::xml_node n :
         childElements(firstChildElement(workbook.root(), "definedNames"), "definedName")) {
        if (!formula::sheetNamesEqual(utf8String(attributeText(n.attribute("name").value())), name))
            continue;
        std::string out;
        return adjustRaw(n.child_value(), std::string(), out);
    }
    // Otherwise a table: hit when it lies on the edited sheet at or after the edit.
    const std::string relsName = Relationships::relsPartFor(m_sheets[m_edited].part);
    if (!m_package.contains(relsName))
        return false;
    auto* rels = m_package.part<Relationships>(relsName);
    if (!rels)
        return true;
    rels->setSource(m_sheets[m_edited].part);
    for (const Relationship& r : rels->all()) {
        if (r.external || r.type.find("/table") == std::string::npos || !m_package.contains(r.target))
            continue;
        XmlPart table;
        if (!loadCopy(r.target, table))
            return true;
        if (!formula::sheetNamesEqual(
                utf8String(attributeText(table.root().attribute("displayName").value())), name))
            continue;
        const auto ref = plainRange(table.root().attribute("ref").value());
        return !ref || touchesLine(m_edit.axis == SheetEdit::Axis::Rows ? ref->lastRow : ref->lastColumn);
    }
    return false;
}

bool RowColumnEdit::prepareCharts()
{
    std::set<std::string> charts;
    for (const std::string& drawing : m_drawingParts) {
        const std::string relsName = Relationships::relsPartFor(drawing);
        if (!m_package.contains(relsName))
            continue;
        auto* rels = m_package.part<Relationships>(relsName);
        if (!rels)
            return refuse(m_package.error());
        rels->setSource(drawing);
        for (const Relationship& r : rels->all()) {
            if (!r.external && r.type.size() > 6 && r.type.compare(r.type.size() - 6, 6, "/chart") == 0 &&
                m_package.contains(r.target))
                charts.insert(r.target);
        }
    }
    for (const std::string& name : charts) {
        std::string text;
        if (!currentText(name, text))
            return false;
        if (text.find('!') == std::string::npos)
            continue;
        XmlPart chart;
        if (!chart.load(name, std::move(text)))
            return refuse(chart.error());
        bool changed = false;
        std::vector<pugi::xml_node> stack{chart.root()};
        while (!stack.empty()) {
            pugi::xml_node n = stack.back();
            stack.pop_back();
            for (pugi::xml_node c = n.first_child(); c; c = c.next_sibling()) {
                if (c.type() != pugi::node_element)
                    continue;
                if (isElement(c, "f")) {
                    std::string out;
                    if (adjustRaw(c.child_value(), std::string(), out)) {
                        setText(c, out);
                        changed = true;
                    }
                } else {
                    stack.push_back(c);
                }
            }
        }
        if (changed)
            m_partTexts[name] = chart.serialize();
    }
    return true;
}

bool RowColumnEdit::prepareDefinedNames()
{
    XmlPart* workbook = m_package.part<XmlPart>(m_workbookPart);
    if (!workbook)
        return refuse(m_package.error());
    const pugi::xml_node names = firstChildElement(workbook->root(), "definedNames");
    std::size_t position = 0;
    for (pugi::xml_node n : childElements(names, "definedName")) {
        std::string out;
        if (adjustRaw(n.child_value(), std::string(), out))
            m_names.emplace_back(position, out);
        ++position;
    }
    return true;
}

} // namespace corvane::automation::native
