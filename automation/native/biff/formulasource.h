// Where the engine gets the text of a binary workbook's formulas from: the formula decompiler,
// when one is built in. Without one a formula's text is unknown, and every operation that would
// need it is refused rather than guessed at.
#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace corvane::automation::native::biff {

class BiffWorkbook;

class FormulaTextSource
{
public:
    virtual ~FormulaTextSource() = default;
    // The formula of the FORMULA record `body` on sheet `sheet` (0-based) as the formula bar
    // shows it, with its leading "="; none when its tokens cannot be turned into text.
    virtual std::optional<QString> formulaText(const BiffWorkbook& workbook, int sheet,
                                               const QByteArray& body) = 0;
};

} // namespace corvane::automation::native::biff
