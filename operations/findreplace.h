// Find and replace over the selected sheets, or (list only) just find out which workbooks
// hold the text.
#pragma once

#include "run/operation.h"
#include "automation/replaceplaces.h"

#include <QString>

#include <utility>

namespace corvane::automation {

struct ReplaceOptions
{
    ReplaceOptions() = default;
    ReplaceOptions(QString find, QString replace, bool listOnly = false, ReplacePlaces also = {})
        : findText(std::move(find)), replaceText(std::move(replace)), justShow(listOnly), places(also)
    {
    }

    QString findText; // passed to the server as typed, even when empty
    QString replaceText;
    bool justShow = false; // find only: no replace, no save
    ReplacePlaces places;  // where else than in cells the text is found and replaced
};

// "查找修改2个Excel文件,耗时15秒。"
QString replaceSummary(int matched, qint64 seconds);
// "查找3个Excel文件,包含查找内容有2个Excel文件,耗时15秒。"
QString replaceMatchedSummary(int opened, int matched, qint64 seconds);

class FindReplaceOperation : public Operation
{
public:
    explicit FindReplaceOperation(ReplaceOptions options);

    WorkKind workKind() const override
    {
        return m_options.places.any() ? WorkKind::FindReplaceBeyondCells : WorkKind::FindReplace;
    }
    void takeUpWorkbook(const QString& path) override { m_workbookPath = path; }
    void beginWorkbook() override;
    AfterSheet workOnSheet(Sheet& sheet, RunSink& sink) override;
    void afterSheets(Workbook& workbook, const SheetChoice& choice, RunSink& sink) override;
    WorkbookOutcome endWorkbook() override;
    void finishRun(const RunTotals& totals, RunSink& sink) override;
    std::unique_ptr<Operation> workbookCopy() const override;

private:
    PlaceEdit placeEdit() const;
    // `sheet` is the sheet the places belong to, empty for the workbook's own places.
    void takePlaceOutcome(const PlaceOutcome& outcome, const QString& sheet, RunSink& sink);
    void renameSheets(Workbook& workbook, const SheetChoice& choice, RunSink& sink);

    ReplaceOptions m_options;
    QString m_workbookPath;
    bool m_matched = false;         // the workbook's first find has succeeded; no further find is made
    bool m_changed = false;         // a replacement changed a cell of the workbook
    bool m_refused = false;         // the server refused a replacement in the workbook
    bool m_toldUnsupported = false; // the workbook's unreachable places were reported
};

} // namespace corvane::automation
