// An Excel 97-2003 workbook (BIFF8 in a compound file) opened by the engine. Cells are read from
// the records as they are; a change rewrites the changed cell records, the shared string table
// and the stream positions that move, and nothing else.
#pragma once

#include "compounddocument.h"
#include "records.h"
#include "sharedstringtable.h"

#include "automation/automationserver.h"
#include "automation/sheet.h"
#include "automation/workbook.h"

#include <map>
#include <memory>
#include <vector>

namespace corvane::automation::native::biff {

class BiffSheet;
class FormulaTextSource;

// The start of every reason the engine gives for leaving a binary workbook to another server.
QString unsupportedOnXls(const QString& what);

class BiffWorkbook : public Workbook
{
public:
    BiffWorkbook();
    ~BiffWorkbook() override;

    // False with lastError() when the file is not a workbook the engine can work on as `work`
    // asks; handOver() then tells whether another server may take it (an older format, an
    // operation the engine does not do on these workbooks) or not (damaged, encrypted).
    bool open(const QString& path, WorkKind work, FormulaTextSource* formulas = nullptr);
    bool handOver() const { return m_handOver; }

    int sheetCount() override { return int(m_sheets.size()); }
    Sheet* sheet(int index) override;
    bool deleteSheet(int index) override;
    bool save() override;
    void close() override;
    QString lastError() const override { return m_lastError; }
    QString damage() const override { return m_damage; }

    // The workbook stream with every change in place, as save() writes it.
    bool streamBytes(QByteArray* out, QString* error) const;
    // Whether a cell was changed since the workbook was opened.
    bool changed() const { return m_changed; }

    // For the sheets.
    WorkbookStream& stream() { return m_stream; }
    SharedStringTable* strings() { return m_sst ? m_sst.get() : nullptr; }
    bool styleLocked(int xf) const;
    FormulaTextSource* formulas() const { return m_formulas; }
    void noteChange() { m_changed = true; }
    void noteDamage(const QString& reason)
    {
        if (m_damage.isEmpty())
            m_damage = reason;
    }

private:
    QString m_path;
    CompoundDocument m_document;
    WorkbookStream m_stream;
    std::unique_ptr<SharedStringTable> m_sst;
    std::size_t m_extSst = 0; // index of EXTSST, 0 when none
    std::vector<bool> m_xfLocked;
    std::vector<std::unique_ptr<BiffSheet>> m_sheets;
    FormulaTextSource* m_formulas = nullptr;
    bool m_handOver = false;
    bool m_changed = false;
    QString m_lastError;
    QString m_damage;
};

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
    // The text a search in values compares with.
    QString text(const CellAddress& cell);

private:
    enum class Placed
    {
        Read,   // in the record it was read from
        Before, // new, written before the record
        After   // new, written after the record
    };
    struct CellRef
    {
        std::size_t record = 0;
        Placed placed = Placed::Read;
    };
    using Insertions = std::map<std::pair<int, int>, Record>; // by (row, column)
    // The cell's current record (a MULRK or MULBLANK for a cell of a run); null for none.
    const Record* current(const CellAddress& cell, const CellRef& ref) const;
    void index();
    bool indexed() const { return m_indexed; }
    // The formula-bar text; none when it is the text of a formula that cannot be read.
    std::optional<QString> barText(const CellAddress& cell, const CellRef& ref);
    QString shownText(const CellAddress& cell, const CellRef& ref);
    CellValue valueOf(const CellAddress& cell, const CellRef& ref) const;
    int styleOf(const CellAddress& cell, const CellRef& ref) const;
    bool store(const CellAddress& cell, const QString& text);
    bool writeRecord(const CellAddress& cell, Record record, int oldStringDelta);
    bool unsupported(const QString& what);

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
    std::map<std::size_t, Record> m_patched; // ROW and DIMENSIONS records with new bounds
    QString m_lastError;
    QString m_replaceRefusal;

    friend class BiffWorkbook;
    // Puts the sheet's changes into `stream`, a copy of the workbook's.
    void commit(WorkbookStream& stream) const;
};

} // namespace corvane::automation::native::biff
