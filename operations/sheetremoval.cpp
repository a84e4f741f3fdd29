#include "operations/sheetremoval.h"

#include "operations/findreplace.h"
#include "automation/sheet.h"
#include "automation/workbook.h"

namespace corvane::automation {

QString removeSheetSummary(int deleted, qint64 seconds)
{
    // The short summary reads as find and replace's.
    return replaceSummary(deleted, seconds);
}

QString removeSheetDeletedSummary(int opened, int deleted, qint64 seconds)
{
    return QStringLiteral("查找") + QString::number(opened) + QStringLiteral("个Excel文件,") +
           QStringLiteral("删除") + QString::number(deleted) + QStringLiteral("个Sheet,") +
           QStringLiteral("耗时") + QString::number(seconds) + QStringLiteral("秒。");
}

int pickSheet(Workbook& workbook, const SheetChoice& choice)
{
    const int considered = choice.onlyFirstSheet ? 1 : workbook.sheetCount();
    for (int i = 1; i <= considered; ++i) {
        Sheet* sheet = workbook.sheet(i);
        if (!sheet)
            continue;
        if (!choice.appointedSheet || sheet->name() == choice.appointedSheetName)
            return i;
    }
    return 0;
}

void SheetRemovalOperation::beginWorkbook()
{
    m_result = Result::NothingPicked;
}

void SheetRemovalOperation::workOnWorkbook(Workbook& workbook, const SheetChoice& choice, RunSink& sink)
{
    const int picked = pickSheet(workbook, choice);
    if (picked == 0)
        return;
    const QString name = workbook.sheet(picked)->name();
    if (workbook.deleteSheet(picked)) {
        m_result = Result::Deleted;
        sink.change(ChangeRecord{m_path, name, {}, ChangeKind::SheetDeleted, {}, {}, {}});
        return;
    }
    // Counting a refused deletion, or saving after it, would report a change that never happened.
    m_result = Result::Refused;
    sink.workbookFailed(m_path, workbook.lastError());
}

Operation::AfterSheet SheetRemovalOperation::workOnSheet(Sheet&, RunSink&)
{
    // Never called: the operation picks its sheet from the whole workbook.
    return AfterSheet::EndWorkbook;
}

Operation::WorkbookOutcome SheetRemovalOperation::endWorkbook()
{
    switch (m_result) {
    case Result::Deleted:
        return {true, ResultList::Matched};
    case Result::Refused:
        // The window shows no per-workbook failures; the open-failed list is where the user
        // finds the workbooks the run could not change, as with a failed save.
        return {false, ResultList::OpenFailed};
    case Result::NothingPicked:
        break;
    }
    return {true, std::nullopt};
}

std::unique_ptr<Operation> SheetRemovalOperation::workbookCopy() const
{
    return std::make_unique<SheetRemovalOperation>();
}

void SheetRemovalOperation::finishRun(const RunTotals& totals, RunSink& sink)
{
    sink.status(removeSheetSummary(totals.matched, totals.seconds));
    sink.runEnded();
    if (!totals.openFailedList.isEmpty())
        sink.writeList(ResultList::OpenFailed, totals.openFailedList);
    if (!totals.matchedList.isEmpty()) {
        sink.status(removeSheetDeletedSummary(totals.opened, totals.matched, totals.seconds));
        sink.writeList(ResultList::Matched, totals.matchedList);
    }
}

} // namespace corvane::automation
