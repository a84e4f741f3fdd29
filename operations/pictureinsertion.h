// Picture insertion: one picture file placed at located cells of every visited sheet, after
// deleting the drawing objects that sit just above each target when asked.
#pragma once

#include "operations/celllocating.h"
#include "run/operation.h"

#include <QString>

namespace corvane::automation {

struct PictureInsertionOptions
{
    CellLocating locating;
    QString picPath;             // the picture to insert (the converted one); empty: insert nothing
    bool picTransparent = false; // picPath is a converted copy, deleted at the end of the run
    bool picDeleteOld = false;
    int picRight = 0, picLeft = 0, picDown = 0, picUp = 0; // offsets in points
    int picWidth = 0, picHeight = 0;                       // points; below 1: the picture's own size
};

class PictureInsertionOperation : public Operation
{
public:
    explicit PictureInsertionOperation(PictureInsertionOptions options);

    bool sendsStartNotes() const override { return true; }
    QString progressLine(const QString& path) const override;
    bool quitsBeforeSummary() const override { return false; }

    void takeUpWorkbook(const QString& path) override { m_workbookPath = path; }
    WorkKind workKind() const override { return WorkKind::Pictures; }
    void beginWorkbook() override;
    void dropWorkbook() override;
    AfterSheet workOnSheet(Sheet& sheet, RunSink& sink) override;
    WorkbookOutcome endWorkbook() override;
    void finishRun(const RunTotals& totals, RunSink& sink) override;
    std::unique_ptr<Operation> workbookCopy() const override;
    void foldWorkbook(const Operation& copy) override;

    int cellCount() const { return m_cells; }
    // The size passed for each picture: -1 asks for the picture's own size.
    int width() const { return m_options.picWidth; }
    int height() const { return m_options.picHeight; }

private:
    // Returns whether the sheet's stop flag is set.
    bool workAppointed(Sheet& sheet, RunSink& sink);
    bool workSearched(Sheet& sheet, const RangeAddress& range, RunSink& sink);
    // Deletes the objects above the target and inserts the picture; counts the anchor unless
    // an insertion was tried and failed.
    void processAnchor(Sheet& sheet, const CellAddress& target, RunSink& sink);
    // Where an inserted picture went, for the report.
    QString pictureDetail(double left, double top) const;

    PictureInsertionOptions m_options;
    QString m_workbookPath;
    bool m_modified = false;
    bool m_refused = false; // a picture of the workbook was refused
    int m_cells = 0;
    int m_cellsBefore = 0; // m_cells when the current workbook was taken up
};

} // namespace corvane::automation
