// A row or column edit in the cells of a worksheet: the cells and their rows move, their
// formulas follow, shared formula groups are kept or written out, and inserted lines take
// their neighbours' formats.
#include "rowcolumnedit.h"

#include "cellgrid.h"
#include "rowcolumnwork.h"
#include "xmlelement.h"

#include "formula/formularewriter.h"

#include <pugixml.hpp>

#include <algorithm>
#include <cstring>
#include <map>
#include <unordered_map>

namespace corvane::automation::native {

using formula::SheetEdit;

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
        const std::string masterText = decodedUtf8(g.master.child_value());
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
                setText(g.master, encodedXml(adjustedMaster, false));
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
            setText(f, encodedXml(memberTexts[i], false));
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
    if (m_edit.insert && (m_edit.lines || m_edit.first > 1))
        copyFormats(work, newRow);
}

void RowColumnEdit::copyFormats(WorksheetWork& work, const std::map<pugi::xml_node_struct*, int>& rowNumbers)
{
    // The application's insertion takes the formats of the row above (column to the left):
    // the new cells get their styles, the new row its height and style, the new column its width.
    // New lines made together are made as one after another from the top: one right after
    // another takes the formats the earlier one took.
    std::vector<int> made; // where the new lines end up, ascending; the first line has none before it
    if (m_edit.lines) {
        for (std::size_t k = 0; k < m_edit.lines->size(); ++k) {
            const int line = (*m_edit.lines)[k] + static_cast<int>(k);
            if (line > 1)
                made.push_back(line);
        }
    } else {
        made.push_back(m_edit.first);
    }
    const auto isMade = [&made](int line) { return std::binary_search(made.begin(), made.end(), line); };
    const bool rows = m_edit.axis == SheetEdit::Axis::Rows;
    const auto styledCell = [](pugi::xml_node after, const std::string& ref, const char* style) {
        pugi::xml_node c = after.parent().insert_child_after(pugi::node_element, after);
        c.set_name(after.name());
        c.append_attribute("r").set_value(ref.c_str());
        c.append_attribute("s").set_value(style);
        return c;
    };
    const auto styled = [](pugi::xml_node cell) {
        const char* s = cell.attribute("s").value();
        return *s && std::strcmp(s, "0") != 0;
    };
    if (rows) {
        std::unordered_map<int, pugi::xml_node> byNumber; // the first row of each number
        for (pugi::xml_node row = work.sheetData.first_child(); row; row = row.next_sibling()) {
            const auto it = rowNumbers.find(row.internal_object());
            if (it != rowNumbers.end())
                byNumber.emplace(it->second, row);
        }
        for (const int line : made) {
            const auto source = byNumber.find(line - 1);
            if (source == byNumber.end())
                continue;
            const pugi::xml_node row = source->second;
            pugi::xml_node copy = work.sheetData.insert_child_after(pugi::node_element, row);
            copy.set_name(row.name());
            for (pugi::xml_attribute a = row.first_attribute(); a; a = a.next_attribute())
                copy.append_attribute(a.name()).set_value(a.value());
            copy.attribute("r").set_value(line);
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
                n.append_attribute("r").set_value(cellReference(line, column).c_str());
                n.append_attribute("s").set_value(c.attribute("s").value());
            }
            byNumber.emplace(line, copy);
        }
        return;
    }
    for (const WorksheetWork::CellAt& c : work.cells) {
        const std::optional<int> column = formula::shiftIndex(c.column, m_edit);
        if (!column || !isMade(*column + 1) || !styled(c.node))
            continue;
        const auto it = rowNumbers.find(c.node.parent().internal_object());
        if (it == rowNumbers.end())
            continue;
        pugi::xml_node after = c.node;
        for (int line = *column + 1; isMade(line); ++line)
            after = styledCell(after, cellReference(it->second, line), c.node.attribute("s").value());
    }
    pugi::xml_node cols = firstChildElement(work.copy.root(), "cols");
    if (!cols)
        return;
    for (const int line : made) {
        for (pugi::xml_node col : childElements(cols, "col")) {
            if (intAttribute(col, "max", 0) != line - 1)
                continue;
            pugi::xml_node next = col.next_sibling();
            if (next && isElement(next, "col") && intAttribute(next, "min", 0) <= line)
                break;
            pugi::xml_node copy = cols.insert_child_after(pugi::node_element, col);
            copy.set_name(col.name());
            for (pugi::xml_attribute a = col.first_attribute(); a; a = a.next_attribute())
                copy.append_attribute(a.name()).set_value(a.value());
            copy.attribute("min").set_value(line);
            copy.attribute("max").set_value(line);
            break;
        }
    }
}

} // namespace corvane::automation::native
