#include "operations/cellrewrite.h"

#include "automation/sheet.h"

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

WorkKind CellRewriteOperation::workKind() const
{
    // A text typed with a leading "=" enters a formula.
    const bool formulaText = m_mode == CellRewriteMode::FillText && m_newText.startsWith(QLatin1Char('='));
    return m_mode == CellRewriteMode::FillText || m_mode == CellRewriteMode::ChangeText
               ? (formulaText ? WorkKind::CellFormula : WorkKind::CellText)
               : WorkKind::CellFormula;
}

QString CellRewriteOperation::writtenFormula() const
{
    const bool same = m_mode == CellRewriteMode::FillFormula ||
                      (m_mode == CellRewriteMode::FillText && m_newText.startsWith(QLatin1Char('=')));
    return same ? m_newText : QString();
}

AutomationServer::FormulaRewrite CellRewriteOperation::formulaRewrite() const
{
    if (m_mode != CellRewriteMode::ChangeFormula)
        return {};
    const QString find = locating().findText;
    const QString with = m_newText;
    return [find, with](const QString& text) { return replaceExactly(text, find, with); };
}

std::unique_ptr<Operation> CellRewriteOperation::workbookCopy() const
{
    return uncounted(std::make_unique<CellRewriteOperation>(*this));
}

bool CellRewriteOperation::operateOnAppointed(Sheet& sheet, const CellAddress& cell)
{
    return rewrite(sheet, cell, cell);
}

Operation::AfterSheet CellRewriteOperation::walkSheet(Sheet& sheet, const RangeAddress& range)
{
    const CellLocating& where = locating();
    const FindQuery query{where.findText, rewriteLookIn(m_mode), where.lookAt};
    bool operated = false;
    walkMatches(sheet, range, query, [&](const CellAddress& match) {
        if (rewrite(sheet, match, offsetTarget(match, where.rowOffset, where.columnOffset))) {
            countCell();
            operated = true;
        }
        return !where.sheetFillOnce && !where.workbookFillOnce;
    });
    return operated && where.workbookFillOnce ? AfterSheet::EndWorkbook : AfterSheet::NextSheet;
}

bool CellRewriteOperation::rewrite(Sheet& sheet, const CellAddress& source, const CellAddress& target)
{
    // Past the sheet's edge there is no cell to write; the cell still counts as located.
    const std::optional<CellAddress> cell = sheet.cell(target.row, target.column);
    if (!cell)
        return true;
    const QString before = sheet.formula(*cell);
    bool written = false;
    switch (m_mode) {
    case CellRewriteMode::FillText:
        written = sheet.setValue(*cell, m_newText);
        break;
    case CellRewriteMode::ChangeText:
        written = sheet.setValue(
            *cell, replaceExactly(sheet.value(source).toText(), locating().findText, m_newText));
        break;
    case CellRewriteMode::FillFormula:
        written = sheet.setFormula(*cell, m_newText);
        break;
    case CellRewriteMode::ChangeFormula:
        written =
            sheet.setFormula(*cell, replaceExactly(sheet.formula(source), locating().findText, m_newText));
        break;
    }
    // A write the server refused changed nothing: reported, not passed off as done.
    if (!written)
        reportRefusal(sheet, QStringLiteral("could not write cell %1").arg(cellName(*cell)),
                      sheet.lastError());
    else if (const QString after = sheet.formula(*cell); after != before)
        recordChange(cellChange({}, sheet.name(), *cell, before, after));
    return written;
}

} // namespace corvane::automation
