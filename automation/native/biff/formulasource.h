// Where the engine gets the text of a binary workbook's formulas from: the formula decompiler,
// when one is built in. Without one a formula's text is unknown, and every operation that would
// need it is refused rather than guessed at.
#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace corvane::automation::native::biff {

class BiffWorkbook;

enum class FormulaShape
{
    Own,    // the cell's own tokens
    Shared, // a member of a shared formula (SHRFMLA)
    Array,  // part of an array formula (ARRAY)
    Other,  // part of a data table, or a shared or array formula whose record is missing
};

class FormulaTextSource
{
public:
    virtual ~FormulaTextSource() = default;
    // The formula of the FORMULA record `body` on sheet `sheet` (0-based) as the formula bar
    // shows it, with its leading "="; none when its tokens cannot be turned into text.
    virtual std::optional<QString> formulaText(const BiffWorkbook& workbook, int sheet,
                                               const QByteArray& body) = 0;
    // Tokens for `text` written into cell (row, column), 0-based, of sheet `sheet`: the tokens
    // followed by their trailing data, with the size of the tokens alone in tokenSize. None with
    // the reason when the text cannot be written as a formula of this workbook. `arrayFormula`:
    // the tokens of an array formula's ARRAY record.
    virtual std::optional<QByteArray> formulaTokens(const BiffWorkbook& workbook, int sheet, int row,
                                                    int column, const QString& text, int* tokenSize,
                                                    QString* reason, bool arrayFormula = false)
    {
        (void)workbook, (void)sheet, (void)row, (void)column, (void)text, (void)tokenSize, (void)arrayFormula;
        *reason = QStringLiteral("writing formulas");
        return std::nullopt;
    }
    // What kind of formula the FORMULA record `body` holds.
    virtual FormulaShape shape(const BiffWorkbook& workbook, int sheet, const QByteArray& body)
    {
        (void)workbook, (void)sheet, (void)body;
        return FormulaShape::Own;
    }
};

} // namespace corvane::automation::native::biff
