// The server a run works with when more than one backend may serve it: it holds the embedded
// engine and, made only when a workbook first needs it, the office application, and routes each
// open() by the user's choice.
//
// "auto" takes every file to the engine first; a file the engine reports as not of its kind at
// all (an older Excel workbook, an Excel 97-2003 workbook whose operation the engine does not do
// on that format, a web page or text export under a workbook name) goes on to the office, while a damaged or
// encrypted package fails with the engine's reason. "native" and "libreoffice" send everything to the one
// backend; "libreoffice" still lets the engine check each package first, and a package the engine refuses
// never reaches the office.
#pragma once

#include "automation/automationserver.h"
#include "automation/serverfactory.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

namespace corvane::automation {

enum class ServerChoice
{
    Auto,
    Native,
    LibreOffice
};

// "auto", "native", "libreoffice": the names the settings file and the command line use.
QString serverChoiceName(ServerChoice choice);
QStringList serverChoiceNames();
// None for a name that is not one of the three (letter case is ignored).
std::optional<ServerChoice> parseServerChoice(const QString& name);

class RoutingServer : public AutomationServer
{
public:
    // `office` may be empty: this build has no office backend.
    RoutingServer(ServerChoice choice, ServerFactory engine, ServerFactory office);
    ~RoutingServer() override;
    RoutingServer(const RoutingServer&) = delete;
    RoutingServer& operator=(const RoutingServer&) = delete;

    // Never starts the office unless it is the server chosen for everything.
    bool isAvailable() override;
    std::unique_ptr<Workbook> open(const QString& path) override;
    void quit() override;
    QString lastError() const override { return m_lastError; }
    QString missingMessage() const override;
    void expectWork(WorkKind work) override;
    void expectFormula(const QString& text) override;
    void expectFormulaRewrite(const FormulaRewrite& rewrite) override;
    // The engine's workbooks may be opened beside each other; a file that goes to the office is
    // handed over to open() on the run's thread, so that the office serves one at a time.
    bool opensConcurrently() const override;
    ConcurrentOpen openConcurrently(const QString& path) override;

    // Whether the office backend has been made during this run (for tests and diagnostics).
    bool officeMade() const { return m_office != nullptr; }

private:
    AutomationServer* engine();
    // The office, started on first use; null (with m_officeDown) when it cannot serve this run.
    AutomationServer* office();

    ServerChoice m_choice;
    WorkKind m_work = WorkKind::Other;
    QString m_formula;
    FormulaRewrite m_rewrite;
    ServerFactory m_makeEngine;
    ServerFactory m_makeOffice;
    std::unique_ptr<AutomationServer> m_engine;
    std::unique_ptr<AutomationServer> m_office;
    // Once the office failed to start, the rest of the run does not wait for it again.
    bool m_officeTried = false;
    QString m_officeDown;
    QString m_lastError;
};

} // namespace corvane::automation
