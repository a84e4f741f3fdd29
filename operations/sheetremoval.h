// Sheet removal: from every workbook, delete the first sheet or the first one with the appointed
// name. At most one sheet goes per workbook.
#pragma once

#include "run/operation.h"

#include <QString>

namespace corvane::automation {

// "查找修改2个Excel文件,耗时15秒。"
QString removeSheetSummary(int deleted, qint64 seconds);
// "查找3个Excel文件,删除2个Sheet,耗时15秒。"
QString removeSheetDeletedSummary(int opened, int deleted, qint64 seconds);

// The 1-based position of the sheet to delete, 0 for none: sheet 1 when no name is appointed,
// else the first considered sheet whose name equals the appointed one exactly (only sheet 1 is
// considered under onlyFirstSheet).
int pickSheet(Workbook& workbook, const SheetChoice& choice);

class SheetRemovalOperation : public Operation
{
public:
    void takeUpWorkbook(const QString& path) override { m_path = path; }
    WorkKind workKind() const override { return WorkKind::SheetRemoval; }
    void beginWorkbook() override;
    bool picksOwnSheets() const override { return true; }
    void workOnWorkbook(Workbook& workbook, const SheetChoice& choice, RunSink& sink) override;
    AfterSheet workOnSheet(Sheet& sheet, RunSink& sink) override;
    WorkbookOutcome endWorkbook() override;
    void finishRun(const RunTotals& totals, RunSink& sink) override;
    std::unique_ptr<Operation> workbookCopy() const override;

private:
    enum class Result
    {
        NothingPicked,
        Deleted,
        Refused
    };
    QString m_path;
    Result m_result = Result::NothingPicked;
};

} // namespace corvane::automation
