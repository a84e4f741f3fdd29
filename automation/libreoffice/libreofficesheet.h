// One sheet of a workbook open in LibreOffice. Searching is LibreOffice's own (so "values"
// means the text Calc displays); the order, wrap-round and start cell of Excel's Find and the
// typed-input rules of writes are done here, since UNO knows neither.
#pragma once

#include "automation/sheet.h"
#include "unoutil.h"

#include <com/sun/star/awt/Point.hpp>
#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/drawing/XShape.hpp>
#include <com/sun/star/drawing/XShapes.hpp>
#include <com/sun/star/sheet/XSpreadsheet.hpp>
#include <com/sun/star/table/CellContentType.hpp>
#include <com/sun/star/table/CellRangeAddress.hpp>
#include <com/sun/star/table/XCell.hpp>
#include <com/sun/star/table/XCellRange.hpp>

#include <unordered_map>
#include <vector>

namespace corvane::automation::libreoffice {

class LibreOfficeWorkbook;

// A cell's place as one number, for finding what a block read or query returned for it.
inline qint64 cellKey(int row, int column)
{
    return (static_cast<qint64>(row) << 24) | column;
}

// Calls `f` with the 1-based row and column of every cell of `ranges`.
template <typename F> void forEachCell(const css::uno::Sequence<css::table::CellRangeAddress>& ranges, F f)
{
    for (const css::table::CellRangeAddress& a : ranges)
        for (sal_Int32 row = a.StartRow; row <= a.EndRow; ++row)
            for (sal_Int32 column = a.StartColumn; column <= a.EndColumn; ++column)
                f(row + 1, column + 1);
}

class LibreOfficeSheet : public Sheet
{
public:
    LibreOfficeSheet(LibreOfficeWorkbook* workbook, css::uno::Reference<css::sheet::XSpreadsheet> sheet);

    QString name() const override;
    std::optional<RangeAddress> usedRange() override;
    std::optional<RangeAddress> range(const QString& address) override;
    std::optional<CellAddress> cell(int row, int column) override;
    std::optional<CellAddress> find(const RangeAddress& in, const FindQuery& query,
                                    std::optional<CellAddress> after = std::nullopt) override;
    bool replace(const RangeAddress& in, const QString& what, const QString& replacement,
                 const CellChanged& changed = {}) override;
    QString replaceRefusal() const override { return m_replaceRefusal; }
    CellValue value(const CellAddress& cell) override;
    QString formula(const CellAddress& cell) override;
    bool setValue(const CellAddress& cell, const QString& text) override;
    bool setFormula(const CellAddress& cell, const QString& text) override;
    bool deleteRow(int row) override { return editLine(true, row, false); }
    bool deleteColumn(int column) override { return editLine(false, column, false); }
    bool insertRow(int row) override { return editLine(true, row, true); }
    bool insertColumn(int column) override { return editLine(false, column, true); }
    std::optional<double> cellLeft(const CellAddress& cell) override;
    std::optional<double> cellTop(const CellAddress& cell) override;
    int shapeCount() override;
    std::optional<CellAddress> shapeTopLeftCell(int index) override;
    bool deleteShape(int index) override;
    bool addPicture(const QString& file, double left, double top, double width, double height) override;
    // Comments, shapes and headers through their text portions (libreofficeplaces.cpp).
    PlaceOutcome replaceInPlaces(const PlaceEdit& edit) override;
    QString lastError() const override { return m_lastError; }

private:
    // The sheet's own limits (LibreOffice's column count may be below the xlsx limit).
    bool limits(int* rows, int* columns);
    // `range` cut to the sheet's limits; none when it starts beyond them.
    std::optional<RangeAddress> clamp(const RangeAddress& range);
    // Whether LibreOffice's sheet has this cell (sets lastError when not).
    bool reachable(const CellAddress& address);
    css::uno::Reference<css::table::XCell> cellAt(const CellAddress& cell);
    css::uno::Reference<css::table::XCellRange> rangeAt(const RangeAddress& range);
    // Matches Calc's own search misses (see the definition).
    std::vector<CellAddress> extraMatches(const css::uno::Reference<css::table::XCellRange>& range,
                                          const FindQuery& query);
    // What a cell holds as the formula bar shows it, with the kind of content and, where it
    // was needed for reading, the cell's properties.
    struct Content
    {
        css::table::CellContentType type = css::table::CellContentType_EMPTY;
        QString text;
        css::uno::Reference<css::beans::XPropertySet> props;
    };
    Content content(const css::uno::Reference<css::table::XCell>& cell);
    QString cellFormula(const css::uno::Reference<css::table::XCell>& cell);
    // What a formula cell (its properties) holds as the formula bar shows it.
    QString formulaText(const css::uno::Reference<css::beans::XPropertySet>& formulaCell);
    // The input strings (as XCell::getFormula gives them) of the cells in `ranges`, read a
    // block of rows at a time, by cellKey().
    std::unordered_map<qint64, QString>
    inputStrings(const css::uno::Sequence<css::table::CellRangeAddress>& ranges);
    // What a text cell holds, not what its number format makes of it.
    QString textContent(const css::uno::Reference<css::table::XCell>& cell);
    // The cell position in 1/100 mm, Calc's unit for the drawing layer.
    std::optional<css::awt::Point> cellPosition(const CellAddress& cell);
    // The cell whose area holds the point (1/100 mm from the sheet's top-left corner).
    CellAddress cellAtPoint(const css::awt::Point& point);
    css::uno::Reference<css::drawing::XShapes> shapes();
    std::vector<css::uno::Reference<css::drawing::XShape>> drawingObjects();
    // Deletes or inserts one whole row or column; Calc adjusts the references itself.
    bool editLine(bool row, int index, bool insert);
    // The heights of the rows from the top down to the lowest drawing object (1/100 mm), and
    // putting them back after Calc recomputed them.
    std::vector<sal_Int32> rowHeightsAboveDrawings();
    void restoreRowHeights(const std::vector<sal_Int32>& heights);
    // Why the engine would refuse that edit (protection, pivot tables), or empty.
    QString lineEditRefusal(bool row, int index);
    sal_Int16 sheetIndex();
    // Whether the sheet is protected and the cell locked: Excel lets nobody write there.
    bool locked(const css::uno::Reference<css::table::XCell>& cell);
    bool sheetProtected();
    bool cellLocked(const css::uno::Reference<css::table::XCell>& cell);
    // Writes `text` as typed input; restores the old content when a formula does not parse.
    // `before` is what the cell holds, when the caller has read it already.
    bool enter(const css::uno::Reference<css::table::XCell>& cell, const QString& text,
               const Content* before = nullptr);
    // A formula cell's new text, and once written, whether it holds it.
    struct FormulaWrite
    {
        CellAddress address;
        css::uno::Reference<css::table::XCell> cell;
        QString text;
        Content before;
        bool written = false;
        bool same = false; // the text is the formula the cell holds already, and was not written
    };
    // Writes each of `writes` as enter() would, those in runs of adjacent cells a block at a
    // time, and leaves alone a cell whose new text is the formula it holds; `writes` is in
    // row-major order and each cell's old content is a formula, read with its properties.
    void enterFormulas(std::vector<FormulaWrite>& writes);

    LibreOfficeWorkbook* m_workbook;
    css::uno::Reference<css::sheet::XSpreadsheet> m_sheet;
    int m_rows = 0;
    int m_columns = 0;
    mutable QString m_lastError;
    QString m_replaceRefusal; // the last replace()'s refused cell, as the engine reports it
};

} // namespace corvane::automation::libreoffice
