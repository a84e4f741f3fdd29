#include "rowcolumnedit.h"

#include "cellgrid.h"
#include "deferredlines.h"
#include "nativesheet.h"
#include "nativeworkbook.h"
#include "package.h"
#include "relationships.h"
#include "worksheet.h"
#include "xmlelement.h"
#include "xmlpart.h"
#include "xmltext.h"

#include "formula/formularewriter.h"
#include "formula/sheetname.h"

#include <pugixml.hpp>

#include <algorithm>
#include <cstring>
#include <limits>
#include <set>
#include <tuple>
#include <utility>

namespace corvane::automation::native {

using formula::SheetEdit;

namespace {

std::string toUtf8(const QString& s)
{
    const QByteArray b = s.toUtf8();
    return std::string(b.constData(), static_cast<std::size_t>(b.size()));
}

std::string decoded(const char* raw)
{
    if (!std::strchr(raw, '&') && !std::strchr(raw, '\r'))
        return raw;
    return toUtf8(decodeXml(raw));
}

std::string encoded(const std::string& text, bool forAttribute)
{
    return encodeXml(QString::fromUtf8(text.data(), static_cast<int>(text.size())), forAttribute);
}

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

struct RowColumnEdit::WorksheetWork
{
    std::size_t index = 0;
    bool edited = false;
    std::string home; // the sheet's name, for its unqualified references
    XmlPart copy;
    pugi::xml_node sheetData;
    bool changed = false;

    struct CellAt
    {
        pugi::xml_node node;
        int row = 0;
        int column = 0;
    };
    std::vector<CellAt> cells; // in document order
};

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
    const std::string text = decoded(raw);
    std::string adjusted;
    if (!formula::adjustFormula(text, home, m_editedName, m_edit, adjusted))
        return false;
    out = encoded(adjusted, forAttribute);
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
        if (m_edit.insert && at > limit - m_edit.count)
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
        const bool cuts = m_edit.insert ? (m_edit.first > first && m_edit.first <= last)
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

void RowColumnEdit::adjustSharedGroups(WorksheetWork& work)
{
    struct Group
    {
        pugi::xml_node master;
        int row = 0, column = 0;
        std::vector<const WorksheetWork::CellAt*> members;
    };
    std::map<std::string, Group> groups;
    for (const WorksheetWork::CellAt& c : work.cells) {
        const pugi::xml_node f = firstChildElement(c.node, "f");
        if (!f || std::strcmp(f.attribute("t").value(), "shared") != 0)
            continue;
        Group& g = groups[f.attribute("si").value()];
        g.members.push_back(&c);
        if (f.attribute("ref") && !g.master) {
            g.master = f;
            g.row = c.row;
            g.column = c.column;
        }
    }
    const bool rows = m_edit.axis == SheetEdit::Axis::Rows;
    for (auto& [si, g] : groups) {
        if (!g.master)
            continue;
        const std::string masterText = decoded(g.master.child_value());
        // Formulas elsewhere point into the edited sheet only by naming a sheet.
        if (!work.edited && masterText.find('!') == std::string::npos)
            continue;
        const std::string adjustedMaster =
            formula::adjustFormula(masterText, work.home, m_editedName, m_edit);
        const auto newPlace = [&](int row, int column, int& outRow, int& outColumn) {
            outRow = row;
            outColumn = column;
            if (!work.edited)
                return true;
            const std::optional<int> moved = formula::shiftIndex(rows ? row : column, m_edit);
            if (!moved)
                return false;
            (rows ? outRow : outColumn) = *moved;
            return true;
        };
        int masterRow = 0, masterColumn = 0;
        bool uniform = newPlace(g.row, g.column, masterRow, masterColumn);
        std::vector<std::string> memberTexts(g.members.size());
        std::vector<bool> survives(g.members.size());
        bool anyChange = adjustedMaster != masterText;
        for (std::size_t i = 0; i < g.members.size(); ++i) {
            const auto* m = g.members[i];
            const int dr = m->row - g.row;
            const int dc = m->column - g.column;
            const std::string own = formula::translateFormula(masterText, dr, dc);
            memberTexts[i] = formula::adjustFormula(own, work.home, m_editedName, m_edit);
            if (memberTexts[i] != own)
                anyChange = true;
            int r = 0, col = 0;
            survives[i] = newPlace(m->row, m->column, r, col);
            if (survives[i] && memberTexts[i] != own)
                ++m_adjustedFormulas;
            if (!survives[i] || r - masterRow != dr || col - masterColumn != dc ||
                formula::translateFormula(adjustedMaster, dr, dc) != memberTexts[i])
                uniform = false;
        }
        if (uniform) {
            if (adjustedMaster != masterText) {
                setText(g.master, encoded(adjustedMaster, false));
                work.changed = true;
            }
            if (work.edited) {
                const auto ref = formula::adjustRangeAddress(g.master.attribute("ref").value(), m_edit);
                if (ref)
                    g.master.attribute("ref").set_value(ref->c_str());
            }
            continue;
        }
        if (!anyChange && !work.edited)
            continue;
        // The group no longer derives from one master: every member keeps its own formula.
        for (std::size_t i = 0; i < g.members.size(); ++i) {
            if (!survives[i])
                continue;
            pugi::xml_node f = firstChildElement(g.members[i]->node, "f");
            f.remove_attribute("t");
            f.remove_attribute("si");
            f.remove_attribute("ref");
            setText(f, encoded(memberTexts[i], false));
        }
        work.changed = true;
    }
}

void RowColumnEdit::adjustFormulas(WorksheetWork& work)
{
    for (const WorksheetWork::CellAt& c : work.cells) {
        pugi::xml_node f = firstChildElement(c.node, "f");
        if (!f || std::strcmp(f.attribute("t").value(), "shared") == 0)
            continue;
        std::string out;
        if (adjustRaw(f.child_value(), work.home, out)) {
            setText(f, out);
            work.changed = true;
            const bool rows = m_edit.axis == SheetEdit::Axis::Rows;
            if (!work.edited || formula::shiftIndex(rows ? c.row : c.column, m_edit))
                ++m_adjustedFormulas;
        }
        if (work.edited && f.attribute("ref")) {
            const auto ref = formula::adjustRangeAddress(f.attribute("ref").value(), m_edit);
            if (ref)
                f.attribute("ref").set_value(ref->c_str());
        }
    }
    // Formulas outside the cells: conditional formats, validations, hyperlink targets, extensions.
    pugi::xml_node root = work.copy.root();
    for (pugi::xml_node n = root.first_child(); n; n = n.next_sibling()) {
        if (isElement(n, "conditionalFormatting")) {
            for (pugi::xml_node rule : childElements(n, "cfRule"))
                work.changed |= adjustFormulaTexts(rule, work.home);
        } else if (isElement(n, "dataValidations")) {
            for (pugi::xml_node v : childElements(n, "dataValidation"))
                work.changed |= adjustFormulaTexts(v, work.home);
        } else if (isElement(n, "hyperlinks")) {
            for (pugi::xml_node h : childElements(n, "hyperlink")) {
                std::string out;
                if (adjustRaw(h.attribute("location").value(), work.home, out, true)) {
                    h.attribute("location").set_value(out.c_str());
                    work.changed = true;
                }
            }
        } else if (isElement(n, "extLst")) {
            work.changed |= adjustExtensions(n, work.home);
        }
    }
}

bool RowColumnEdit::adjustFormulaTexts(pugi::xml_node node, const std::string& home)
{
    bool changed = false;
    for (pugi::xml_node c = node.first_child(); c; c = c.next_sibling()) {
        if (!(isElement(c, "formula") || isElement(c, "formula1") || isElement(c, "formula2") ||
              isElement(c, "f") || isElement(c, "calculatedColumnFormula") ||
              isElement(c, "totalsRowFormula")))
            continue;
        std::string out;
        if (adjustRaw(c.child_value(), home, out)) {
            setText(c, out);
            changed = true;
        }
    }
    return changed;
}

bool RowColumnEdit::adjustExtensions(pugi::xml_node extLst, const std::string& home)
{
    bool changed = false;
    // Extension elements (conditional formats, validations and sparklines of later versions)
    // keep their formulas in <xm:f> and their ranges in <xm:sqref>.
    std::vector<pugi::xml_node> stack{extLst};
    std::vector<pugi::xml_node> emptied;
    while (!stack.empty()) {
        pugi::xml_node n = stack.back();
        stack.pop_back();
        for (pugi::xml_node c = n.first_child(); c; c = c.next_sibling()) {
            if (c.type() != pugi::node_element)
                continue;
            if (isElement(c, "f")) {
                std::string out;
                if (adjustRaw(c.child_value(), home, out)) {
                    setText(c, out);
                    changed = true;
                }
            } else if (isElement(c, "sqref") && home == m_editedName) {
                const std::string list = formula::adjustRangeList(c.child_value(), m_edit);
                if (list.empty())
                    emptied.push_back(n);
                else if (list != c.child_value())
                    setText(c, list);
                changed = true;
            } else {
                stack.push_back(c);
            }
        }
    }
    for (pugi::xml_node n : emptied)
        n.parent().remove_child(n);
    return changed;
}

void RowColumnEdit::adjustSheetRanges(WorksheetWork& work)
{
    pugi::xml_node root = work.copy.root();
    const bool rows = m_edit.axis == SheetEdit::Axis::Rows;
    const auto adjustAttribute = [&](pugi::xml_node n, const char* name) {
        const auto moved = formula::adjustRangeAddress(n.attribute(name).value(), m_edit);
        if (!moved)
            return false;
        n.attribute(name).set_value(moved->c_str());
        return true;
    };
    const auto adjustList = [&](pugi::xml_node n) {
        const std::string list = formula::adjustRangeList(n.attribute("sqref").value(), m_edit);
        if (list.empty())
            return false;
        n.attribute("sqref").set_value(list.c_str());
        return true;
    };
    const auto removeUnless = [](pugi::xml_node n, bool keep) {
        if (!keep)
            n.parent().remove_child(n);
    };
    const auto recount = [](pugi::xml_node container, std::string_view item) {
        const std::size_t n = childElements(container, item).size();
        if (n == 0) {
            container.parent().remove_child(container);
            return;
        }
        if (container.attribute("count"))
            container.attribute("count").set_value(static_cast<unsigned>(n));
    };
    const auto adjustSort = [&](pugi::xml_node sort) {
        if (!sort)
            return;
        if (!adjustAttribute(sort, "ref")) {
            sort.parent().remove_child(sort);
            return;
        }
        for (pugi::xml_node c : childElements(sort, "sortCondition"))
            removeUnless(c, adjustAttribute(c, "ref"));
        if (childElements(sort, "sortCondition").empty())
            sort.parent().remove_child(sort);
    };

    std::vector<pugi::xml_node> top;
    for (pugi::xml_node n = root.first_child(); n; n = n.next_sibling())
        top.push_back(n);
    for (pugi::xml_node n : top) {
        if (n.type() != pugi::node_element)
            continue;
        if (isElement(n, "dimension")) {
            if (!adjustAttribute(n, "ref"))
                n.attribute("ref").set_value("A1");
        } else if (isElement(n, "cols") && !rows) {
            for (pugi::xml_node col : childElements(n, "col")) {
                int first = intAttribute(col, "min", 0);
                int last = intAttribute(col, "max", first);
                if (first < 1 || !formula::adjustSpan(first, last, first != last, m_edit)) {
                    n.remove_child(col);
                    continue;
                }
                col.attribute("min").set_value(first);
                col.attribute("max").set_value(last);
            }
            if (childElements(n, "col").empty())
                root.remove_child(n);
        } else if (isElement(n, "mergeCells")) {
            for (pugi::xml_node m : childElements(n, "mergeCell")) {
                // A merge left with one cell is no merge.
                bool kept = adjustAttribute(m, "ref");
                if (kept) {
                    const auto r = plainRange(m.attribute("ref").value());
                    kept = r && (r->rowCount() > 1 || r->columnCount() > 1);
                }
                removeUnless(m, kept);
            }
            recount(n, "mergeCell");
        } else if (isElement(n, "hyperlinks")) {
            for (pugi::xml_node h : childElements(n, "hyperlink"))
                removeUnless(h, adjustAttribute(h, "ref"));
            if (childElements(n, "hyperlink").empty())
                root.remove_child(n);
        } else if (isElement(n, "conditionalFormatting")) {
            removeUnless(n, adjustList(n));
        } else if (isElement(n, "dataValidations")) {
            for (pugi::xml_node v : childElements(n, "dataValidation"))
                removeUnless(v, adjustList(v));
            recount(n, "dataValidation");
        } else if (isElement(n, "protectedRanges")) {
            for (pugi::xml_node p : childElements(n, "protectedRange"))
                removeUnless(p, adjustList(p));
            if (childElements(n, "protectedRange").empty())
                root.remove_child(n);
        } else if (isElement(n, "ignoredErrors")) {
            for (pugi::xml_node p : childElements(n, "ignoredError"))
                removeUnless(p, adjustList(p));
            if (childElements(n, "ignoredError").empty())
                root.remove_child(n);
        } else if (isElement(n, "autoFilter")) {
            const auto before = plainRange(n.attribute("ref").value());
            if (!adjustAttribute(n, "ref")) {
                root.remove_child(n);
                continue;
            }
            const auto after = plainRange(n.attribute("ref").value());
            if (!rows && before && after) {
                // Filter columns are counted from the filter's first column.
                for (pugi::xml_node fc : childElements(n, "filterColumn")) {
                    const int column = before->firstColumn + intAttribute(fc, "colId", 0);
                    const std::optional<int> moved = formula::shiftIndex(column, m_edit);
                    if (!moved) {
                        n.remove_child(fc);
                        continue;
                    }
                    fc.attribute("colId").set_value(*moved - after->firstColumn);
                }
            }
            adjustSort(firstChildElement(n, "sortState"));
        } else if (isElement(n, "sortState")) {
            adjustSort(n);
        } else if (isElement(n, rows ? "rowBreaks" : "colBreaks")) {
            // A break's id is the row (column) after which the page ends.
            for (pugi::xml_node b : childElements(n, "brk")) {
                const std::optional<int> moved = formula::shiftIndex(intAttribute(b, "id", 0), m_edit);
                if (!moved)
                    n.remove_child(b);
                else
                    b.attribute("id").set_value(*moved);
            }
            const std::size_t count = childElements(n, "brk").size();
            if (count == 0) {
                root.remove_child(n);
            } else {
                if (n.attribute("count"))
                    n.attribute("count").set_value(static_cast<unsigned>(count));
                if (n.attribute("manualBreakCount"))
                    n.attribute("manualBreakCount").set_value(static_cast<unsigned>(count));
            }
        } else if (isElement(n, "drawing")) {
            // Handled through the sheet's relationships (prepareTables).
        }
    }
}

void RowColumnEdit::moveCells(WorksheetWork& work)
{
    const bool rows = m_edit.axis == SheetEdit::Axis::Rows;
    // Row numbers first (row edits), then every cell's reference.
    std::map<pugi::xml_node_struct*, int> newRow;
    int rowNumber = 0;
    std::vector<pugi::xml_node> dropRows;
    for (pugi::xml_node row = work.sheetData.first_child(); row; row = row.next_sibling()) {
        if (!isElement(row, "row"))
            continue;
        rowNumber = intAttribute(row, "r", rowNumber + 1);
        int target = rowNumber;
        if (rows) {
            const std::optional<int> moved = formula::shiftIndex(rowNumber, m_edit);
            if (!moved) {
                dropRows.push_back(row);
                continue;
            }
            target = *moved;
        }
        newRow[row.internal_object()] = target;
        if (target != rowNumber || !row.attribute("r"))
            setAttribute(row, "r", std::to_string(target));
        if (!rows)
            row.remove_attribute("spans"); // a hint only; the cells now span other columns
    }
    for (const WorksheetWork::CellAt& c : work.cells) {
        const auto it = newRow.find(c.node.parent().internal_object());
        if (it == newRow.end())
            continue; // its row goes
        int column = c.column;
        if (!rows) {
            const std::optional<int> moved = formula::shiftIndex(c.column, m_edit);
            if (!moved) {
                c.node.parent().remove_child(c.node);
                continue;
            }
            column = *moved;
        }
        const std::string ref = cellReference(it->second, column);
        if (ref != c.node.attribute("r").value())
            setAttribute(c.node, "r", ref);
    }
    for (pugi::xml_node row : dropRows)
        work.sheetData.remove_child(row);
    if (m_edit.insert && m_edit.first > 1)
        copyFormats(work, newRow);
}

void RowColumnEdit::copyFormats(WorksheetWork& work, const std::map<pugi::xml_node_struct*, int>& rowNumbers)
{
    // The application's insertion takes the formats of the row above (column to the left):
    // the new cells get their styles, the new row its height and style, the new column its width.
    const bool rows = m_edit.axis == SheetEdit::Axis::Rows;
    const int source = m_edit.first - 1;
    const auto styledCell = [](pugi::xml_node after, const std::string& ref, const char* style) {
        pugi::xml_node c = after.parent().insert_child_after(pugi::node_element, after);
        c.set_name(after.name());
        c.append_attribute("r").set_value(ref.c_str());
        c.append_attribute("s").set_value(style);
    };
    const auto styled = [](pugi::xml_node cell) {
        const char* s = cell.attribute("s").value();
        return *s && std::strcmp(s, "0") != 0;
    };
    if (rows) {
        for (pugi::xml_node row = work.sheetData.first_child(); row; row = row.next_sibling()) {
            const auto it = rowNumbers.find(row.internal_object());
            if (it == rowNumbers.end() || it->second != source)
                continue;
            pugi::xml_node copy = work.sheetData.insert_child_after(pugi::node_element, row);
            copy.set_name(row.name());
            for (pugi::xml_attribute a = row.first_attribute(); a; a = a.next_attribute())
                copy.append_attribute(a.name()).set_value(a.value());
            copy.attribute("r").set_value(m_edit.first);
            for (pugi::xml_node c : childElements(row, "c")) {
                if (!styled(c))
                    continue;
                int r = 0, column = 0;
                if (!parseCellReference(c.attribute("r").value(), r, column))
                    continue;
                pugi::xml_node last = copy.last_child();
                pugi::xml_node n = last ? copy.insert_child_after(pugi::node_element, last)
                                        : copy.append_child(pugi::node_element);
                n.set_name(c.name());
                n.append_attribute("r").set_value(cellReference(m_edit.first, column).c_str());
                n.append_attribute("s").set_value(c.attribute("s").value());
            }
            return;
        }
        return;
    }
    for (const WorksheetWork::CellAt& c : work.cells) {
        if (c.column != source || !styled(c.node))
            continue;
        const auto it = rowNumbers.find(c.node.parent().internal_object());
        if (it != rowNumbers.end())
            styledCell(c.node, cellReference(it->second, m_edit.first), c.node.attribute("s").value());
    }
    pugi::xml_node cols = firstChildElement(work.copy.root(), "cols");
    for (pugi::xml_node col : childElements(cols, "col")) {
        if (intAttribute(col, "max", 0) != source)
            continue;
        pugi::xml_node next = col.next_sibling();
        if (next && isElement(next, "col") && intAttribute(next, "min", 0) <= m_edit.first)
            return;
        pugi::xml_node copy = cols.insert_child_after(pugi::node_element, col);
        copy.set_name(col.name());
        for (pugi::xml_attribute a = col.first_attribute(); a; a = a.next_attribute())
            copy.append_attribute(a.name()).set_value(a.value());
        copy.attribute("min").set_value(m_edit.first);
        copy.attribute("max").set_value(m_edit.first);
        return;
    }
}

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
                                  ? (m_edit.first > ref->firstColumn && m_edit.first <= ref->lastColumn)
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
            if (!namedSourceHit(*workbook, toUtf8(attributeText(source.attribute("name").value()))))
                continue;
            return refuse(
                QStringLiteral("the edit would change the range %1 that a pivot table takes its data from")
                    .arg(attributeText(source.attribute("name").value())));
        }
        if (!formula::sheetNamesEqual(toUtf8(attributeText(source.attribute("sheet").value())), m_editedName))
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
        if (!formula::sheetNamesEqual(toUtf8(attributeText(n.attribute("name").value())), name))
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
        if (!formula::sheetNamesEqual(toUtf8(attributeText(table.root().attribute("displayName").value())),
                                      name))
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

bool NativeSheet::editLines(const SheetEdit& edit)
{
    if (!worksheet())
        return false;
    const bool rows = edit.axis == SheetEdit::Axis::Rows;
    if (edit.first < 1 || edit.first > edit.limit()) {
        m_lastError = QStringLiteral("there is no %1 %2 on the sheet")
                          .arg(rows ? QStringLiteral("row") : QStringLiteral("column"))
                          .arg(edit.first);
        return false;
    }
    std::vector<RowColumnEdit::SheetPart> parts;
    std::vector<NativeSheet*> sheets;
    std::size_t edited = 0;
    for (int i = 1; i <= m_workbook.sheetCount(); ++i) {
        auto* s = dynamic_cast<NativeSheet*>(m_workbook.sheet(i));
        if (!s)
            continue;
        if (s == this)
            edited = parts.size();
        parts.push_back({toUtf8(s->m_name), s->m_partName, s->m_hasGrid});
        sheets.push_back(s);
    }
    RowColumnEdit work(m_workbook.package(), std::move(parts), edited, edit);
    m_adjustedFormulas = -1;
    if (!work.prepare()) {
        m_lastError = work.error();
        return false;
    }
    const bool applied = work.apply();
    // The parts those sheets held were renewed; they fetch them afresh.
    for (NativeSheet* s : sheets) {
        for (const std::string& name : work.replacedWorksheets()) {
            if (name == s->m_partName)
                s->m_worksheet = nullptr;
        }
    }
    m_workbook.contentsChanged();
    if (!applied) {
        m_lastError = work.error();
        return false;
    }
    m_adjustedFormulas = work.adjustedFormulas();
    return true;
}

bool NativeSheet::deletionsCanWait(SheetEdit::Axis axis)
{
    // What refuses a deletion depending on which lines go: array formulas and data tables,
    // tables, pivot tables and their sources, form controls. Protection and unreadable parts
    // refuse every deletion alike, and the one that went through in full has ruled them out.
    if (!m_workbook.deletionsMayWait() || m_deletedAlong != axis || m_workbook.hasPivotCaches())
        return false;
    Worksheet* ws = worksheet();
    if (!ws || ws->grid().rows().empty())
        return false;
    const auto mayRefuse = [](std::string_view text) {
        return text.find("array") != std::string_view::npos ||
               text.find("dataTable") != std::string_view::npos;
    };
    if (ws->anyPiece(mayRefuse))
        return false;
    Package& package = m_workbook.package();
    const std::string relsName = Relationships::relsPartFor(m_partName);
    if (!package.contains(relsName))
        return true;
    auto* rels = package.part<Relationships>(relsName);
    if (!rels)
        return false;
    rels->setSource(m_partName);
    for (const Relationship& r : rels->all()) {
        if (r.type.find("/table") != std::string::npos || r.type.find("/pivotTable") != std::string::npos)
            return false;
        if (r.type.find("/vmlDrawing") == std::string::npos || r.external || !package.contains(r.target))
            continue;
        // Notes move with their cells; any other object in a legacy drawing is a control.
        std::string vml;
        if (package.isLoaded(r.target)) {
            XmlPart* loaded = package.part<XmlPart>(r.target);
            if (!loaded)
                return false;
            vml = loaded->serialize();
        } else if (!package.read(r.target, vml)) {
            return false;
        }
        std::size_t objects = 0;
        std::size_t notes = 0;
        for (std::size_t at = vml.find("ObjectType"); at != std::string::npos;
             at = vml.find("ObjectType", at + 1)) {
            ++objects;
            if (vml.compare(at, 17, "ObjectType=\"Note\"") == 0)
                ++notes;
        }
        if (objects != notes)
            return false;
    }
    return true;
}

bool NativeSheet::deleteLine(SheetEdit::Axis axis, int index)
{
    if (m_deferred && m_deferred->axis() == axis && m_deferred->remove(index))
        return true;
    m_workbook.settle();
    // A walk that searches in formulas takes every deletion in before its next search anyway.
    if (!m_lastFindInFormulas && deletionsCanWait(axis)) {
        const bool rows = axis == SheetEdit::Axis::Rows;
        int extent = 1;
        for (const GridRow& row : m_worksheet->grid().rows()) {
            extent = std::max(extent, rows ? row.row : (row.cells.empty() ? 1 : row.cells.back().column));
        }
        auto deferred = std::make_unique<DeferredLines>(axis, extent);
        if (deferred->remove(index)) {
            m_deferred = std::move(deferred);
            m_workbook.deferring(this);
            return true;
        }
    }
    const bool done = editLines(axis == SheetEdit::Axis::Rows ? SheetEdit::deleteRows(index)
                                                              : SheetEdit::deleteColumns(index));
    if (done)
        m_deletedAlong = axis;
    else
        m_deletedAlong.reset();
    return done;
}

bool NativeSheet::settleDeletions()
{
    const std::unique_ptr<DeferredLines> deferred = std::move(m_deferred);
    if (!deferred || deferred->empty())
        return true;
    return editLines(SheetEdit::deleteLines(deferred->axis(), deferred->deleted()));
}

bool NativeSheet::deleteRow(int row)
{
    return deleteLine(SheetEdit::Axis::Rows, row);
}

bool NativeSheet::deleteColumn(int column)
{
    return deleteLine(SheetEdit::Axis::Columns, column);
}

bool NativeSheet::insertRow(int row)
{
    return editLines(SheetEdit::insertRows(row));
}

bool NativeSheet::insertColumn(int column)
{
    return editLines(SheetEdit::insertColumns(column));
}

} // namespace corvane::automation::native
