// The window's find-and-replace launch offscreen: refusals and what they leave alone, the
// settings file's save mode, the busy state, the progress bar, replacement of the worker pair,
// and the question asked before spreadsheet servers are ended. No test opens a dialog.
#include "app/asker.h"
#include "app/settingsstore.h"
#include "app/startup.h"
#include "app/widget.h"
#include "jobs/joboptions.h"
#include "jobs/launch.h"
#include "jobs/resultlists.h"
#include "jobs/serverregistry.h"
#include "platform/officeleftovers.h"
#include "tests/support/memoryserver.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using corvane::app::Widget;
using namespace corvane::testsupport;

namespace {

const QStringList kStartButtons = {
    QStringLiteral("pBtn_ReplaceExcelText"), QStringLiteral("pBtn_CellFillText"),
    QStringLiteral("pBtn_PicInsert"),        QStringLiteral("pBtn_CellChangeText"),
    QStringLiteral("pBtn_CellFillFormula"),  QStringLiteral("pBtn_CellChangeFormula"),
    QStringLiteral("pBtn_DeleteRow"),        QStringLiteral("pBtn_DeleteColumn"),
    QStringLiteral("pBtn_AddRow"),           QStringLiteral("pBtn_AddColumn"),
    QStringLiteral("pBtn_RemoveSheet")};

class ScriptedAsker : public corvane::app::Asker
{
public:
    explicit ScriptedAsker(bool answer) : m_answer(answer) {}
    void inform(const QString& title, const QString& text) override { asked << title + "|" + text; }
    bool confirm(const QString& title, const QString& text) override
    {
        asked << title + "|" + text;
        return m_answer;
    }
    QStringList asked;

private:
    bool m_answer;
};

QList<bool> allEnabled(bool enabled)
{
    QList<bool> states;
    for (int i = 0; i < kStartButtons.size(); ++i)
        states << enabled;
    return states;
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<absent>");
}

void write(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

} // namespace

class LaunchTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_home; // settings file
    QString settingsPath() const { return m_home.filePath("Corvane.qrt"); }

    std::unique_ptr<Widget> makeWindow()
    {
        corvane::app::startupPaths().startArgument = "-autorun";
        corvane::app::startupPaths().settingsFilePath = settingsPath();
        return std::make_unique<Widget>();
    }
    template <typename T> static T* control(const QWidget& w, const char* name)
    {
        return w.findChild<T*>(QString::fromLatin1(name));
    }
    static QString status(const QWidget& w) { return control<QLabel>(w, "lb_ShowDisposingFile")->text(); }
    static QList<bool> buttonStates(const QWidget& w)
    {
        QList<bool> states;
        for (const QString& name : kStartButtons)
            states << w.findChild<QPushButton*>(name)->isEnabled();
        return states;
    }
    static void fill(Widget& w, const QString& folder, const QString& find, const QString& replace)
    {
        control<QLineEdit>(w, "lEdt_SourcePath")->setText(folder);
        control<QLineEdit>(w, "lEdt_FindText")->setText(find);
        control<QLineEdit>(w, "lEdt_ReplaceExcelText")->setText(replace);
    }
    static void click(Widget& w) { control<QPushButton>(w, "pBtn_ReplaceExcelText")->click(); }

private slots:
    void init()
    {
        QFile::remove(settingsPath());
        qputenv("CORVANE_TEXT_OPENER", "/bin/true");
    }
    void cleanup() { corvane::jobs::installServerFactory({}); }

    void missingFolderIsRefusedAfterTheListsAreGoneAndTouchesNoSettings()
    {
        QTemporaryDir dir;
        const QByteArray settings = "sourcePath=/somewhere/else/\r\npicPath=/p.png\r\n";
        write(settingsPath(), settings);
        auto window = makeWindow();
        // Typed without a final separator, the folder's lists lie beside it and can exist
        // although the folder does not.
        const QString typed = dir.filePath("gone");
        const QString staleList = typed + corvane::jobs::matchedListName();
        write(staleList, "old run\r\n");
        fill(*window, typed, "a", "b");
        QSignalSpy requests(window.get(), &Widget::pBtn_ReplaceExcelText_HasClicked);

        click(*window);
        QCOMPARE(status(*window), QStringLiteral("文件夹不存在,请选择正确路径!"));
        QVERIFY(!QFile::exists(staleList));
        QCOMPARE(readAll(settingsPath()), settings);
        QCOMPARE(requests.count(), 0);
        QCOMPARE(buttonStates(*window), allEnabled(true));

        // An empty folder field is no folder either; without a settings file none appears.
        QFile::remove(settingsPath());
        fill(*window, QString(), "a", "b");
        click(*window);
        QCOMPARE(status(*window), QStringLiteral("文件夹不存在,请选择正确路径!"));
        QVERIFY(!QFile::exists(settingsPath()));
    }

    void launchRunsTheJobRemembersTheFolderAndEndsTheBusyState()
    {
        QTemporaryDir dir;
        auto journal = std::make_shared<ServerJournal>();
        corvane::jobs::installServerFactory([journal] { return std::make_unique<MemoryServer>(journal); });
        writeMemoryWorkbook(dir.filePath("a.xlsx"), {{"Sheet1", {{"A1", "old text"}}}});
        writeMemoryWorkbook(dir.filePath("b.xlsx"), {{"Sheet1", {{"A1", "nothing"}}}});
        // A longer remembered folder and a line the program does not know.
        write(settingsPath(), "sourcePath=/a/much/longer/folder/than/the/new/one/\r\nextra=1\r\n");

        auto window = makeWindow();
        const QString folder = dir.path() + "/";
        fill(*window, folder, "OLD", "new");
        control<QLabel>(*window, "lb_ShowDisposingFile")->setText("before");
        QSignalSpy requests(window.get(), &Widget::pBtn_ReplaceExcelText_HasClicked);
        click(*window);

        // Busy at once: every start button off, the status line cleared, the request sent.
        QCOMPARE(requests.count(), 1);
        QCOMPARE(buttonStates(*window), allEnabled(false));
        QCOMPARE(readAll(settingsPath()), "sourcePath=" + QFile::encodeName(folder) + "\r\nextra=1\r\n");

        QTRY_COMPARE_WITH_TIMEOUT(buttonStates(*window), allEnabled(true), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(
            status(*window).startsWith(QStringLiteral("查找2个Excel文件,包含查找内容有1个Excel文件,耗时")),
            10000);
        auto* bar = control<QProgressBar>(*window, "progressBar_Run");
        QVERIFY(bar);
        QTRY_COMPARE(bar->value(), 2);
        QCOMPARE(bar->maximum(), 2);
        QCOMPARE(readMemorySheet(dir.filePath("a.xlsx"), 0).value("A1").toString(),
                 QStringLiteral("new text"));
        QVERIFY(QFile::exists(folder + corvane::jobs::matchedListName()));

        const corvane::jobs::JobOptions& o = corvane::jobs::jobOptions();
        QCOMPARE(o.sourcePath, folder);
        QCOMPARE(o.findText, QStringLiteral("OLD"));
        QVERIFY(!o.justShow);
    }

    void findAndReplaceCreatesAMissingSettingsFile()
    {
        QTemporaryDir dir;
        auto journal = std::make_shared<ServerJournal>();
        corvane::jobs::installServerFactory([journal] { return std::make_unique<MemoryServer>(journal); });
        auto window = makeWindow();
        fill(*window, dir.path(), QString(), QString());
        click(*window);
        // An empty find text starts a job too.
        QCOMPARE(readAll(settingsPath()), "sourcePath=" + QFile::encodeName(dir.path()) + "\r\n");
        QTRY_COMPARE_WITH_TIMEOUT(buttonStates(*window), allEnabled(true), 10000);
        QTRY_COMPARE(journal->destroyed, 1);
    }

    void aLaunchWaitsForThePreviousSlotToReturn()
    {
        QTemporaryDir dir;
        auto journal = std::make_shared<ServerJournal>();
        QSemaphore entered;
        QSemaphore gate;
        corvane::jobs::installServerFactory([journal, &entered, &gate] {
            entered.release();
            gate.acquire();
            return std::make_unique<MemoryServer>(journal);
        });
        writeMemoryWorkbook(dir.filePath("a.xlsx"), {{"Sheet1", {{"A1", "x"}}}});
        auto window = makeWindow();
        fill(*window, dir.path() + "/", "x", "y");
        click(*window);
        QVERIFY(entered.tryAcquire(1, 10000));

        // The first run is still inside its slot. A second launch (the handler called as the
        // button would) must block until that slot has returned.
        std::unique_ptr<QThread> releaser(QThread::create([&gate] {
            QThread::msleep(300);
            gate.release(2);
        }));
        releaser->start();
        fill(*window, dir.path() + "/", "y", "z");
        QElapsedTimer timer;
        timer.start();
        QVERIFY(QMetaObject::invokeMethod(window.get(), "on_pBtn_ReplaceExcelText_clicked"));
        QVERIFY(timer.elapsed() >= 250);
        QCOMPARE(journal->destroyed, 1);
        releaser->wait();

        QTRY_COMPARE_WITH_TIMEOUT(journal->destroyed, 2, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(buttonStates(*window), allEnabled(true), 10000);
        QCOMPARE(readMemorySheet(dir.filePath("a.xlsx"), 0).value("A1").toString(), QStringLiteral("z"));
    }

    void missingServerReEnablesTheButtons()
    {
        QTemporaryDir dir;
        auto journal = std::make_shared<ServerJournal>();
        corvane::jobs::installServerFactory(
            [journal] { return std::make_unique<MemoryServer>(journal, false); });
        auto window = makeWindow();
        fill(*window, dir.path(), "a", "b");
        click(*window);
        QTRY_COMPARE_WITH_TIMEOUT(buttonStates(*window), allEnabled(true), 10000);
        QCOMPARE(status(*window), corvane::automation::serverMissingMessage());
    }

    void sweepAsksBeforeEndingAndNoLeavesTheProcessRunning()
    {
        // Nothing is asked while no office left by a gone Corvane runs (a machine with one
        // would only be asked, never touched).
        ScriptedAsker no(false);
        const bool before = corvane::app::confirmedServerSweep(no);
        if (!no.asked.isEmpty())
            QSKIP("a leftover office runs on this machine; the quiet case cannot be checked");
        QVERIFY(before);

        // A process with the private profile of a Corvane that is gone.
        const QString profile = corvane::platform::officeProfilePrefix() +
                                QStringLiteral("launch-%1").arg(QCoreApplication::applicationPid());
        QVERIFY(QDir().mkpath(profile));
        write(profile + "/owner", "2147483000");
        QProcess server;
        server.start("/bin/sh",
                     {"-c", "read line", "-env:UserInstallation=" + QUrl::fromLocalFile(profile).toString()});
        QVERIFY(server.waitForStarted());

        QVERIFY(!corvane::app::confirmedServerSweep(no));
        QCOMPARE(no.asked.size(), 1);
        QVERIFY(no.asked.first().startsWith(QStringLiteral("注意|")));
        // At least ours is counted; an office another test left a moment ago may be counted too.
        const auto count = QRegularExpression(QStringLiteral("检测到(\\d+)个")).match(no.asked.first());
        QVERIFY(count.hasMatch() && count.captured(1).toInt() >= 1);
        QCOMPARE(server.state(), QProcess::Running);
        server.kill();
        server.waitForFinished();
        QDir(profile).removeRecursively();
    }
};

QTEST_MAIN(LaunchTest)
#include "tst_launch.moc"
