#include "operations/celljob.h"

#include "run/runsink.h"
#include "automation/sheet.h"

#include <utility>

namespace corvane::automation {

QString invalidRangeMessage(const QString& workbookPath)
{
    return QStringLiteral("此文件指定区域无效,请重新设置!") + workbookPath;
}

QString cellJobSummary(int opened, int changed, int cells, qint64 seconds)
{
    return QStringLiteral("成功查找") + QString::number(opened) + QStringLiteral("个Excel文件,修改") +
           QString::number(changed) + QStringLiteral("个Excel文件,修改") + QString::number(cells) +
           QStringLiteral("个单元格。耗时") + QString::number(seconds) + QStringLiteral("秒。");
}

CellJobOperation::CellJobOperation(CellLocating locating) : m_locating(std::move(locating)) {}

QString CellJobOperation::progressLine(const QString& path) const
{
    return QStringLiteral("正在修改：") + path;
}

void CellJobOperation::beginWorkbook()
{
    m_refused = false;
    m_changed = false;
    m_cellsBefore = m_cells;
}

void CellJobOperation::dropWorkbook()
{
    m_cells = m_cellsBefore;
}

Operation::AfterSheet CellJobOperation::workOnSheet(Sheet& sheet, RunSink& sink)
{
    m_sink = &sink;
    m_reported.clear();
    // A sheet without a cell grid (a chart sheet) has no used range. It is no mistake of the
    // user's, so it is passed over rather than taken for an invalid find range.
    const std::optional<RangeAddress> used = sheet.usedRange();
    if (!used)
        return AfterSheet::NextSheet;
    const std::optional<RangeAddress> range =
        m_locating.usesFindRange() ? sheet.range(m_locating.findRange) : used;
    if (!range) {
        // Every later workbook would fail the same way: stop before anything more is changed.
        sink.status(invalidRangeMessage(m_workbookPath));
        return AfterSheet::EndRun;
    }

    sink.status(sheetLine(sheet.name(), *range));
    if (m_locating.appointCellOn)
        return workAppointedCells(sheet);
    if (isSingleEmptyCell(sheet, *range))
        return AfterSheet::NextSheet;
    return walkSheet(sheet, *range);
}

Operation::AfterSheet CellJobOperation::workAppointedCells(Sheet& sheet)
{
    // Each item is resolved on the sheet as the earlier items left it.
    bool lastNamedCell = false;
    for (const QString& item : appointedCellItems(m_locating.appointCells)) {
        const std::optional<RangeAddress> named = sheet.range(item);
        lastNamedCell = named.has_value();
        if (!named)
            continue;
        if (operateOnAppointed(sheet, named->topLeft()))
            countCell();
    }
    // Once per sheet means nothing for a list; once per workbook ends the workbook only when
    // the list's last item named a cell.
    if (m_locating.workbookFillOnce && lastNamedCell)
        return AfterSheet::EndWorkbook;
    return AfterSheet::NextSheet;
}

void CellJobOperation::countCell()
{
    ++m_cells;
    m_changed = true;
}

void CellJobOperation::recordChange(ChangeRecord record)
{
    record.workbook = m_workbookPath;
    if (m_sink)
        m_sink->change(record);
}

void CellJobOperation::reportRefusal(Sheet& sheet, const QString& what, const QString& reason)
{
    m_refused = true;
    if (m_sink && !m_reported.contains(reason)) {
        m_reported.insert(reason);
        m_sink->workbookFailed(m_workbookPath, QStringLiteral("sheet \"%1\": ").arg(sheet.name()) + what +
                                                   QStringLiteral(": ") + reason);
    }
}

Operation::WorkbookOutcome CellJobOperation::endWorkbook()
{
    if (m_changed)
        return {true, ResultList::Matched};
    // Nothing was done because the server refused it: the workbook was not worked on as asked.
    if (m_refused)
        return {false, ResultList::OpenFailed};
    return {false, ResultList::Unmatched};
}

void finishCellJobRun(const RunTotals& totals, int cells, RunSink& sink)
{
    sink.status(cellJobSummary(totals.opened, totals.matched, cells, totals.seconds));
    sink.runEnded();
    if (!totals.openFailedList.isEmpty())
        sink.writeList(ResultList::OpenFailed, totals.openFailedList);
    if (!totals.matchedList.isEmpty() && totals.matched != totals.opened)
        sink.writeList(ResultList::Matched, totals.matchedList);
    if (!totals.unmatchedList.isEmpty())
        sink.writeList(ResultList::Unmatched, totals.unmatchedList);
}

std::unique_ptr<Operation> CellJobOperation::uncounted(std::unique_ptr<CellJobOperation> copy)
{
    copy->m_workbookPath.clear();
    copy->m_sink = nullptr;
    copy->m_reported.clear();
    copy->m_refused = false;
    copy->m_changed = false;
    copy->m_cells = 0;
    copy->m_cellsBefore = 0;
    return copy;
}

void CellJobOperation::foldWorkbook(const Operation& copy)
{
    m_cells += static_cast<const CellJobOperation&>(copy).m_cells;
}

void CellJobOperation::finishRun(const RunTotals& totals, RunSink& sink)
{
    finishCellJobRun(totals, m_cells, sink);
}

} // namespace corvane::automation
