// What every cell operation (rewrite, rows and columns) shares once its run has started: the
// preparation of each sheet, the appointed-cell list, counting, the per-workbook decision and
// the end of the run. An operation adds what it does with a located cell and how it walks a
// sheet's matches.
#pragma once

#include "operations/celllocating.h"
#include "run/operation.h"

#include <QSet>
#include <QString>

#include <memory>

namespace corvane::automation {

// "此文件指定区域无效,请重新设置!" followed directly by the workbook's path.
QString invalidRangeMessage(const QString& workbookPath);
// "成功查找3个Excel文件,修改2个Excel文件,修改5个单元格。耗时1秒。"
QString cellJobSummary(int opened, int changed, int cells, qint64 seconds);
// The end of a cell or picture run: the summary, the end signal, then the result lists. The
// matched list is left out when every opened workbook was changed: the summary says it all.
void finishCellJobRun(const RunTotals& totals, int cells, RunSink& sink);

class CellJobOperation : public Operation
{
public:
    explicit CellJobOperation(CellLocating locating);

    bool sendsStartNotes() const override { return true; }
    QString progressLine(const QString& path) const override;
    bool quitsBeforeSummary() const override { return false; }

    void takeUpWorkbook(const QString& path) override { m_workbookPath = path; }
    void beginWorkbook() override;
    void dropWorkbook() override;
    AfterSheet workOnSheet(Sheet& sheet, RunSink& sink) override;
    WorkbookOutcome endWorkbook() override;
    void finishRun(const RunTotals& totals, RunSink& sink) override;
    void foldWorkbook(const Operation& copy) override;

    // Located cells operated on over the whole run.
    int cellCount() const { return m_cells; }

protected:
    const CellLocating& locating() const { return m_locating; }
    // For workbookCopy(): `copy` (a copy of this object) forgets the counts and the workbook in hand.
    static std::unique_ptr<Operation> uncounted(std::unique_ptr<CellJobOperation> copy);

    // One cell named by the appointed list; the offsets do not apply to it. False when the
    // server refused the operation (reported through reportRefusal): the cell is not counted.
    virtual bool operateOnAppointed(Sheet& sheet, const CellAddress& cell) = 0;
    // The search of one sheet that is not empty. Calls countCell() for every cell it operates
    // on; returns EndWorkbook when the workbook's remaining sheets are to be skipped.
    virtual AfterSheet walkSheet(Sheet& sheet, const RangeAddress& range) = 0;

    // One more located cell done; the workbook will be saved.
    void countCell();
    // A change made to the workbook in hand, for the report; its workbook is filled in here.
    void recordChange(ChangeRecord record);
    const QString& workbookPath() const { return m_workbookPath; }
    // A write or edit the server refused on `sheet`: reported with the server's reason, once per
    // sheet and reason (a protected sheet refuses every match alike). A workbook in which every
    // operation was refused is not saved and goes to the open-failed list.
    void reportRefusal(Sheet& sheet, const QString& what, const QString& reason);

private:
    AfterSheet workAppointedCells(Sheet& sheet);

    CellLocating m_locating;
    QString m_workbookPath;
    RunSink* m_sink = nullptr;
    QSet<QString> m_reported; // refusal reasons reported on the current sheet
    bool m_refused = false;   // some operation in the current workbook was refused
    bool m_changed = false;
    int m_cells = 0;
    int m_cellsBefore = 0; // m_cells when the current workbook was taken up
};

} // namespace corvane::automation
