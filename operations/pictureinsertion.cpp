#include "operations/pictureinsertion.h"

#include "operations/celljob.h"
#include "automation/sheet.h"

#include <QDir>
#include <QFile>

#include <utility>

namespace corvane::automation {

QString PictureInsertionOperation::pictureDetail(double left, double top) const
{
    const auto size = [](int points) {
        return points < 1 ? QStringLiteral("own") : QString::number(points) + QStringLiteral("pt");
    };
    return QStringLiteral("left %1pt, top %2pt, width %3, height %4")
        .arg(left)
        .arg(top)
        .arg(size(m_options.picWidth), size(m_options.picHeight));
}

PictureInsertionOperation::PictureInsertionOperation(PictureInsertionOptions options)
    : m_options(std::move(options))
{
    // Sizes below one point ask for the picture's own size.
    if (m_options.picWidth < 1)
        m_options.picWidth = -1;
    if (m_options.picHeight < 1)
        m_options.picHeight = -1;
}

QString PictureInsertionOperation::progressLine(const QString& path) const
{
    return QStringLiteral("正在修改：") + path;
}

void PictureInsertionOperation::beginWorkbook()
{
    m_modified = false;
    m_refused = false;
    m_cellsBefore = m_cells;
}

void PictureInsertionOperation::dropWorkbook()
{
    m_cells = m_cellsBefore;
}

Operation::AfterSheet PictureInsertionOperation::workOnSheet(Sheet& sheet, RunSink& sink)
{
    // Unlike the cell rewrite, a find range the sheet does not accept falls back to the used
    // range without a word. A sheet without cells (a chart sheet) has neither and is passed over.
    const CellLocating& where = m_options.locating;
    std::optional<RangeAddress> range = sheet.usedRange();
    if (where.usesFindRange())
        range = sheet.range(where.findRange);
    if (!range)
        range = sheet.usedRange();
    if (!range)
        return AfterSheet::NextSheet;

    sink.status(sheetLine(sheet.name(), *range));
    bool stop = false;
    if (where.appointCellOn)
        stop = workAppointed(sheet, sink);
    else if (!isSingleEmptyCell(sheet, *range))
        stop = workSearched(sheet, *range, sink);
    return stop && where.workbookFillOnce ? AfterSheet::EndWorkbook : AfterSheet::NextSheet;
}

bool PictureInsertionOperation::workAppointed(Sheet& sheet, RunSink& sink)
{
    bool lastNamedCell = false;
    for (const QString& item : appointedCellItems(m_options.locating.appointCells)) {
        const std::optional<RangeAddress> named = sheet.range(item);
        lastNamedCell = named.has_value();
        if (named)
            processAnchor(sheet, named->topLeft(), sink);
    }
    // The flag follows the list's last item only, whatever the earlier ones named.
    return lastNamedCell;
}

bool PictureInsertionOperation::workSearched(Sheet& sheet, const RangeAddress& range, RunSink& sink)
{
    const CellLocating& where = m_options.locating;
    const FindQuery query{where.findText, where.findInFormula ? LookIn::Formulas : LookIn::Values,
                          where.lookAt};
    bool stop = false;
    const WalkEnd end = walkMatches(sheet, range, query, [&](const CellAddress& match) {
        processAnchor(sheet, offsetTarget(match, where.rowOffset, where.columnOffset), sink);
        return !where.sheetFillOnce && !where.workbookFillOnce;
    });
    // Coming round to the first match also sets the flag; the search running dry does not.
    if (end == WalkEnd::Stopped || end == WalkEnd::CameRound)
        stop = true;
    return stop;
}

void PictureInsertionOperation::processAnchor(Sheet& sheet, const CellAddress& target, RunSink& sink)
{
    // Past the sheet's last row or column there is no cell: nothing to do there, nothing counted.
    const std::optional<CellAddress> cell = sheet.cell(target.row, target.column);
    if (!cell) {
        m_refused = true;
        sink.workbookFailed(m_workbookPath,
                            QStringLiteral("sheet \"%1\": no picture at row %2, column %3: %4")
                                .arg(sheet.name())
                                .arg(target.row)
                                .arg(target.column)
                                .arg(sheet.lastError()));
        return;
    }

    if (m_options.picDeleteOld) {
        // The objects whose top-left cell is the cell just above the target, in the same column.
        for (int i = sheet.shapeCount(); i >= 1; --i) {
            const std::optional<CellAddress> topLeft = sheet.shapeTopLeftCell(i);
            if (topLeft && topLeft->row + 1 == cell->row && topLeft->column == cell->column &&
                sheet.deleteShape(i))
                sink.change(ChangeRecord{m_workbookPath,
                                         sheet.name(),
                                         cellName(*topLeft),
                                         ChangeKind::ShapeDeleted,
                                         {},
                                         {},
                                         QStringLiteral("object %1").arg(i)});
        }
    }

    if (!m_options.picPath.isEmpty()) {
        const std::optional<double> top = sheet.cellTop(*cell);
        const std::optional<double> left = sheet.cellLeft(*cell);
        bool inserted = false;
        double x = 0;
        double y = 0;
        if (top && left) {
            // From the exact edges: rounded to whole points, a row edge at 38.25 would put the
            // picture in the row above.
            x = *left + m_options.picRight - m_options.picLeft;
            y = *top + m_options.picDown - m_options.picUp;
            inserted = sheet.addPicture(QDir::toNativeSeparators(m_options.picPath), x, y, m_options.picWidth,
                                        m_options.picHeight);
        }
        if (!inserted) {
            // A picture that did not go in is not reported as placed: the anchor is not counted.
            m_refused = true;
            sink.workbookFailed(m_workbookPath,
                                QStringLiteral("sheet \"%1\", cell %2: picture not inserted: %3")
                                    .arg(sheet.name(), cellName(*cell), sheet.lastError()));
            return;
        }
        sink.change(ChangeRecord{m_workbookPath,
                                 sheet.name(),
                                 cellName(*cell),
                                 ChangeKind::PictureInserted,
                                 {},
                                 QDir::toNativeSeparators(m_options.picPath),
                                 pictureDetail(x, y)});
    }
    ++m_cells;
    m_modified = true;
}

Operation::WorkbookOutcome PictureInsertionOperation::endWorkbook()
{
    if (m_modified)
        return {true, ResultList::Matched};
    // Nothing was placed because the server refused it: the workbook was not worked on as asked.
    if (m_refused)
        return {false, ResultList::OpenFailed};
    return {false, ResultList::Unmatched};
}

std::unique_ptr<Operation> PictureInsertionOperation::workbookCopy() const
{
    auto copy = std::make_unique<PictureInsertionOperation>(*this);
    copy->m_workbookPath.clear();
    copy->m_modified = false;
    copy->m_refused = false;
    copy->m_cells = 0;
    copy->m_cellsBefore = 0;
    return copy;
}

void PictureInsertionOperation::foldWorkbook(const Operation& copy)
{
    m_cells += static_cast<const PictureInsertionOperation&>(copy).m_cells;
}

void PictureInsertionOperation::finishRun(const RunTotals& totals, RunSink& sink)
{
    // The converted picture lives for one run only; the chosen file itself is never touched.
    if (m_options.picTransparent && !m_options.picPath.isEmpty())
        QFile::remove(m_options.picPath);
    finishCellJobRun(totals, m_cells, sink);
}

} // namespace corvane::automation
