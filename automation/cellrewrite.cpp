#include "cellrewrite.h"

#include "sheet.h"

#include <utility>

namespace corvane::automation {

LookIn rewriteLookIn(CellRewriteMode mode)
{
    switch (mode) {
    case CellRewriteMode::FillText:
    case CellRewriteMode::ChangeText:
        return LookIn::Values;
    case CellRewriteMode::FillFormula:
    case CellRewriteMode::ChangeFormula:
        break;
    }
    return LookIn::Formulas;
}

CellRewriteOperation::CellRewriteOperation(CellRewriteOptions options)
    : CellJobOperation(std::move(options.locating)), m_mode(options.mode),
      m_newText(std::move(options.newText))
{
}

void CellRewriteOperation::operateOnAppointed(Sheet& sheet, const CellAddress& cell)
{
    rewrite(sheet, cell, cell);
}

Operation::AfterSheet CellRewriteOperation::walkSheet(Sheet& sheet, const RangeAddress& range)
{
    const CellLocating& where = locating();
    const FindQuery query{where.findText, rewriteLookIn(m_mode), where.lookAt};
    bool operated = false;
    walkMatches(sheet, range, query, [&](const CellAddress& match) {
        rewrite(sheet, match, offsetTarget(match, where.rowOffset, where.columnOffset));
        countCell();
        operated = true;
        return !where.sheetFillOnce && !where.workbookFillOnce;
    });
    return operated && where.workbookFillOnce ? AfterSheet::EndWorkbook : AfterSheet::NextSheet;
}

void CellRewriteOperation::rewrite(Sheet& sheet, const CellAddress& source, const CellAddress& target)
{
    // Past the sheet's edge there is no cell to write; the cell still counts as located, as a
    // write the server refuses does.
    const std::optional<CellAddress> cell = sheet.cell(target.row, target.column);
    switch (m_mode) {
    case CellRewriteMode::FillText:
        if (cell)
            sheet.setValue(*cell, m_newText);
        return;
    case CellRewriteMode::ChangeText: {
        const QString text = sheet.value(source).toText();
        if (cell)
            sheet.setValue(*cell, replaceExactly(text, locating().findText, m_newText));
        return;
    }
    case CellRewriteMode::FillFormula:
        if (cell)
            sheet.setFormula(*cell, m_newText);
        return;
    case CellRewriteMode::ChangeFormula: {
        const QString formula = sheet.formula(source);
        if (cell)
            sheet.setFormula(*cell, replaceExactly(formula, locating().findText, m_newText));
        return;
    }
    }
}

} // namespace corvane::automation
