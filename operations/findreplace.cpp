#include "operations/findreplace.h"

#include "run/runsink.h"
#include "automation/sheet.h"
#include "automation/workbook.h"

#include <algorithm>
#include <utility>

namespace corvane::automation {

QString replaceSummary(int matched, qint64 seconds)
{
    return QStringLiteral("查找修改") + QString::number(matched) + QStringLiteral("个Excel文件,") +
           QStringLiteral("耗时") + QString::number(seconds) + QStringLiteral("秒。");
}

QString replaceMatchedSummary(int opened, int matched, qint64 seconds)
{
    return QStringLiteral("查找") + QString::number(opened) + QStringLiteral("个Excel文件,") +
           QStringLiteral("包含查找内容有") + QString::number(matched) + QStringLiteral("个Excel文件,") +
           QStringLiteral("耗时") + QString::number(seconds) + QStringLiteral("秒。");
}

FindReplaceOperation::FindReplaceOperation(ReplaceOptions options) : m_options(std::move(options)) {}

void FindReplaceOperation::beginWorkbook()
{
    m_matched = false;
    m_changed = false;
    m_refused = false;
    m_toldUnsupported = false;
}

PlaceEdit FindReplaceOperation::placeEdit() const
{
    return {m_options.places, m_options.findText, m_options.replaceText, m_options.justShow};
}

void FindReplaceOperation::takePlaceOutcome(const PlaceOutcome& outcome, const QString& sheet, RunSink& sink)
{
    m_matched = m_matched || outcome.found;
    m_changed = m_changed || outcome.changed;
    for (const PlaceChange& c : outcome.changes)
        sink.change({m_workbookPath, sheet, c.cell, c.kind, c.before, c.after, c.detail});
    const QString where = sheet.isEmpty() ? QString() : QStringLiteral("sheet \"%1\": ").arg(sheet);
    if (!outcome.refusal.isEmpty()) {
        m_refused = true;
        sink.workbookFailed(m_workbookPath, where + outcome.refusal);
    }
    if (!outcome.unsupported.isEmpty() && !m_toldUnsupported) {
        m_toldUnsupported = true;
        sink.workbookFailed(m_workbookPath, outcome.unsupported);
    }
}

Operation::AfterSheet FindReplaceOperation::workOnSheet(Sheet& sheet, RunSink& sink)
{
    // The places lie outside the cells, so the look at the cells below does not cover them;
    // listing only needs the first hit.
    if (m_options.places.any() && !(m_options.justShow && m_matched))
        takePlaceOutcome(sheet.replaceInPlaces(placeEdit()), sheet.name(), sink);
    if (!sheet.mayHold(m_options.findText))
        return AfterSheet::NextSheet;
    // A sheet without a cell grid (a chart sheet) holds nothing to find.
    const std::optional<RangeAddress> used = sheet.usedRange();
    if (!used)
        return AfterSheet::NextSheet;
    if (!m_matched)
        m_matched =
            sheet.find(*used, FindQuery{m_options.findText, LookIn::Formulas, LookAt::Part}).has_value();
    // Sheets before the first match are replaced too; whether that is kept depends on the
    // workbook matching at all, since only matched workbooks are saved.
    if (!m_options.justShow) {
        const QString sheetName = sheet.name();
        const CellChanged report = [&](const CellAddress& cell, const QString& before, const QString& after) {
            sink.change(cellChange(m_workbookPath, sheetName, cell, before, after));
        };
        if (sheet.replace(*used, m_options.findText, m_options.replaceText, report))
            m_changed = true;
        const QString refusal = sheet.replaceRefusal();
        if (!refusal.isEmpty()) {
            m_refused = true;
            sink.workbookFailed(m_workbookPath, QStringLiteral("sheet \"%1\": ").arg(sheet.name()) + refusal);
        }
    }
    return AfterSheet::NextSheet;
}

void FindReplaceOperation::afterSheets(Workbook& workbook, const SheetChoice& choice, RunSink& sink)
{
    if (m_options.places.has(ReplacePlace::Links) && !(m_options.justShow && m_matched))
        takePlaceOutcome(workbook.replaceInPlaces(placeEdit()), QString(), sink);
    // Last, so that the sheets were found by the names they had when the run began.
    if (m_options.places.has(ReplacePlace::SheetNames))
        renameSheets(workbook, choice, sink);
}

void FindReplaceOperation::renameSheets(Workbook& workbook, const SheetChoice& choice, RunSink& sink)
{
    const int count = choice.onlyFirstSheet ? std::min(1, workbook.sheetCount()) : workbook.sheetCount();
    for (int i = 1; i <= count; ++i) {
        Sheet* sheet = workbook.sheet(i);
        if (!sheet)
            continue;
        const QString name = sheet->name();
        if (choice.appointedSheet && name != choice.appointedSheetName)
            continue;
        bool hit = false;
        const QString renamed = replaceWildcardText(name, m_options.findText, m_options.replaceText, &hit);
        if (!hit)
            continue;
        m_matched = true;
        if (m_options.justShow || renamed == name)
            continue;
        if (workbook.renameSheet(i, renamed)) {
            m_changed = true;
            sink.change({m_workbookPath, name, {}, ChangeKind::SheetRenamed, name, renamed, {}});
        } else {
            m_refused = true;
            const QString reason = workbook.lastError();
            sink.workbookFailed(
                m_workbookPath,
                QStringLiteral("sheet \"%1\": ").arg(name) +
                    (reason.isEmpty() ? QStringLiteral("the server cannot rename sheets") : reason));
        }
    }
}

Operation::WorkbookOutcome FindReplaceOperation::endWorkbook()
{
    if (!m_matched)
        return {false, ResultList::Unmatched};
    // Every replacement the workbook needed was refused: it was not changed as asked.
    if (m_refused && !m_changed)
        return {false, ResultList::OpenFailed};
    return {!m_options.justShow, ResultList::Matched};
}

std::unique_ptr<Operation> FindReplaceOperation::workbookCopy() const
{
    // Nothing is counted across workbooks: the skeleton counts the outcomes.
    return std::make_unique<FindReplaceOperation>(m_options);
}

void FindReplaceOperation::finishRun(const RunTotals& totals, RunSink& sink)
{
    sink.status(replaceSummary(totals.matched, totals.seconds));
    sink.runEnded();
    if (!totals.openFailedList.isEmpty())
        sink.writeList(ResultList::OpenFailed, totals.openFailedList);
    if (!totals.matchedList.isEmpty()) {
        sink.status(replaceMatchedSummary(totals.opened, totals.matched, totals.seconds));
        sink.writeList(ResultList::Matched, totals.matchedList);
    }
    if (!totals.unmatchedList.isEmpty())
        sink.writeList(ResultList::Unmatched, totals.unmatchedList);
}

} // namespace corvane::automation
