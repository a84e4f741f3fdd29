// The embedded engine as a spreadsheet server: it opens .xlsx/.xlsm packages and Excel 97-2003
// workbooks (recognised by their content, whatever their name) and edits them in place. Work it
// does not do on Excel 97-2003 workbooks is refused at open, as not of its kind, so that another
// server takes the workbook before anything is changed.
#pragma once

#include "automation/automationserver.h"

namespace corvane::automation::native {

class NativeServer : public AutomationServer
{
public:
    NativeServer() = default;

    bool isAvailable() override { return true; }
    std::unique_ptr<Workbook> open(const QString& path) override;
    void quit() override {}
    QString lastError() const override { return m_lastError; }
    bool lastOpenWasForeign() const override { return m_lastOpenWasForeign; }
    QString refusal(const QString& path) override;
    void expectWork(WorkKind work) override { m_work = work; }
    void expectFormula(const QString& text) override { m_formula = text; }
    void expectFormulaRewrite(const FormulaRewrite& rewrite) override { m_rewrite = rewrite; }
    // Every package is a workbook of its own, with nothing shared between them; an Excel 97-2003
    // workbook is handed over.
    bool opensConcurrently() const override { return true; }
    ConcurrentOpen openConcurrently(const QString& path) override;

private:
    WorkKind m_work = WorkKind::Other;
    QString m_formula;
    FormulaRewrite m_rewrite;
    QString m_lastError;
    bool m_lastOpenWasForeign = false;
};

} // namespace corvane::automation::native
