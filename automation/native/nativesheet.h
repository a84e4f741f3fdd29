// One sheet of a workbook opened by the engine. A worksheet's part is parsed on the first call
// that needs its cells; chart sheets and other sheets without a cell grid hold no cells.
#pragma once

#include "automation/sheet.h"
#include "formula/sheetedit.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace corvane::automation::native {

class DeferredLines;
class NativeWorkbook;
class SearchPattern;
class Worksheet;

class NativeSheet : public Sheet
{
public:
    NativeSheet(NativeWorkbook& workbook, const QString& name, const std::string& partName, bool hasGrid);
    ~NativeSheet() override;

    QString name() const override { return m_name; }
    std::optional<RangeAddress> usedRange() override;
    std::optional<RangeAddress> range(const QString& address) override;
    std::optional<CellAddress> cell(int row, int column) override;
    std::optional<CellAddress> find(const RangeAddress& in, const FindQuery& query,
                                    std::optional<CellAddress> after = std::nullopt) override;
    bool replace(const RangeAddress& in, const QString& what, const QString& replacement,
                 const CellChanged& changed = {}) override;
    bool mayHold(const QString& what) override;
    CellValue value(const CellAddress& cell) override;
    QString formula(const CellAddress& cell) override;
    // The text the cell shows, the one a search in values compares with.
    QString text(const CellAddress& cell);
    bool setValue(const CellAddress& cell, const QString& text) override;
    bool setFormula(const CellAddress& cell, const QString& text) override;
    bool deleteRow(int row) override;
    bool deleteColumn(int column) override;
    bool insertRow(int row) override;
    bool insertColumn(int column) override;
    // The drawing layer and cell geometry (nativesheetdrawing.cpp).
    std::optional<double> cellLeft(const CellAddress& cell) override;
    std::optional<double> cellTop(const CellAddress& cell) override;
    int shapeCount() override;
    std::optional<CellAddress> shapeTopLeftCell(int index) override;
    bool deleteShape(int index) override;
    bool addPicture(const QString& file, double left, double top, double width, double height) override;
    // Comments, shapes, headers and footers, hyperlinks (sheetplaces.cpp).
    PlaceOutcome replaceInPlaces(const PlaceEdit& edit) override;
    QString lastError() const override { return m_lastError; }
    int lastAdjustedFormulas() const override { return m_adjustedFormulas; }
    QString replaceRefusal() const override { return m_replaceRefusal; }

    bool hasGrid() const { return m_hasGrid; }
    const std::string& partName() const { return m_partName; }
    // The workbook renamed the sheet.
    void renamed(const QString& name) { m_name = name; }
    // The package holds a new object for the sheet's part; it is fetched afresh when next needed.
    void worksheetReplaced() { m_worksheet = nullptr; }
    // The parsed worksheet for a look from elsewhere in the workbook: a damaged part is not
    // noted against the workbook here, only when the sheet itself is visited. Null when it
    // cannot be read.
    Worksheet* worksheetQuietly();

    // Lets go of the parsed worksheet when it holds no changes: saving copies its entry as it
    // is, and a large sheet's text and index need not sit beside what saving writes.
    void releaseUnchanged();
    // Puts the line edits kept aside into the package (nativesheetlines.cpp). False with
    // lastError() when that failed; they are dropped then.
    bool settleLines();

private:
    // The row and column edits, with everything in the package that points into the sheet
    // (rowcolumnedit.cpp).
    bool editLines(const formula::SheetEdit& edit);
    // One row or column deleted or inserted: kept aside when the sheet allows it (see
    // DeferredLines).
    bool editLine(formula::SheetEdit::Axis axis, int index, bool insert);
    // Whether deleting (inserting) lines along `axis` can never be refused by anything on the
    // sheet or in the workbook, whatever lines they are, so that the edits can wait.
    bool linesCanWait(formula::SheetEdit::Axis axis, bool insert);
    // A search answered from the sheet as it was, with the line edits kept aside; nothing, with
    // `answered` false, when it cannot be answered that way (nativesheetlines.cpp).
    std::optional<CellAddress> findBeforeEdits(const RangeAddress& in, const FindQuery& query,
                                               const CellAddress& start, bool& answered);
    // What a search compares with and how, as one text.
    static QString searchKey(const FindQuery& query);

    // Which shared strings match, by index, when only stored text can match (else null).
    const std::vector<bool>* storedMatches(const QString& what, const SearchPattern& pattern);

    // The parsed worksheet, or null (with m_lastError) for a sheet without cells or a damaged one.
    Worksheet* worksheet();
    bool store(const CellAddress& cell, const QString& text);
    // False with m_lastError when the sheet's protection forbids writing the cell.
    bool writable(Worksheet& ws, const CellAddress& cell);

    NativeWorkbook& m_workbook;
    QString m_name;
    std::string m_partName;
    bool m_hasGrid;
    Worksheet* m_worksheet = nullptr;
    QString m_lastError;
    QString m_replaceRefusal;
    int m_adjustedFormulas = -1;
    // The column and row whose edges were asked for last: a picture placed on those edges is
    // anchored there, even in a hidden column or row that shares its edge with its neighbours.
    int m_edgeColumn = 0;
    int m_edgeRow = 0;
    std::unique_ptr<DeferredLines> m_deferred;
    // The last line edit that went through in full: the parts it reads are sound for its kind.
    struct EditedAlong
    {
        formula::SheetEdit::Axis axis;
        bool insert;
    };
    std::optional<EditedAlong> m_editedAlong;
    // The last search could not be answered from the sheet as it was; a later search for
    // m_keyNeedingEdits (see searchKey) is taken not to be answerable either.
    bool m_searchesNeedEdits = false;
    QString m_keyNeedingEdits;
};

} // namespace corvane::automation::native
