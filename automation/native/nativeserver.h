// The embedded engine as a spreadsheet server: it opens .xlsx/.xlsm packages (recognised by
// their content, whatever their name) and edits them in place.
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
    // Every workbook is a package of its own, with nothing shared between them.
    bool opensConcurrently() const override { return true; }
    ConcurrentOpen openConcurrently(const QString& path) override;

private:
    QString m_lastError;
    bool m_lastOpenWasForeign = false;
};

} // namespace corvane::automation::native
