#include "run/routingserver.h"

#include "automation/workbook.h"

namespace corvane::automation {

namespace {

struct ChoiceName
{
    ServerChoice choice;
    const char* name;
};

constexpr ChoiceName kChoices[] = {
    {ServerChoice::Auto, "auto"},
    {ServerChoice::Native, "native"},
    {ServerChoice::LibreOffice, "libreoffice"},
};

QString notBuiltReason()
{
    return QStringLiteral("LibreOffice is not part of this build of Corvane");
}

QString joined(const QString& first, const QString& second)
{
    if (first.isEmpty())
        return second;
    if (second.isEmpty())
        return first;
    return first + QStringLiteral("; ") + second;
}

} // namespace

QString serverChoiceName(ServerChoice choice)
{
    for (const ChoiceName& c : kChoices) {
        if (c.choice == choice)
            return QString::fromLatin1(c.name);
    }
    return QStringLiteral("auto");
}

QStringList serverChoiceNames()
{
    QStringList names;
    for (const ChoiceName& c : kChoices)
        names.append(QString::fromLatin1(c.name));
    return names;
}

std::optional<ServerChoice> parseServerChoice(const QString& name)
{
    const QString wanted = name.trimmed();
    for (const ChoiceName& c : kChoices) {
        if (wanted.compare(QLatin1String(c.name), Qt::CaseInsensitive) == 0)
            return c.choice;
    }
    return std::nullopt;
}

RoutingServer::RoutingServer(ServerChoice choice, ServerFactory engine, ServerFactory office)
    : m_choice(choice), m_makeEngine(std::move(engine)), m_makeOffice(std::move(office))
{
}

RoutingServer::~RoutingServer()
{
    quit();
}

AutomationServer* RoutingServer::engine()
{
    if (!m_engine && m_makeEngine) {
        m_engine = m_makeEngine();
        if (m_engine) {
            m_engine->expectWork(m_work);
            m_engine->expectFormula(m_formula);
            m_engine->expectFormulaRewrite(m_rewrite);
        }
    }
    return m_engine.get();
}

AutomationServer* RoutingServer::office()
{
    if (m_office)
        return m_office.get();
    if (m_officeTried)
        return nullptr;
    m_officeTried = true;
    if (!m_makeOffice) {
        m_officeDown = notBuiltReason();
        return nullptr;
    }
    m_office = m_makeOffice();
    if (!m_office) {
        m_officeDown = notBuiltReason();
        return nullptr;
    }
    m_office->expectWork(m_work);
    if (!m_office->isAvailable()) {
        m_officeDown = m_office->lastError();
        if (m_officeDown.isEmpty())
            m_officeDown = QStringLiteral("LibreOffice could not be started");
        m_office->quit();
        m_office.reset();
        return nullptr;
    }
    return m_office.get();
}

bool RoutingServer::isAvailable()
{
    if (m_choice == ServerChoice::LibreOffice) {
        if (office())
            return true;
        m_lastError = m_officeDown;
        return false;
    }
    AutomationServer* server = engine();
    if (!server) {
        m_lastError = QStringLiteral("the embedded engine could not be made");
        return false;
    }
    if (!server->isAvailable()) {
        m_lastError = server->lastError();
        return false;
    }
    return true;
}

std::unique_ptr<Workbook> RoutingServer::open(const QString& path)
{
    if (m_choice == ServerChoice::LibreOffice) {
        // The engine's verdict on a package holds whichever server is chosen: the office would
        // repair a damaged package, or open an encrypted one, and save its guess.
        if (AutomationServer* check = engine()) {
            const QString refused = check->refusal(path);
            if (!refused.isEmpty()) {
                m_lastError = refused;
                return nullptr;
            }
        }
        AutomationServer* server = office();
        if (!server) {
            m_lastError = m_officeDown;
            return nullptr;
        }
        std::unique_ptr<Workbook> workbook = server->open(path);
        m_lastError = workbook ? QString() : server->lastError();
        return workbook;
    }

    AutomationServer* first = engine();
    if (!first) {
        m_lastError = QStringLiteral("the embedded engine could not be made");
        return nullptr;
    }
    std::unique_ptr<Workbook> workbook = first->open(path);
    if (workbook) {
        m_lastError.clear();
        return workbook;
    }
    const QString engineReason = first->lastError();
    // A damaged or encrypted package keeps the engine's verdict: the office would repair or
    // guess its way into a file the user's own Excel refuses, and save that guess.
    if (m_choice == ServerChoice::Native || !first->lastOpenWasForeign()) {
        m_lastError = engineReason;
        return nullptr;
    }

    AutomationServer* second = office();
    if (!second) {
        m_lastError = joined(engineReason, m_officeDown);
        return nullptr;
    }
    workbook = second->open(path);
    m_lastError = workbook ? QString() : joined(engineReason, second->lastError());
    return workbook;
}

void RoutingServer::expectWork(WorkKind work)
{
    m_work = work;
    if (m_engine)
        m_engine->expectWork(work);
    if (m_office)
        m_office->expectWork(work);
}

void RoutingServer::expectFormula(const QString& text)
{
    m_formula = text;
    if (m_engine)
        m_engine->expectFormula(text);
}

void RoutingServer::expectFormulaRewrite(const FormulaRewrite& rewrite)
{
    m_rewrite = rewrite;
    if (m_engine)
        m_engine->expectFormulaRewrite(rewrite);
}

bool RoutingServer::opensConcurrently() const
{
    // With the office chosen every workbook goes to it; the engine is made by isAvailable().
    return m_choice != ServerChoice::LibreOffice && m_engine && m_engine->opensConcurrently();
}

ConcurrentOpen RoutingServer::openConcurrently(const QString& path)
{
    ConcurrentOpen opened = m_engine->openConcurrently(path);
    if (opened.workbook || opened.handOver)
        return opened;
    // As in open(): only a file that is no package at all may go on to the office.
    if (m_choice == ServerChoice::Auto && opened.foreign) {
        opened.error.clear();
        opened.handOver = true;
    }
    return opened;
}

void RoutingServer::quit()
{
    if (m_office)
        m_office->quit();
    m_office.reset();
    if (m_engine)
        m_engine->quit();
    m_engine.reset();
}

QString RoutingServer::missingMessage() const
{
    if (m_choice != ServerChoice::LibreOffice)
        return {};
    const QString reason = m_officeDown.isEmpty() ? m_lastError : m_officeDown;
    return reason.isEmpty() ? QStringLiteral("本功能需要电脑中装有LibreOffice!")
                            : QStringLiteral("本功能需要电脑中装有LibreOffice!(%1)").arg(reason);
}

} // namespace corvane::automation
