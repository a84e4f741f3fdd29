// Stopping a run from the window offscreen: the stop button's states, the end after the
// workbook in hand with the stop noted and the lists of the workbooks done, and quitting from
// the tray or the window's close during a run (asked; No changes nothing). Then the backup box:
// remembered, the backup named in the summary, and undone by the undo button. The server opens
// each workbook only when the test lets it, so every step is taken at a known point.
#include "app/asker.h"
#include "app/startup.h"
#include "app/widget.h"
#include "jobs/joboptions.h"
#include "jobs/resultlists.h"
#include "jobs/serverregistry.h"
#include "tests/support/memoryserver.h"

#include <QAction>
#include <QCheckBox>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <functional>
#include <memory>

using corvane::app::Widget;
using namespace corvane::testsupport;

namespace {

class ScriptedAsker : public corvane::app::Asker
{
public:
    explicit ScriptedAsker(bool yes) : answer(yes) {}
    void inform(const QString& title, const QString& text) override { asked << title + "|" + text; }
    bool confirm(const QString& title, const QString& text) override
    {
        asked << title + "|" + text;
        if (whileAsking)
            whileAsking();
        return answer;
    }
    QStringList asked;
    bool answer;
    // Runs while the question is open, as the events a modal box lets through would.
    std::function<void()> whileAsking;
};

// Opens a workbook only once the test released the gate for it.
class GatedServer : public corvane::automation::AutomationServer
{
public:
    GatedServer(std::shared_ptr<ServerJournal> journal, QSemaphore& entered, QSemaphore& gate)
        : m_inner(std::move(journal)), m_entered(entered), m_gate(gate)
    {
    }
    bool isAvailable() override { return m_inner.isAvailable(); }
    std::unique_ptr<corvane::automation::Workbook> open(const QString& path) override
    {
        m_entered.release();
        m_gate.acquire();
        return m_inner.open(path);
    }
    void quit() override { m_inner.quit(); }
    QString lastError() const override { return m_inner.lastError(); }

private:
    MemoryServer m_inner;
    QSemaphore& m_entered;
    QSemaphore& m_gate;
};

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<absent>");
}

} // namespace

class StopTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_home;
    QTemporaryDir m_dir;
    QTemporaryDir m_data;
    QSemaphore m_entered;
    QSemaphore m_gate;
    ScriptedAsker* m_asker = nullptr;

    static constexpr int kBooks = 6;

    QString book(int i) const { return m_dir.filePath(QStringLiteral("book%1.xlsx").arg(i)); }
    template <typename T> static T* control(const QWidget& w, const char* name)
    {
        return w.findChild<T*>(QString::fromLatin1(name));
    }
    static QString status(const QWidget& w) { return control<QLabel>(w, "lb_ShowDisposingFile")->toolTip(); }
    static bool stopEnabled(const QWidget& w) { return control<QPushButton>(w, "pBtn_Stop")->isEnabled(); }
    static bool startEnabled(const QWidget& w)
    {
        return control<QPushButton>(w, "pBtn_ReplaceExcelText")->isEnabled();
    }

    // A window whose run is inside its first workbook's open.
    std::unique_ptr<Widget> startRun(bool answer, bool backup = false)
    {
        corvane::app::startupPaths().startArgument = "-autorun";
        corvane::app::startupPaths().settingsFilePath = m_home.filePath("Corvane.qrt");
        auto window = std::make_unique<Widget>();
        auto asker = std::make_unique<ScriptedAsker>(answer);
        m_asker = asker.get();
        window->setAsker(std::move(asker));
        control<QLineEdit>(*window, "lEdt_SourcePath")->setText(m_dir.path() + "/");
        control<QLineEdit>(*window, "lEdt_FindText")->setText("old");
        control<QLineEdit>(*window, "lEdt_ReplaceExcelText")->setText("new");
        control<QCheckBox>(*window, "cBox_Backup")->setChecked(backup);
        control<QPushButton>(*window, "pBtn_ReplaceExcelText")->click();
        m_entered.tryAcquire(1, 10000);
        return window;
    }

    static void quitFromTray(const Widget& w)
    {
        for (QAction* action : w.findChildren<QAction*>())
            if (action->text() == QStringLiteral("退出程序"))
                action->trigger();
    }

    QStringList changedBooks() const
    {
        QStringList changed;
        for (int i = 0; i < kBooks; ++i)
            if (readMemorySheet(book(i), 0).value("A1").toString() == QStringLiteral("new"))
                changed << book(i);
        return changed;
    }

private slots:
    void initTestCase()
    {
        // Backups go below the user's data folder: here, one of the test's own.
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_data.path()));
    }
    void init()
    {
        qputenv("CORVANE_TEXT_OPENER", "/bin/true");
        QFile::remove(m_home.filePath("Corvane.qrt"));
        for (int i = 0; i < kBooks; ++i)
            writeMemoryWorkbook(book(i), {{"Sheet1", {{"A1", "old"}}}});
        m_entered.acquire(m_entered.available());
        m_gate.acquire(m_gate.available());
        auto journal = std::make_shared<ServerJournal>();
        corvane::jobs::installServerFactory(
            [this, journal] { return std::make_unique<GatedServer>(journal, m_entered, m_gate); });
    }
    void cleanup()
    {
        // Whatever a test left waiting may go on to its end.
        m_gate.release(100);
        corvane::jobs::installServerFactory({});
    }

    void stopEndsAfterTheWorkbookInHandWithTheListsOfTheWorkbooksDone()
    {
        auto window = startRun(true);
        QVERIFY(!startEnabled(*window));
        QVERIFY(stopEnabled(*window));

        // Second workbook in hand when the stop comes.
        m_gate.release();
        QVERIFY(m_entered.tryAcquire(1, 10000));
        control<QPushButton>(*window, "pBtn_Stop")->click();
        QVERIFY(!stopEnabled(*window));
        m_gate.release();

        QTRY_VERIFY_WITH_TIMEOUT(startEnabled(*window), 10000);
        QVERIFY(!stopEnabled(*window));
        QVERIFY2(status(*window).startsWith(QStringLiteral("已停止运行,共6个Excel文件,处理了2个。查找2个Excel"
                                                           "文件,包含查找内容有2个Excel文件")),
                 qPrintable(status(*window)));
        // The walk's order is the file system's: the list must name exactly the two changed.
        const QStringList changed = changedBooks();
        QCOMPARE(changed.size(), 2);
        const QString matched = m_dir.path() + "/" + corvane::jobs::matchedListName();
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(matched), 10000);
        QStringList listed = QString::fromLocal8Bit(readAll(matched)).split("\r\n", Qt::SkipEmptyParts);
        listed.sort();
        QCOMPARE(listed, changed);
        QVERIFY(m_asker->asked.isEmpty());
    }

    void quitDuringARunAsksAndNoChangesNothing()
    {
        auto window = startRun(false);
        quitFromTray(*window);
        QVERIFY(!window->close());
        QCOMPARE(m_asker->asked.size(), 2);
        QVERIFY(m_asker->asked.first().startsWith(QStringLiteral("注意|")));
        QVERIFY(stopEnabled(*window));

        m_gate.release(kBooks);
        QTRY_VERIFY_WITH_TIMEOUT(startEnabled(*window), 10000);
        QCOMPARE(changedBooks().size(), kBooks);
    }

    void quitDuringARunStopsItAndQuitsOnceItEnded()
    {
        auto window = startRun(true);
        // The window stays while the workbook in hand is finished.
        quitFromTray(*window);
        QVERIFY(!window->close());
        QVERIFY(!stopEnabled(*window));
        QCOMPARE(m_asker->asked.size(), 1); // asked once, not again on the close

        // The lists are written, but no editor opens on them after the program has gone.
        const QString opened = m_home.filePath("opened.txt");
        const QString opener = m_home.filePath("opener.sh");
        QFile script(opener);
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write(QFile::encodeName("#!/bin/sh\necho \"$1\" >> " + opened + "\n"));
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::ExeOwner);
        qputenv("CORVANE_TEXT_OPENER", QFile::encodeName(opener));

        QEventLoop loop;
        QTimer::singleShot(10000, &loop, [&loop] { loop.exit(1); });
        m_gate.release();
        QCOMPARE(loop.exec(), 0); // the program's quit ended the loop
        window.reset();           // as the program's end does: waits for the lists
        QCOMPARE(changedBooks().size(), 1);
        QVERIFY(QFile::exists(m_dir.path() + "/" + corvane::jobs::matchedListName()));
        QVERIFY(!QFile::exists(opened));
    }

    void quitAnsweredAfterTheRunEndedQuitsAtOnce()
    {
        auto window = startRun(true);
        Widget* w = window.get();
        m_asker->whileAsking = [this, w] {
            m_gate.release(kBooks);
            QTRY_VERIFY_WITH_TIMEOUT(startEnabled(*w), 10000);
        };
        QVERIFY(window->close());
        QCOMPARE(changedBooks().size(), kBooks);
    }

    void backupIsRememberedNamedInTheSummaryAndUndone()
    {
        const QByteArray original = readAll(book(0));
        auto window = startRun(true, true);
        m_gate.release(kBooks);
        QTRY_VERIFY_WITH_TIMEOUT(startEnabled(*window), 10000);
        QCOMPARE(changedBooks().size(), kBooks);
        const QString root = m_data.path() + QStringLiteral("/Corvane/backups/");
        QVERIFY2(status(*window).contains(QStringLiteral("修改前的文件已备份到:") + root),
                 qPrintable(status(*window)));
        QVERIFY(readAll(m_home.filePath("Corvane.qrt")).contains("backup=1\r\n"));

        control<QPushButton>(*window, "pBtn_Undo")->click();
        QCOMPARE(m_asker->asked.size(), 1);
        QCOMPARE(readAll(book(0)), original);
        QCOMPARE(changedBooks().size(), 0);
        QCOMPARE(status(*window), QStringLiteral("已恢复6个文件。"));
        control<QPushButton>(*window, "pBtn_Undo")->click();
        QCOMPARE(status(*window), QStringLiteral("已恢复0个文件。6个文件已是修改前的内容。"));
    }
};

QTEST_MAIN(StopTest)
#include "tst_stoplaunch.moc"
