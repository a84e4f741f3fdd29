// The four cell rewrites: write a new text or formula over each located cell, or replace the
// find text inside its text or formula.
#pragma once

#include "operations/celljob.h"

namespace corvane::automation {

enum class CellRewriteMode
{
    FillText,     // the new text becomes the cell's value
    ChangeText,   // the find text is replaced inside the match's value
    FillFormula,  // the new text becomes the cell's formula
    ChangeFormula // the find text is replaced inside the match's formula
};

struct CellRewriteOptions
{
    CellRewriteMode mode = CellRewriteMode::FillText;
    CellLocating locating;
    QString newText; // may be empty: the located cells are emptied
};

// The text modes always search values and the formula modes formulas, whatever the
// locating options ask for.
LookIn rewriteLookIn(CellRewriteMode mode);

class CellRewriteOperation : public CellJobOperation
{
public:
    explicit CellRewriteOperation(CellRewriteOptions options);
    WorkKind workKind() const override;
    QString writtenFormula() const override;
    AutomationServer::FormulaRewrite formulaRewrite() const override;

    std::unique_ptr<Operation> workbookCopy() const override;

protected:
    bool operateOnAppointed(Sheet& sheet, const CellAddress& cell) override;
    AfterSheet walkSheet(Sheet& sheet, const RangeAddress& range) override;

private:
    // Reads from `source` what the mode needs and writes the result into `target`. False when
    // the server refused the write (reported, with its reason).
    bool rewrite(Sheet& sheet, const CellAddress& source, const CellAddress& target);

    CellRewriteMode m_mode;
    QString m_newText;
};

} // namespace corvane::automation
