// A row or column edit in what a worksheet keeps outside its cells: merges, conditional
// formats, validations, hyperlinks, filters and sorts, page breaks, and the formulas and
// ranges of the extension lists.
#include "rowcolumnedit.h"

#include "rowcolumnwork.h"
#include "xmlelement.h"

#include "formula/formularewriter.h"

#include <pugixml.hpp>

namespace corvane::automation::native {

using formula::SheetEdit;

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

} // namespace corvane::automation::native
