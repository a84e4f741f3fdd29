// The server choice: which backend opens which file, when the office is made and started, and
// what a run reports when the chosen server is missing. The backends here are test servers that
// tell their kinds of file apart by name; the engine's own verdict on real files is checked at
// the end.
#include "automation/native/nativeserver.h"
#include "automation/workbook.h"
#include "operations/findreplace.h"
#include "run/routingserver.h"
#include "run/runskeleton.h"
#include "tests/support/memoryserver.h"
#include "tests/support/recordingsink.h"
#include "workbookfixture.h"
#include "workbooktest.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using corvane::automation::AutomationServer;
using corvane::automation::RoutingServer;
using corvane::automation::ServerChoice;
using corvane::automation::ServerFactory;
using corvane::automation::Workbook;
using corvane::testsupport::MemoryServer;
using corvane::testsupport::ServerJournal;

// What the backends of one test did.
struct Backends
{
    int officesMade = 0;
    int officeStarts = 0;
    int officeQuits = 0;
    int engineQuits = 0;
    QStringList engineOpened;
    QStringList officeOpened;
};

// The engine: reads memory workbooks named .xlsx/.xlsm; an .xls name is another format to it,
// and anything it cannot parse is "damaged".
class EngineDouble : public AutomationServer
{
public:
    explicit EngineDouble(Backends& b) : m_b(b) {}
    bool isAvailable() override { return true; }
    std::unique_ptr<Workbook> open(const QString& path) override
    {
        m_b.engineOpened << QFileInfo(path).fileName();
        m_foreign = path.endsWith(QLatin1String(".xls"));
        if (m_foreign) {
            m_error = QStringLiteral("unsupported: a binary workbook");
            return nullptr;
        }
        auto workbook = m_inner.open(path);
        m_error = workbook ? QString() : QStringLiteral("damaged: engine");
        return workbook;
    }
    void quit() override { ++m_b.engineQuits; }
    QString lastError() const override { return m_error; }
    bool lastOpenWasForeign() const override { return m_foreign; }

private:
    Backends& m_b;
    MemoryServer m_inner;
    QString m_error;
    bool m_foreign = false;
};

// The office: reads every memory workbook; it may be missing.
class OfficeDouble : public AutomationServer
{
public:
    OfficeDouble(Backends& b, bool installed) : m_b(b), m_installed(installed) { ++m_b.officesMade; }
    bool isAvailable() override
    {
        ++m_b.officeStarts;
        return m_installed;
    }
    std::unique_ptr<Workbook> open(const QString& path) override
    {
        m_b.officeOpened << QFileInfo(path).fileName();
        if (!m_installed)
            return nullptr;
        auto workbook = m_inner.open(path);
        m_error = workbook ? QString() : QStringLiteral("LibreOffice cannot open it");
        return workbook;
    }
    void quit() override { ++m_b.officeQuits; }
    QString lastError() const override
    {
        return m_installed ? m_error
                           : QStringLiteral("LibreOffice is not installed (no soffice program found)");
    }

private:
    Backends& m_b;
    bool m_installed;
    MemoryServer m_inner;
    QString m_error;
};

class Routing : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        for (const char* name : {"a.xlsx", "b.xls", "c.xlsm", "d.xls"})
            corvane::testsupport::writeMemoryWorkbook(dir.filePath(QString::fromLatin1(name)),
                                                      {{QStringLiteral("Sheet1"), {{"A1", "old"}}}});
        ASSERT_TRUE(corvane::testing::writeFile(dir.filePath(QStringLiteral("e.xlsx")), "PK broken"));
    }

    std::unique_ptr<RoutingServer> make(ServerChoice choice, bool officeInstalled = true,
                                        bool officeBuilt = true)
    {
        Backends& b = backends;
        ServerFactory office;
        if (officeBuilt)
            office = [&b, officeInstalled] { return std::make_unique<OfficeDouble>(b, officeInstalled); };
        return std::make_unique<RoutingServer>(
            choice, [&b] { return std::make_unique<EngineDouble>(b); }, office);
    }

    QString path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }

    QTemporaryDir dir;
    Backends backends;
};

TEST(ServerChoiceNames, RoundTripAndRefuseOthers)
{
    using corvane::automation::parseServerChoice;
    using corvane::automation::serverChoiceName;
    EXPECT_EQ(corvane::automation::serverChoiceNames(),
              (QStringList{QStringLiteral("auto"), QStringLiteral("native"), QStringLiteral("libreoffice")}));
    for (ServerChoice c : {ServerChoice::Auto, ServerChoice::Native, ServerChoice::LibreOffice})
        EXPECT_EQ(parseServerChoice(serverChoiceName(c)), c);
    EXPECT_EQ(parseServerChoice(QStringLiteral(" LibreOffice ")), ServerChoice::LibreOffice);
    for (const char* wrong : {"", "excel", "lo", "auto,native"})
        EXPECT_FALSE(parseServerChoice(QString::fromLatin1(wrong))) << wrong;
}

TEST_F(Routing, AutoOpensPackagesWithTheEngineAndStartsTheOfficeOnlyForOtherFormats)
{
    auto server = make(ServerChoice::Auto);
    ASSERT_TRUE(server->isAvailable());
    EXPECT_EQ(backends.officesMade, 0) << "checking availability must not start LibreOffice";

    EXPECT_TRUE(server->open(path("a.xlsx")));
    EXPECT_TRUE(server->open(path("c.xlsm")));
    EXPECT_EQ(backends.officesMade, 0);
    EXPECT_FALSE(server->officeMade());

    EXPECT_TRUE(server->open(path("b.xls")));
    EXPECT_TRUE(server->open(path("d.xls")));
    // One office for the whole run, started once.
    EXPECT_EQ(backends.officesMade, 1);
    EXPECT_EQ(backends.officeStarts, 1);
    EXPECT_EQ(backends.officeOpened, (QStringList{"b.xls", "d.xls"}));
    EXPECT_EQ(backends.engineOpened, (QStringList{"a.xlsx", "c.xlsm", "b.xls", "d.xls"}));

    server->quit();
    EXPECT_EQ(backends.officeQuits, 1);
    EXPECT_EQ(backends.engineQuits, 1);
}

TEST_F(Routing, AutoKeepsTheEnginesVerdictOnADamagedPackage)
{
    auto server = make(ServerChoice::Auto);
    EXPECT_FALSE(server->open(path("e.xlsx")));
    EXPECT_EQ(server->lastError(), QStringLiteral("damaged: engine"));
    EXPECT_EQ(backends.officesMade, 0);
}

TEST_F(Routing, AutoWithoutTheOfficeFailsThoseFilesWithBothReasonsAndTriesToStartItOnce)
{
    auto server = make(ServerChoice::Auto, false);
    ASSERT_TRUE(server->isAvailable());
    EXPECT_FALSE(server->open(path("b.xls")));
    EXPECT_EQ(server->lastError(), QStringLiteral("unsupported: a binary workbook; LibreOffice is not "
                                                  "installed (no soffice program found)"));
    EXPECT_FALSE(server->open(path("d.xls")));
    EXPECT_TRUE(server->lastError().contains(QStringLiteral("LibreOffice is not installed")));
    EXPECT_EQ(backends.officeStarts, 1);
    EXPECT_TRUE(server->open(path("a.xlsx"))) << "the engine's files go on";

    auto unbuilt = make(ServerChoice::Auto, true, false);
    EXPECT_FALSE(unbuilt->open(path("b.xls")));
    EXPECT_EQ(
        unbuilt->lastError(),
        QStringLiteral("unsupported: a binary workbook; LibreOffice is not part of this build of Corvane"));
}

TEST_F(Routing, NativeNeverMakesTheOffice)
{
    auto server = make(ServerChoice::Native);
    ASSERT_TRUE(server->isAvailable());
    EXPECT_TRUE(server->open(path("a.xlsx")));
    EXPECT_FALSE(server->open(path("b.xls")));
    EXPECT_EQ(server->lastError(), QStringLiteral("unsupported: a binary workbook"));
    EXPECT_EQ(backends.officesMade, 0);
    EXPECT_TRUE(server->missingMessage().isEmpty());
}

TEST_F(Routing, LibreOfficeTakesEveryFileAndIsStartedByTheAvailabilityCheck)
{
    auto server = make(ServerChoice::LibreOffice);
    ASSERT_TRUE(server->isAvailable());
    EXPECT_EQ(backends.officeStarts, 1);
    EXPECT_TRUE(server->open(path("a.xlsx")));
    EXPECT_TRUE(server->open(path("b.xls")));
    EXPECT_FALSE(server->open(path("e.xlsx")));
    EXPECT_EQ(server->lastError(), QStringLiteral("LibreOffice cannot open it"));
    EXPECT_TRUE(backends.engineOpened.isEmpty());
    EXPECT_EQ(backends.officeOpened, (QStringList{"a.xlsx", "b.xls", "e.xlsx"}));
}

TEST_F(Routing, MissingLibreOfficeEndsTheRunWithAMessageNamingItAndTheEndSignal)
{
    for (const bool built : {true, false}) {
        SCOPED_TRACE(built ? "not installed" : "not built");
        Backends& b = backends;
        const ServerFactory factory = [this, built] { return make(ServerChoice::LibreOffice, false, built); };
        corvane::automation::FindReplaceOperation operation(
            {QStringLiteral("old"), QStringLiteral("new"), false});
        corvane::testsupport::RecordingSink sink;
        corvane::automation::RunSettings settings;
        settings.sourcePath = dir.path() + QLatin1Char('/');
        EXPECT_EQ(corvane::automation::runOperation(settings, factory, operation, sink),
                  corvane::automation::RunEnd::ServerMissing);
        const QStringList statuses = sink.only(QStringLiteral("status:"));
        ASSERT_FALSE(statuses.isEmpty());
        EXPECT_TRUE(statuses.last().startsWith(QStringLiteral("本功能需要电脑中装有LibreOffice")))
            << statuses.last().toStdString();
        EXPECT_NE(statuses.last(), corvane::automation::serverMissingMessage());
        const QStringList reasons = sink.only(QStringLiteral("server:"));
        ASSERT_EQ(reasons.size(), 1);
        EXPECT_TRUE(reasons.first().contains(QStringLiteral("LibreOffice"))) << reasons.first().toStdString();
        EXPECT_EQ(sink.events.last(), QStringLiteral("ended")) << "the window's buttons come back";
        EXPECT_TRUE(b.engineOpened.isEmpty());
        EXPECT_EQ(corvane::testsupport::readMemorySheet(path("a.xlsx"), 0).value("A1").toString(),
                  QStringLiteral("old"));
    }
}

TEST_F(Routing, AutoRunReplacesInEveryKindAndListsTheDamagedPackage)
{
    Backends& b = backends;
    const ServerFactory factory = [this] { return make(ServerChoice::Auto); };
    corvane::automation::FindReplaceOperation operation(
        {QStringLiteral("old"), QStringLiteral("new"), false});
    corvane::testsupport::RecordingSink sink;
    corvane::automation::RunSettings settings;
    settings.sourcePath = dir.path() + QLatin1Char('/');
    EXPECT_EQ(corvane::automation::runOperation(settings, factory, operation, sink),
              corvane::automation::RunEnd::Completed);
    for (const char* name : {"a.xlsx", "b.xls", "c.xlsm", "d.xls"})
        EXPECT_EQ(corvane::testsupport::readMemorySheet(path(name), 0).value("A1").toString(),
                  QStringLiteral("new"))
            << name;
    EXPECT_EQ(sink.only(QStringLiteral("failed:")),
              QStringList{QDir::toNativeSeparators(path("e.xlsx")) + QStringLiteral(":damaged: engine")});
    EXPECT_EQ(b.officesMade, 1);
    EXPECT_EQ(b.officeQuits, 1);
}

// The engine's own verdict: a file that is neither a zip package nor a compound file is another
// format; a compound file whose container cannot be read is damaged, as a broken package is.
TEST(EngineVerdict, OnlyFilesThatAreNoPackageAtAllAreForeign)
{
    QTemporaryDir dir;
    const auto write = [&dir](const QString& name, const QByteArray& bytes) {
        EXPECT_TRUE(corvane::testing::writeFile(dir.filePath(name), bytes));
        return dir.filePath(name);
    };
    corvane::automation::native::NativeServer engine;
    const QByteArray compound =
        QByteArray::fromRawData("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + QByteArray(504, '\0');
    struct Case
    {
        QString path;
        bool foreign;
    };
    const Case cases[] = {
        {write(QStringLiteral("biff.xls"), compound), false},
        {write(QStringLiteral("page.xls"), "<html><body><table><tr><td>1</td></tr></table></body></html>"),
         true},
        {write(QStringLiteral("text.xls"), "a,b\n1,2\n"), true},
        {write(QStringLiteral("empty.xlsx"), QByteArray()), false},
        {write(QStringLiteral("broken.xlsx"), QByteArray("PK\x03\x04", 4) + QByteArray(100, 'x')), false},
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(engine.open(c.path)) << c.path.toStdString();
        EXPECT_EQ(engine.lastOpenWasForeign(), c.foreign)
            << c.path.toStdString() << ": " << engine.lastError().toStdString();
    }

    const QString corpus = corvane::testing::corpusDir();
    if (corpus.isEmpty())
        GTEST_SKIP() << "corpus folder missing (CORVANE_CORPUS_DIR): the encrypted and .xls cases need it";
    for (const char* name : {"poi__protected_passtika.xlsx", "poi__xlsx-corrupted.xlsx"}) {
        EXPECT_FALSE(engine.open(QDir(corpus).filePath(QString::fromLatin1(name))));
        EXPECT_FALSE(engine.lastOpenWasForeign()) << name << ": " << engine.lastError().toStdString();
    }
    EXPECT_FALSE(engine.open(QDir(corpus).filePath(QStringLiteral("poi__44235.xls"))));
    EXPECT_TRUE(engine.lastOpenWasForeign()) << engine.lastError().toStdString();
    // A success clears the verdict of the file before.
    EXPECT_TRUE(engine.open(QDir(corpus).filePath(QStringLiteral("poi__TwoSheetsOneHidden.xlsx"))));
    EXPECT_FALSE(engine.lastOpenWasForeign());
}

// In auto, an Excel 97-2003 workbook goes to the office when the run's work is one the engine
// does not do on that format (told before the first open), or needs formula texts it cannot
// read; otherwise the engine keeps it and the office is never made.
TEST(EngineVerdict, AutoHandsXlsWorkTheEngineDoesNotDoToTheOffice)
{
    const QString corpus = corvane::testing::corpusDir();
    if (corpus.isEmpty())
        GTEST_SKIP() << "corpus folder missing (CORVANE_CORPUS_DIR)";
    using corvane::automation::WorkKind;
    struct Case
    {
        const char* file;
        WorkKind work;
        bool toOffice;
        bool byEngine;
    };
    const Case cases[] = {
        {"poi__chinese-provinces.xls", WorkKind::FindReplace, false, true},
        {"poi__chinese-provinces.xls", WorkKind::CellText, false, true},
        {"poi__chinese-provinces.xls", WorkKind::RowColumn, true, false},
        {"poi__chinese-provinces.xls", WorkKind::SheetRemoval, true, false},
        {"poi__chinese-provinces.xls", WorkKind::Pictures, true, false},
        {"poi__chinese-provinces.xls", WorkKind::CellFormula, true, false},
        // Its formulas read and compile again: the engine searches and replaces in them.
        {"poi__44235.xls", WorkKind::FindReplace, false, true},
        // A formula naming another workbook does not compile back: left to the office.
        {"poi__ex42570-20305.xls", WorkKind::FindReplace, true, false},
        // Encrypted: refused by the engine, never handed on.
        {"poi__password.xls", WorkKind::CellText, false, false},
    };
    for (const Case& c : cases) {
        const QString path = QDir(corpus).filePath(QString::fromLatin1(c.file));
        if (!QFile::exists(path))
            continue;
        Backends b;
        RoutingServer server(
            ServerChoice::Auto, [] { return std::make_unique<corvane::automation::native::NativeServer>(); },
            [&b] { return std::make_unique<OfficeDouble>(b, true); });
        server.expectWork(c.work);
        const std::unique_ptr<Workbook> workbook = server.open(path);
        EXPECT_EQ(b.officeOpened.size(), c.toOffice ? 1 : 0) << c.file << " " << int(c.work);
        EXPECT_EQ(server.officeMade(), c.toOffice) << c.file;
        if (c.byEngine) {
            EXPECT_TRUE(workbook) << c.file << ": " << server.lastError().toStdString();
        }
        if (workbook)
            workbook->close();
    }
    // The engine's reason under --server native.
    RoutingServer native(ServerChoice::Native,
                         [] { return std::make_unique<corvane::automation::native::NativeServer>(); }, {});
    native.expectWork(WorkKind::RowColumn);
    EXPECT_FALSE(native.open(QDir(corpus).filePath(QStringLiteral("poi__chinese-provinces.xls"))));
    EXPECT_TRUE(native.lastError().startsWith(QStringLiteral("unsupported on .xls: ")))
        << native.lastError().toStdString();
}

} // namespace
