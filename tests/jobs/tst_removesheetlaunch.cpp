// The window's sheet-removal launch offscreen: the question comes first and its answer is the
// test's, then the options, the old lists, the folder test, the settings, the busy state and
// the worker. No test opens a dialog.
#include "app/asker.h"
#include "app/startup.h"
#include "app/widget.h"
#include "jobs/joboptions.h"
#include "jobs/resultlists.h"
#include "jobs/serverregistry.h"
#include "tests/support/memoryserver.h"

#include <QCheckBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using corvane::app::Widget;
using namespace corvane::testsupport;

namespace {

const QString kQuestion = QStringLiteral("该功能将删除勾选的指定Sheet,操作不可逆,建议先备份,是否继续？");

class AnsweringAsker : public corvane::app::Asker
{
public:
    AnsweringAsker(bool answer, QStringList* asked, QWidget** parent)
        : m_answer(answer), m_asked(asked), m_parent(parent)
    {
    }
    void inform(const QString& title, const QString& text) override { *m_asked << title + "|" + text; }
    bool confirm(const QString& title, const QString& text) override
    {
        *m_asked << "parentless:" + title + "|" + text;
        return m_answer;
    }
    bool ask(QWidget* parent, const QString& title, const QString& text) override
    {
        *m_parent = parent;
        *m_asked << title + "|" + text;
        return m_answer;
    }

private:
    bool m_answer;
    QStringList* m_asked;
    QWidget** m_parent;
};

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

QStringList sheetNames(const QString& path)
{
    QFile f(path);
    QStringList names;
    if (f.open(QIODevice::ReadOnly)) {
        for (const QJsonValue& s : QJsonDocument::fromJson(f.readAll()).object()["sheets"].toArray())
            names << s.toObject()["name"].toString();
    }
    return names;
}

} // namespace

class RemoveSheetLaunchTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_home;
    QStringList m_asked;
    QWidget* m_parent = nullptr;
    QString settingsPath() const { return m_home.filePath("Corvane.qrt"); }

    std::unique_ptr<Widget> makeWindow(bool answer)
    {
        corvane::app::startupPaths().startArgument = "-autorun";
        corvane::app::startupPaths().settingsFilePath = settingsPath();
        auto window = std::make_unique<Widget>();
        window->setAsker(std::make_unique<AnsweringAsker>(answer, &m_asked, &m_parent));
        return window;
    }
    template <typename T> static T* control(const QWidget& w, const char* name)
    {
        return w.findChild<T*>(QString::fromLatin1(name));
    }
    static QString status(const QWidget& w) { return control<QLabel>(w, "lb_ShowDisposingFile")->text(); }
    static void choose(Widget& w, const QString& folder, bool onlyFirst, bool appointed, const QString& name)
    {
        control<QLineEdit>(w, "lEdt_SourcePath")->setText(folder);
        control<QCheckBox>(w, "cBox_OnlyFirstSheet")->setChecked(onlyFirst);
        control<QCheckBox>(w, "cBox_AppointedSheet")->setChecked(appointed);
        control<QLineEdit>(w, "lEdt_AppointedSheetName")->setText(name);
    }
    static QPushButton* button(const QWidget& w) { return control<QPushButton>(w, "pBtn_RemoveSheet"); }

private slots:
    void init()
    {
        QFile::remove(settingsPath());
        qputenv("CORVANE_TEXT_OPENER", "/bin/true");
        m_asked.clear();
        m_parent = nullptr;
    }
    void cleanup() { corvane::jobs::installServerFactory({}); }

    void answeringNoTouchesNothing()
    {
        QTemporaryDir dir;
        auto journal = std::make_shared<ServerJournal>();
        corvane::jobs::installServerFactory([journal] { return std::make_unique<MemoryServer>(journal); });
        writeMemoryWorkbook(dir.filePath("a.xlsx"), {{"One", {}}, {"Two", {}}});
        const QString folder = dir.path() + "/";
        const QString oldList = folder + corvane::jobs::matchedListName();
        write(oldList, "old run\r\n");
        write(settingsPath(), "sourcePath=/before/\r\n");
        auto window = makeWindow(false);
        choose(*window, folder, false, true, "Two");
        corvane::jobs::jobOptions().appointedSheetName = "untouched";
        QSignalSpy requests(window.get(), &Widget::pBtn_RemoveSheet_HasClicked);

        button(*window)->click();
        QCOMPARE(m_asked, QStringList{"Message:|" + kQuestion});
        QCOMPARE(m_parent, window.get());
        QCOMPARE(requests.count(), 0);
        QCOMPARE(readAll(oldList), QByteArray("old run\r\n"));
        QCOMPARE(readAll(settingsPath()), QByteArray("sourcePath=/before/\r\n"));
        QCOMPARE(corvane::jobs::jobOptions().appointedSheetName, QStringLiteral("untouched"));
        QCOMPARE(sheetNames(dir.filePath("a.xlsx")), (QStringList{"One", "Two"}));
        QVERIFY(button(*window)->isEnabled());
    }

    void aMissingFolderIsRefusedAfterTheQuestion()
    {
        QTemporaryDir dir;
        auto window = makeWindow(true);
        choose(*window, dir.filePath("gone/"), false, false, QString());
        QSignalSpy requests(window.get(), &Widget::pBtn_RemoveSheet_HasClicked);
        button(*window)->click();
        QCOMPARE(m_asked.size(), 1);
        QCOMPARE(status(*window), QStringLiteral("文件夹不存在,请选择正确路径!"));
        QCOMPARE(requests.count(), 0);
        QVERIFY(!QFile::exists(settingsPath()));
        QVERIFY(button(*window)->isEnabled());
    }

    void yesRunsTheRemovalAndRemembersTheFolder()
    {
        QTemporaryDir dir;
        auto journal = std::make_shared<ServerJournal>();
        corvane::jobs::installServerFactory([journal] { return std::make_unique<MemoryServer>(journal); });
        writeMemoryWorkbook(dir.filePath("a.xlsx"), {{"Sheet1", {}}, {"Data", {}}, {"Data2", {}}});
        writeMemoryWorkbook(dir.filePath("b.xlsx"), {{"data", {}}, {"Sheet1", {}}});
        writeMemoryWorkbook(dir.filePath("c.xlsx"), {{"Data", {}}, {"X", {}}});
        const QString folder = dir.path() + "/";
        auto window = makeWindow(true);
        choose(*window, folder, false, true, "Data");
        QSignalSpy requests(window.get(), &Widget::pBtn_RemoveSheet_HasClicked);

        button(*window)->click();
        QCOMPARE(requests.count(), 1);
        QVERIFY(!button(*window)->isEnabled());
        QVERIFY(!control<QPushButton>(*window, "pBtn_ReplaceExcelText")->isEnabled());
        // Saved by creating the settings file, as find and replace does.
        QCOMPARE(readAll(settingsPath()), "sourcePath=" + QFile::encodeName(folder) + "\r\n");

        QTRY_VERIFY_WITH_TIMEOUT(button(*window)->isEnabled(), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(
            status(*window).startsWith(QStringLiteral("查找3个Excel文件,删除2个Sheet,耗时")), 10000);
        QCOMPARE(sheetNames(dir.filePath("a.xlsx")), (QStringList{"Sheet1", "Data2"}));
        QCOMPARE(sheetNames(dir.filePath("b.xlsx")), (QStringList{"data", "Sheet1"}));
        QCOMPARE(sheetNames(dir.filePath("c.xlsx")), QStringList{"X"});
        QTRY_VERIFY(QFile::exists(folder + corvane::jobs::matchedListName()));
        QVERIFY(!QFile::exists(folder + corvane::jobs::unmatchedListName()));
        const corvane::jobs::JobOptions& o = corvane::jobs::jobOptions();
        QCOMPARE(o.sourcePath, folder);
        QVERIFY(o.appointedSheet);
        QCOMPARE(o.appointedSheetName, QStringLiteral("Data"));
    }

    void withoutTheNameSwitchTheOldNameStaysAndSheetOneGoes()
    {
        QTemporaryDir dir;
        auto journal = std::make_shared<ServerJournal>();
        corvane::jobs::installServerFactory([journal] { return std::make_unique<MemoryServer>(journal); });
        writeMemoryWorkbook(dir.filePath("a.xlsx"), {{"One", {}}, {"Two", {}}});
        auto window = makeWindow(true);
        corvane::jobs::jobOptions().appointedSheetName = "Two";
        choose(*window, dir.path() + "/", true, false, "ignored");
        button(*window)->click();
        QTRY_VERIFY_WITH_TIMEOUT(button(*window)->isEnabled(), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(journal->destroyed, 1, 10000);
        QCOMPARE(sheetNames(dir.filePath("a.xlsx")), QStringList{"Two"});
        QCOMPARE(corvane::jobs::jobOptions().appointedSheetName, QStringLiteral("Two"));
    }
};

QTEST_MAIN(RemoveSheetLaunchTest)
#include "tst_removesheetlaunch.moc"
