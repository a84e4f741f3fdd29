// Find and replace over the selected sheets, or (list only) just find out which workbooks
// hold the text.
#pragma once

#include "operation.h"

#include <QString>

namespace corvane::automation {

struct ReplaceOptions
{
    QString findText; // passed to the server as typed, even when empty
    QString replaceText;
    bool justShow = false; // find only: no replace, no save
};

// "查找修改2个Excel文件,耗时15秒。"
QString replaceSummary(int matched, qint64 seconds);
// "查找3个Excel文件,包含查找内容有2个Excel文件,耗时15秒。"
QString replaceMatchedSummary(int opened, int matched, qint64 seconds);

class FindReplaceOperation : public Operation
{
public:
    explicit FindReplaceOperation(ReplaceOptions options);

    void takeUpWorkbook(const QString& path) override { m_workbookPath = path; }
    void beginWorkbook() override;
    AfterSheet workOnSheet(Sheet& sheet, RunSink& sink) override;
    WorkbookOutcome endWorkbook() override;
    void finishRun(const RunTotals& totals, RunSink& sink) override;
    std::unique_ptr<Operation> workbookCopy() const override;

private:
    ReplaceOptions m_options;
    QString m_workbookPath;
    bool m_matched = false; // the workbook's first find has succeeded; no further find is made
    bool m_changed = false; // a replacement changed a cell of the workbook
    bool m_refused = false; // the server refused a replacement in the workbook
};

} // namespace corvane::automation
