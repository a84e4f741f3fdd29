// The formula text of a binary workbook's cells, read through the workbook's own records: sheet
// names, the EXTERNSHEET/SUPBOOK tables, defined and external names, and the SHRFMLA and ARRAY
// records that shared and array formulas point at.
#pragma once

#include "formulasource.h"

#include <map>
#include <memory>
#include <vector>

namespace corvane::automation::native::biff {

class RecordFormulas : public FormulaTextSource
{
public:
    RecordFormulas();
    ~RecordFormulas() override;

    std::optional<QString> formulaText(const BiffWorkbook& workbook, int sheet,
                                       const QByteArray& body) override;
    std::optional<QByteArray> formulaTokens(const BiffWorkbook& workbook, int sheet, int row, int column,
                                            const QString& text, int* tokenSize, QString* reason,
                                            bool arrayFormula = false) override;
    FormulaShape shape(const BiffWorkbook& workbook, int sheet, const QByteArray& body) override;

    // Why the tokens of `body` cannot be shown, after formulaText() gave none.
    QString lastError() const { return m_lastError; }

    struct Tables;

private:
    const Tables& tables(const BiffWorkbook& workbook);
    struct Group
    {
        bool shared = false;
        int tokenSize = 0;
        QByteArray rgce;
    };
    const std::map<std::pair<int, int>, Group>& groups(const BiffWorkbook& workbook, int sheet);

    std::unique_ptr<Tables> m_tables;
    std::map<int, std::map<std::pair<int, int>, Group>> m_groups; // by sheet, then anchor (row, column)
    QString m_lastError;
};

} // namespace corvane::automation::native::biff
