#include "findreplace.h"

#include "runsink.h"
#include "sheet.h"

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
}

Operation::AfterSheet FindReplaceOperation::workOnSheet(Sheet& sheet, RunSink& sink)
{
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
        if (sheet.replace(*used, m_options.findText, m_options.replaceText))
            m_changed = true;
        const QString refusal = sheet.replaceRefusal();
        if (!refusal.isEmpty()) {
            m_refused = true;
            sink.workbookFailed(m_workbookPath, QStringLiteral("sheet \"%1\": ").arg(sheet.name()) + refusal);
        }
    }
    return AfterSheet::NextSheet;
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
