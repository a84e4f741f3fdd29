// A sheet of an Excel 97-2003 workbook opened by the engine: its cells as the sheet's records hold
// them, and the changes kept aside until the workbook saves.
#pragma once

#include "records.h"

#include "automation/automationserver.h"
#include "automation/sheet.h"

#include <map>
#include <set>
#include <tuple>
#include <vector>

namespace corvane::automation::native::biff {

class BiffWorkbook;

class BiffSheet : public Sheet
{
public:
    // The substream records [bof, eof] of `workbook`'s stream; `hasGrid` false for chart sheets
    // and others without cells.
    BiffSheet(BiffWorkbook& workbook, int position, const QString& name, std::size_t bof, std::size_t eof,
              bool hasGrid);

    QString name() const override { return m_name; }
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
    bool deleteRow(int row) override;
    bool deleteColumn(int column) override;
    bool insertRow(int row) override;
    bool insertColumn(int column) override;
    std::optional<double> cellLeft(const CellAddress& cell) override;
    std::optional<double> cellTop(const CellAddress& cell) override;
    int shapeCount() override { return 0; }
    std::optional<CellAddress> shapeTopLeftCell(int index) override;
    bool deleteShape(int index) override;
    bool addPicture(const QString& file, double left, double top, double width, double height) override;
    QString lastError() const override { return m_lastError; }

    // Whether the sheet holds any FORMULA record.
    bool holdsFormulas();
    // Why a formula of the sheet could not be searched or written back; empty when each can.
    QString formulaRefusal();
    // Why a cell of the sheet could not take the formula `rewrite` makes of the text it holds;
    // empty when each can.
    QString rewriteRefusal(const AutomationServer::FormulaRewrite& rewrite);
    // The text a search in values compares with.
    QString text(const CellAddress& cell);

private:
    enum class Placed
    {
        Read,   // in the record it was read from
        Before, // new, written before the record
        After,  // new, written after the record
        Fresh   // new, in a row that held no cells (m_fresh)
    };
    struct CellRef
    {
        std::size_t record = 0;
        Placed placed = Placed::Read;
    };
    using Insertions = std::map<std::pair<int, int>, Record>; // by (row, column)
    // The cell's current record (a MULRK or MULBLANK for a cell of a run); null for none.
    const Record* current(const CellAddress& cell, const CellRef& ref) const;
    // Whether a record met walking the sheet's substream in order belongs to the sheet itself,
    // not to an embedded chart's substream; `depth` starts at 0 and follows their BOF and EOF.
    static bool ownRecord(const Record& record, int& depth)
    {
        if (record.type == rt::kBof)
            ++depth;
        if (record.type != rt::kEof)
            return depth == 0;
        --depth;
        return false;
    }
    void index();
    bool indexed() const { return m_indexed; }
    // The formula-bar text; none when it is the text of a formula that cannot be read.
    std::optional<QString> barText(const CellAddress& cell, const CellRef& ref);
    QString shownText(const CellAddress& cell, const CellRef& ref);
    CellValue valueOf(const CellAddress& cell, const CellRef& ref) const;
    int styleOf(const CellAddress& cell, const CellRef& ref) const;
    // `rewrite`: a formula is written even when it is the one the cell holds (to give a member
    // of a shared formula tokens of its own).
    bool store(const CellAddress& cell, const QString& text, bool rewrite = false);
    // The FORMULA record `text` (with or without "=") makes in `cell`; none with lastError() when
    // it cannot be written here.
    std::optional<Record> formulaRecord(const CellAddress& cell, const QString& text, int style);
    // Whether the formula `text` is stored as the formula whose formula-bar text is `shown`.
    bool writesAs(const CellAddress& cell, const QString& text, const QString& shown);
    // Before a formula is written over the cell that heads a shared formula: every other cell
    // of it gets the formula as tokens of its own. False with lastError() when one cannot.
    bool writeOutSharedFormula(const CellAddress& head);
    // The cell whose ARRAY record holds the array formula `cell` belongs to, 1-based.
    std::optional<std::pair<int, int>> arrayAnchorOf(const CellAddress& cell);
    // The array formula that `anchor` heads compiled anew from `text`, for its whole range; every
    // cell of the range is to be calculated again. False with lastError() when it cannot be.
    bool rewriteArray(const CellAddress& anchor, const QString& text);
    // Whether the cell holds an array formula of its own cell only.
    bool singleCellArray(const CellAddress& cell);
    // The style a new cell takes: its row's, when the row has one, else its column's.
    int newCellStyle(int row, int column) const;
    bool writeRecord(const CellAddress& cell, Record record, int references);
    bool unsupported(const QString& what);
    // The 1-based anchor cell a shared or array formula member's ptgExp points at.
    std::optional<std::pair<int, int>> sharedAnchorOf(const CellAddress& cell, const CellRef& ref) const;
    // A cell to rewrite: where, its formula-bar text before, and the text to enter.
    using CellRewrite = std::tuple<CellAddress, QString, QString>;
    void dissolveSharedFormulas(std::vector<CellRewrite>& changes);
    // False when `anchor` heads a shared formula being written out that a cell still uses.
    bool sharedFormulaFree(const CellAddress& anchor);

    // Rows that hold no cells yet (biffsheetrows.cpp). A block of rows: its ROW records, then
    // their cells, then (in most writers' files) a DBCELL pointing back into it.
    struct RowBlock
    {
        int first = 0; // 1-based rows of its first and last ROW records, added ones included
        int last = 0;
        int rows = 0;             // ROW records, added ones included
        std::size_t firstRow = 0; // its first and last ROW records as read; 0 for a new block
        std::size_t lastRow = 0;
        std::size_t end = 0;         // its last record as read: the DBCELL, or its last cell
        std::size_t dbcell = 0;      // 0: none
        std::map<int, Record> added; // new ROW records, by 1-based row
        bool hasDbCell = false;      // holds at most 32 rows: its DBCELL points at no more
    };
    void indexBlocks();
    // Readies a row that holds no cells for new ones: a ROW record of its own in the block it
    // belongs to, or in a new block. False with lastError() when the row cannot take one.
    bool openRow(int row);
    // The row's and the sheet's bounds take the cell in.
    void widen(int row, int column);
    // Where a record goes that is written among the sheet's records: the record it is written
    // next to, on which side, and its order among others written there.
    struct Slot
    {
        std::size_t record;
        bool before;
        bool operator<(const Slot& o) const
        {
            return std::tie(record, before) < std::tie(o.record, o.before);
        }
    };
    using Order = std::tuple<int, int, int, int>; // block's first row, ROW/cell/DBCELL, row, column
    using Placement = std::map<Slot, std::multimap<Order, Record>>;
    int blockFirstOf(int row) const;
    void placeFreshRows(Placement& placement) const;
    // The sheet's DBCELL records and its INDEX written anew round the new rows.
    void commitRowIndex(WorkbookStream& stream) const;

    BiffWorkbook& m_workbook;
    int m_position;
    QString m_name;
    std::size_t m_bof;
    std::size_t m_eof;
    bool m_hasGrid;
    bool m_indexed = false;
    bool m_protected = false;
    bool m_formulas = false;
    std::size_t m_dimensions = 0;
    std::map<std::pair<int, int>, CellRef> m_cells; // (row, column), 1-based
    std::map<int, std::size_t> m_rowRecords;        // ROW record by 1-based row
    // Changed cells: the record index they came from, then the column, then the new record.
    std::map<std::size_t, std::map<int, Record>> m_edits;
    std::map<std::size_t, Insertions> m_before;
    std::map<std::size_t, Insertions> m_after;
    std::map<std::size_t, Record> m_patched;       // ROW and DIMENSIONS records with new bounds
    std::vector<RowBlock> m_blocks;                // in stream order, new ones after them
    std::map<int, std::size_t> m_firstCell;        // 1-based row: its first cell record as read
    std::map<std::pair<int, int>, Record> m_fresh; // cells of rows that held none, by (row, column)
    std::set<int> m_freshRows;
    std::size_t m_index = 0;                // INDEX record; 0: none
    std::size_t m_rowHeight = 0;            // DEFAULTROWHEIGHT record; 0: none
    std::vector<std::size_t> m_columns;     // COLINFO records
    std::set<std::size_t> m_dissolved;      // FORMULA records whose shared formula is written out
    std::map<std::size_t, Record> m_arrays; // ARRAY records compiled anew, by index
    std::map<std::pair<int, int>, QString> m_arrayTexts; // their texts, by anchor cell
    QString m_lastError;
    QString m_replaceRefusal;

    friend class BiffWorkbook;
    // Puts the sheet's changes into `stream`, a copy of the workbook's.
    void commit(WorkbookStream& stream) const;
};

} // namespace corvane::automation::native::biff
