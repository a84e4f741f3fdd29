// The spreadsheet server backed by LibreOffice: one private, hidden soffice process per server
// object, started when the first workbook is opened and ended by quit() or destruction. It
// opens what LibreOffice opens (.xls in the BIFF formats, .xlsx, .xlsm, disguised HTML/CSV)
// and saves each workbook back in its own format.
#pragma once

#include "automation/automationserver.h"

#include <memory>

namespace corvane::automation::libreoffice {

class LibreOfficeServer : public AutomationServer
{
public:
    // `program` overrides where soffice is looked for (see OfficeProcess::findProgram).
    explicit LibreOfficeServer(QString program = {});
    ~LibreOfficeServer() override;
    LibreOfficeServer(const LibreOfficeServer&) = delete;
    LibreOfficeServer& operator=(const LibreOfficeServer&) = delete;

    // Starts LibreOffice if it is not running yet.
    bool isAvailable() override;
    std::unique_ptr<Workbook> open(const QString& path) override;
    void quit() override;
    QString lastError() const override;

    // How long the last start of LibreOffice took, until it accepted the connection (ms);
    // -1 before the first start.
    qint64 startMilliseconds() const;
    // The running office's process id; 0 when none runs (for tests and diagnostics).
    qint64 officeProcessId() const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace corvane::automation::libreoffice
