#include "rowcolumnedit.h"

#include "cellgrid.h"
#include "package.h"
#include "relationships.h"
#include "rowcolumnwork.h"
#include "worksheet.h"
#include "xmlelement.h"
#include "xmlpart.h"
#include "xmltext.h"

#include "formula/formularewriter.h"

#include <pugixml.hpp>

#include <cstring>
#include <utility>

namespace corvane::automation::native {

using formula::SheetEdit;

void setAttribute(pugi::xml_node n, const char* name, const std::string& value)
{
    pugi::xml_attribute a = n.attribute(name);
    if (!a)
        a = n.append_attribute(name);
    a.set_value(value.c_str());
}

void setText(pugi::xml_node n, const std::string& raw)
{
    n.text().set(raw.c_str());
}

// Rows, columns, counts and ids within a sheet; bounded well past the sheet's limits, so that
// the arithmetic done with them cannot overflow and an absurd value still reads as absurd.
int intAttribute(pugi::xml_node n, const char* name, int fallback)
{
    constexpr int kBound = 1 << 24;
    const pugi::xml_attribute a = n.attribute(name);
    return a ? boundedInt(a.value(), -kBound, kBound, fallback) : fallback;
}

std::optional<RangeAddress> plainRange(const char* text)
{
    return parseRangeAddress(QString::fromUtf8(text));
}

namespace {

// Whether XML text may hold a reference that names a sheet: a "!" other than the one closing a
// lost reference (#REF!), which the sheet's own earlier edits leave behind.
bool mayNameASheet(std::string_view text)
{
    constexpr std::string_view lost = "#REF";
    for (std::size_t at = text.find('!'); at != std::string_view::npos; at = text.find('!', at + 1)) {
        if (at < lost.size() || text.substr(at - lost.size(), lost.size()) != lost)
            return true;
    }
    return false;
}

// Sheet protection locks row and column edits unless the matching attribute says "0".
bool protectionForbids(pugi::xml_node protection, const SheetEdit& edit)
{
    if (!protection)
        return false;
    const pugi::xml_attribute sheet = protection.attribute("sheet");
    if (!sheet || !sheet.as_bool())
        return false;
    const bool rows = edit.axis == SheetEdit::Axis::Rows;
    const char* which =
        edit.insert ? (rows ? "insertRows" : "insertColumns") : (rows ? "deleteRows" : "deleteColumns");
    const pugi::xml_attribute a = protection.attribute(which);
    return !a || a.as_bool();
}

} // namespace

RowColumnEdit::RowColumnEdit(Package& package, std::vector<SheetPart> sheets, std::size_t edited,
                             const SheetEdit& edit)
    : m_package(package), m_sheets(std::move(sheets)), m_edited(edited), m_edit(edit)
{
    m_editedName = m_sheets[m_edited].name;
}

bool RowColumnEdit::refuse(const QString& reason)
{
    m_error = reason;
    return false;
}

bool RowColumnEdit::currentText(const std::string& name, std::string& out)
{
    // A part the engine has loaded may hold edits not yet saved; its text is the current one.
    // Others are read raw: loading them here would fix their part type for later users.
    if (m_package.isLoaded(name)) {
        if (XmlPart* loaded = m_package.part<XmlPart>(name)) {
            out = loaded->serialize();
            return true;
        }
    } else if (m_package.read(name, out)) {
        return true;
    }
    m_error = m_package.error();
    return false;
}

bool RowColumnEdit::loadCopy(const std::string& name, XmlPart& copy)
{
    std::string text;
    if (!currentText(name, text))
        return false;
    if (!copy.load(name, std::move(text))) {
        m_error = copy.error();
        return false;
    }
    return true;
}

bool RowColumnEdit::adjustRaw(const char* raw, const std::string& home, std::string& out,
                              bool forAttribute) const
{
    if (!*raw)
        return false;
    const std::string text = decodedUtf8(raw);
    std::string adjusted;
    if (!formula::adjustFormula(text, home, m_editedName, m_edit, adjusted))
        return false;
    out = encodedXml(adjusted, forAttribute);
    return true;
}

bool RowColumnEdit::prepare()
{
    auto* rootRels = m_package.part<Relationships>("_rels/.rels");
    Relationship office;
    if (!rootRels || !rootRels->findByType("officeDocument", office))
        return refuse(QStringLiteral("damaged: the package has no workbook part"));
    m_workbookPart = office.target;

    // Every sheet's drawings, for the charts they hold; chart sheets included.
    for (const SheetPart& s : m_sheets) {
        const std::string relsName = Relationships::relsPartFor(s.part);
        if (!m_package.contains(relsName))
            continue;
        auto* rels = m_package.part<Relationships>(relsName);
        if (!rels)
            return refuse(m_package.error());
        rels->setSource(s.part);
        for (const Relationship& r : rels->all()) {
            if (!r.external && r.type.size() > 8 && r.type.compare(r.type.size() - 8, 8, "/drawing") == 0 &&
                m_package.contains(r.target))
                m_drawingParts.push_back(r.target);
        }
    }

    if (!preparePivotCaches())
        return false;
    for (std::size_t i = 0; i < m_sheets.size(); ++i) {
        if (m_sheets[i].grid && !prepareWorksheet(i))
            return false;
    }
    return prepareCharts() && prepareDefinedNames();
}

bool RowColumnEdit::prepareWorksheet(std::size_t index)
{
    const SheetPart& sheet = m_sheets[index];
    const bool edited = index == m_edited;
    // Another sheet can only point into the edited one by naming it. A loaded sheet answers
    // that without being written out, which matters when many rows go one by one.
    if (!edited && m_package.isLoaded(sheet.part)) {
        const Worksheet* loaded = m_package.part<Worksheet>(sheet.part);
        if (loaded && !loaded->anyPiece(mayNameASheet))
            return true;
    }
    std::string text;
    if (!currentText(sheet.part, text))
        return false;
    if (!edited && !mayNameASheet(text))
        return true;

    WorksheetWork work;
    work.index = index;
    work.edited = edited;
    work.home = sheet.name;
    if (!work.copy.load(sheet.part, std::move(text)))
        return refuse(work.copy.error());
    pugi::xml_node root = work.copy.root();
    work.sheetData = firstChildElement(root, "sheetData");

    // Positions of every cell, for shared formulas and for moving cells; rows and cells
    // without their number follow the one before.
    int rowNumber = 0;
    for (pugi::xml_node row = work.sheetData.first_child(); row; row = row.next_sibling()) {
        if (!isElement(row, "row"))
            continue;
        rowNumber = intAttribute(row, "r", rowNumber + 1);
        int column = 0;
        for (pugi::xml_node c = row.first_child(); c; c = c.next_sibling()) {
            if (!isElement(c, "c"))
                continue;
            int r = 0;
            int col = 0;
            const char* ref = c.attribute("r").value();
            if (*ref && parseCellReference(ref, r, col))
                column = col;
            else
                ++column;
            work.cells.push_back({c, rowNumber, column});
        }
    }

    if (edited && !checkEditedSheet(work))
        return false;

    // Plain formulas first: the shared groups written out below are plain by then and must
    // not be adjusted twice.
    adjustFormulas(work);
    adjustSharedGroups(work);
    if (edited) {
        if (!prepareTables(work))
            return false;
        adjustSheetRanges(work);
        moveCells(work);
        work.changed = true;
    }
    if (work.changed)
        m_worksheetTexts[sheet.part] = work.copy.serialize();
    return true;
}

bool RowColumnEdit::checkEditedSheet(WorksheetWork& work)
{
    pugi::xml_node root = work.copy.root();
    const bool rows = m_edit.axis == SheetEdit::Axis::Rows;
    const QString what = rows ? QStringLiteral("rows") : QStringLiteral("columns");
    if (protectionForbids(firstChildElement(root, "sheetProtection"), m_edit))
        return refuse(QStringLiteral("the sheet is protected against changing its %1").arg(what));

    const int limit = m_edit.limit();
    for (const WorksheetWork::CellAt& c : work.cells) {
        const int at = rows ? c.row : c.column;
        // As the application does: an insertion may not push cells off the sheet.
        if (m_edit.insert && (m_edit.lines ? !formula::shiftIndex(at, m_edit) : at > limit - m_edit.count))
            return refuse(QStringLiteral("inserting would push cells off the end of the sheet"));
        const pugi::xml_node f = firstChildElement(c.node, "f");
        if (!f)
            continue;
        const std::string_view type = f.attribute("t").value();
        if (type != "array" && type != "dataTable")
            continue;
        const auto ref = plainRange(f.attribute("ref").value());
        if (!ref)
            continue;
        int first = rows ? ref->firstRow : ref->firstColumn;
        int last = rows ? ref->lastRow : ref->lastColumn;
        if (type == "dataTable" && touchesLine(last))
            return refuse(QStringLiteral("a data table (what-if analysis) lies in the way"));
        // Like the application: part of an array formula cannot change.
        const bool wholly = !m_edit.insert && first >= m_edit.first && last <= m_edit.last();
        const bool cuts = m_edit.insert ? m_edit.insertsInside(first, last)
                                        : (!wholly && m_edit.first <= last && m_edit.last() >= first);
        if (cuts)
            return refuse(QStringLiteral("the edit would change part of the array formula in %1")
                              .arg(QString::fromUtf8(f.attribute("ref").value())));
    }

    // Pivot tables on the sheet are laid out by the application when it refreshes them; the
    // engine cannot move one, nor edit lines inside it.
    const std::string relsName = Relationships::relsPartFor(m_sheets[work.index].part);
    if (!m_package.contains(relsName))
        return true;
    auto* rels = m_package.part<Relationships>(relsName);
    if (!rels)
        return refuse(m_package.error());
    rels->setSource(m_sheets[work.index].part);
    for (const Relationship& r : rels->all()) {
        if (r.external || !m_package.contains(r.target) || r.type.find("/pivotTable") == std::string::npos)
            continue;
        XmlPart part;
        if (!loadCopy(r.target, part))
            return false;
        const auto location = plainRange(firstChildElement(part.root(), "location").attribute("ref").value());
        if (!location || touchesLine(rows ? location->lastRow : location->lastColumn))
            return refuse(QStringLiteral("a pivot table on the sheet lies in the way"));
    }
    return true;
}

bool RowColumnEdit::apply()
{
    for (auto& [name, text] : m_worksheetTexts) {
        if (!m_package.replacePart<Worksheet>(name, std::move(text)))
            return refuse(m_package.error());
        m_replacedWorksheets.push_back(name);
    }
    for (auto& [name, text] : m_partTexts) {
        if (!m_package.replacePart<XmlPart>(name, std::move(text)))
            return refuse(m_package.error());
    }
    if (!m_names.empty()) {
        XmlPart* workbook = m_package.part<XmlPart>(m_workbookPart);
        const std::vector<pugi::xml_node> names =
            childElements(firstChildElement(workbook->root(), "definedNames"), "definedName");
        for (const auto& [position, text] : m_names)
            setText(names[position], text);
        workbook->setDirty();
    }
    return true;
}

} // namespace corvane::automation::native
