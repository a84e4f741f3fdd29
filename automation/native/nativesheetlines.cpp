// Deleting and inserting rows and columns of a native sheet: the edit itself is RowColumnEdit's;
// here deletions one line at a time are gathered and taken out together when they may wait.
#include "deferredlines.h"
#include "nativesheet.h"
#include "nativeworkbook.h"
#include "package.h"
#include "relationships.h"
#include "rowcolumnedit.h"
#include "rowcolumnwork.h"
#include "worksheet.h"
#include "xmltext.h"
#include "xmlpart.h"

#include <algorithm>
#include <memory>
#include <string_view>

namespace corvane::automation::native {

using formula::SheetEdit;

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
        parts.push_back({utf8String(s->m_name), s->m_partName, s->m_hasGrid});
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
