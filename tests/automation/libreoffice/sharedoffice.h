// One LibreOffice for the whole test program: starting soffice takes seconds, so every test
// that does not test the server's own lifetime borrows this one.
#pragma once

#include "automation/automationserver.h"
#include "automation/libreoffice/libreofficeserver.h"
#include "automation/workbook.h"

#include <memory>

namespace corvane::testing {

corvane::automation::libreoffice::LibreOfficeServer& sharedOffice();

// An AutomationServer handle on sharedOffice() whose quit() leaves the office running.
class SharedOfficeHandle : public corvane::automation::AutomationServer
{
public:
    bool isAvailable() override { return sharedOffice().isAvailable(); }
    std::unique_ptr<corvane::automation::Workbook> open(const QString& path) override
    {
        return sharedOffice().open(path);
    }
    void quit() override {}
    QString lastError() const override { return sharedOffice().lastError(); }
};

} // namespace corvane::testing
