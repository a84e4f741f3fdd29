// An Excel 97-2003 workbook (BIFF8 in a compound file) opened by the engine. Cells are read from
// the records as they are; a change rewrites the changed cell records, the shared string table
// and the stream positions that move, and nothing else.
#pragma once

#include "biffformats.h"
#include "compounddocument.h"
#include "records.h"
#include "sharedstringtable.h"

#include "automation/automationserver.h"
#include "automation/sheet.h"
#include "automation/workbook.h"

#include <memory>
#include <vector>

namespace corvane::automation::native::biff {

class BiffSheet;
class FormulaTextSource;
class RecordFormulas;

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
    // `formula`: for CellFormula work, the formula every cell is written with; the workbook is
    // refused unless it compiles here. `rewrite`: for CellFormula work that rewrites each cell's
    // formula text in place; the workbook is refused unless every cell's rewritten formula
    // compiles. Without either, each cell's formula is unknown until written, and the workbook is
    // refused.
    bool open(const QString& path, WorkKind work, FormulaTextSource* formulas = nullptr,
              const QString& formula = QString(), const AutomationServer::FormulaRewrite& rewrite = {});
    bool handOver() const { return m_handOver; }

    int sheetCount() override { return int(m_sheets.size()); }
    Sheet* sheet(int index) override;
    bool deleteSheet(int index) override;
    bool save() override;
    void close() override;
    QString lastError() const override { return m_lastError; }
    QString damage() const override { return m_damage; }

    // The sheet names in the order of their BOUNDSHEET records, and the records [bof, eof] of a
    // sheet by its 0-based position.
    std::vector<QString> sheetNames() const;
    std::pair<std::size_t, std::size_t> sheetRecords(int position) const;

    // The workbook stream with every change in place, as save() writes it.
    bool streamBytes(QByteArray* out, QString* error) const;
    // Whether a cell was changed since the workbook was opened.
    bool changed() const { return m_changed; }

    // For the sheets.
    WorkbookStream& stream() { return m_stream; }
    const WorkbookStream& stream() const { return m_stream; }
    SharedStringTable* strings() { return m_sst ? m_sst.get() : nullptr; }
    bool styleLocked(int xf) const;
    BiffFormats& formats() { return m_formats; }
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
    BiffFormats m_formats;
    std::vector<std::unique_ptr<BiffSheet>> m_sheets;
    FormulaTextSource* m_formulas = nullptr;
    std::unique_ptr<RecordFormulas> m_ownFormulas;
    bool m_handOver = false;
    bool m_changed = false;
    QString m_lastError;
    QString m_damage;
};

} // namespace corvane::automation::native::biff
