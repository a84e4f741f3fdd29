// The window's cell launch offscreen: the mode flags, the change buttons' whole-cell switch,
// the two refusals and what they leave alone, the settings file's save mode, the job run to its
// end with its flags cleared, and the row and column buttons (the hidden add ones by their
// handlers). No test opens a dialog or ends a process: the sweep question is answered No, and a
// test that needs the job skips when a server runs here.
#include "app/asker.h"
#include "app/startup.h"
#include "app/widget.h"
#include "jobs/joboptions.h"
#include "jobs/resultlists.h"
#include "jobs/serverregistry.h"
#include "tests/support/memoryserver.h"

#include <QCheckBox>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using corvane::app::Widget;
using namespace corvane::testsupport;

namespace {

const QString kSweepMark = QStringLiteral("sweep");

class ScriptedAsker : public corvane::app::Asker
{
public:
    void inform(const QString& title, const QString& text) override { asked << title + "|" + text; }
    bool confirm(const QString&, const QString&) override
    {
        asked << kSweepMark;
        return false;
    }
    QStringList asked;
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

bool anyCellMode()
{
    const corvane::jobs::JobOptions& o = corvane::jobs::jobOptions();
    return o.fillTextMode || o.changeTextMode || o.fillFormulaMode || o.changeFormulaMode ||
           o.deleteRowMode || o.deleteColumnMode || o.addRowMode || o.addColumnMode;
}

} // namespace

class CellLaunchTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_home;
    ScriptedAsker* m_asker = nullptr;
    QString settingsPath() const { return m_home.filePath("Corvane.qrt"); }

    std::unique_ptr<Widget> makeWindow()
    {
        corvane::app::startupPaths().startArgument = "-autorun";
        corvane::app::startupPaths().settingsFilePath = settingsPath();
        auto window = std::make_unique<Widget>();
        auto asker = std::make_unique<ScriptedAsker>();
        m_asker = asker.get();
        window->setAsker(std::move(asker));
        return window;
    }
    template <typename T> static T* control(const QWidget& w, const char* name)
    {
        return w.findChild<T*>(QString::fromLatin1(name));
    }
    static QString status(const QWidget& w) { return control<QLabel>(w, "lb_ShowDisposingFile")->text(); }
    static bool idle(const QWidget& w) { return control<QPushButton>(w, "pBtn_CellFillText")->isEnabled(); }
    // A launch that met a running spreadsheet server was asked to end it and stopped.
    bool sweepStopped() const { return m_asker->asked.contains(kSweepMark); }

private slots:
    void init()
    {
        QFile::remove(settingsPath());
        qputenv("CORVANE_TEXT_OPENER", "/bin/true");
    }
    void cleanup() { corvane::jobs::installServerFactory({}); }

    void changeTextUnchecksWholeCellRunsAndClearsItsFlag()
    {
        QTemporaryDir dir;
        auto journal = std::make_shared<ServerJournal>();
        corvane::jobs::installServerFactory([journal] { return std::make_unique<MemoryServer>(journal); });
        writeMemoryWorkbook(dir.filePath("a.xlsx"), {{"S1", {{"A1", "head"}, {"B2", "xaby"}}}});
        auto window = makeWindow();
        control<QLineEdit>(*window, "lEdt_SourcePath")->setText(dir.path() + "/");
        control<QLineEdit>(*window, "lEdt_CellFindText")->setText("ab");
        control<QLineEdit>(*window, "lEdt_CellFillText")->setText("Z");
        control<QCheckBox>(*window, "cBox_TextFullMatch")->setChecked(true);
        control<QSpinBox>(*window, "sBox_CellRight")->setValue(3);
        control<QSpinBox>(*window, "sBox_CellLeft")->setValue(2);
        control<QCheckBox>(*window, "cBox_DownOrRightInsert")->setChecked(true);
        QSignalSpy requests(window.get(), &Widget::pBtn_CellFillText_HasClicked);

        control<QPushButton>(*window, "pBtn_CellChangeText")->click();
        if (sweepStopped())
            QSKIP("a spreadsheet server runs on this machine; the launch asked to end it");
        QVERIFY(!control<QCheckBox>(*window, "cBox_TextFullMatch")->isChecked());
        QCOMPARE(requests.count(), 1);
        const corvane::jobs::JobOptions& o = corvane::jobs::jobOptions();
        QVERIFY(!o.textFullMatch);
        QCOMPARE(o.cellRight - o.cellLeft, 1);
        QVERIFY(o.insertDownOrRight);

        QTRY_VERIFY_WITH_TIMEOUT(idle(*window), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(status(*window).startsWith(
                                     QStringLiteral("成功查找1个Excel文件,修改1个Excel文件,修改1个单元格。")),
                                 10000);
        // The match keeps its text; the cell right of it takes the replaced text.
        QCOMPARE(readMemorySheet(dir.filePath("a.xlsx"), 0).value("B2").toString(), QStringLiteral("xaby"));
        QCOMPARE(readMemorySheet(dir.filePath("a.xlsx"), 0).value("C2").toString(), QStringLiteral("xZy"));
        QVERIFY(!anyCellMode());
        // The settings file did not exist: it is not created by a cell launch.
        QVERIFY(!QFile::exists(settingsPath()));
    }

    void emptySearchIsRefusedAfterTheListsAreGoneAndLeavesNoFlagForTheNextButton()
    {
        QTemporaryDir dir;
        auto journal = std::make_shared<ServerJournal>();
        corvane::jobs::installServerFactory([journal] { return std::make_unique<MemoryServer>(journal); });
        writeMemoryWorkbook(dir.filePath("a.xlsx"), {{"S1", {{"A1", "head"}, {"B2", "=SUM(x)"}}}});
        const QString folder = dir.path() + "/";
        const QString staleList = folder + corvane::jobs::matchedListName();
        write(staleList, "old run\r\n");
        const QByteArray settings = "sourcePath=/elsewhere/\r\n";
        write(settingsPath(), settings);
        auto window = makeWindow();
        control<QLineEdit>(*window, "lEdt_SourcePath")->setText(folder);
        QSignalSpy requests(window.get(), &Widget::pBtn_CellFillText_HasClicked);

        control<QPushButton>(*window, "pBtn_CellFillText")->click();
        if (sweepStopped())
            QSKIP("a spreadsheet server runs on this machine; the launch asked to end it");
        QCOMPARE(m_asker->asked, QStringList{QStringLiteral("注意|查找内容不能为空!")});
        QVERIFY(!QFile::exists(staleList));
        QCOMPARE(readAll(settingsPath()), settings);
        QCOMPARE(requests.count(), 0);
        QVERIFY(idle(*window));
        QVERIFY(corvane::jobs::jobOptions().fillTextMode);

        // The next button clears the refused one's flag: only the formula is rewritten.
        control<QLineEdit>(*window, "lEdt_CellFindText")->setText("SUM");
        control<QLineEdit>(*window, "lEdt_CellFillText")->setText("MAX");
        control<QPushButton>(*window, "pBtn_CellChangeFormula")->click();
        QCOMPARE(requests.count(), 1);
        QVERIFY(!corvane::jobs::jobOptions().fillTextMode);
        QVERIFY(corvane::jobs::jobOptions().changeFormulaMode);
        QTRY_VERIFY_WITH_TIMEOUT(idle(*window), 10000);
        QTRY_VERIFY(!anyCellMode());
        QCOMPARE(readMemorySheet(dir.filePath("a.xlsx"), 0).value("B2").toString(),
                 QStringLiteral("=MAX(x)"));
        QCOMPARE(readMemorySheet(dir.filePath("a.xlsx"), 0).value("A1").toString(), QStringLiteral("head"));
        QCOMPARE(readAll(settingsPath()), "sourcePath=" + QFile::encodeName(folder) + "\r\n");
    }

    void emptyAppointedListIsRefusedBeforeTheListsAreTouched()
    {
        QTemporaryDir dir;
        const QString folder = dir.path() + "/";
        const QString staleList = folder + corvane::jobs::matchedListName();
        write(staleList, "old run\r\n");
        auto window = makeWindow();
        control<QLineEdit>(*window, "lEdt_SourcePath")->setText(folder);
        control<QLineEdit>(*window, "lEdt_CellFindText")->setText("x");
        control<QCheckBox>(*window, "cBox_AppointCell")->setChecked(true);
        control<QLineEdit>(*window, "lEdt_AppointCell")->setText("   ");
        control<QPushButton>(*window, "pBtn_CellFillFormula")->click();
        if (sweepStopped())
            QSKIP("a spreadsheet server runs on this machine; the launch asked to end it");
        QCOMPARE(m_asker->asked, QStringList{QStringLiteral("注意|指定单元格时需填写单元格名称,如：B3")});
        QCOMPARE(readAll(staleList), QByteArray("old run\r\n"));
        QVERIFY(!QFile::exists(settingsPath()));
        QVERIFY(idle(*window));
    }

    void invalidFindRangeEndsTheRunWithItsMessageAndClearsTheFlags()
    {
        QTemporaryDir dir;
        auto journal = std::make_shared<ServerJournal>();
        corvane::jobs::installServerFactory([journal] { return std::make_unique<MemoryServer>(journal); });
        writeMemoryWorkbook(dir.filePath("a.xlsx"), {{"S1", {{"A1", "x"}}}});
        auto window = makeWindow();
        control<QLineEdit>(*window, "lEdt_SourcePath")->setText(dir.path() + "/");
        control<QLineEdit>(*window, "lEdt_CellFindText")->setText("x");
        control<QCheckBox>(*window, "cBox_FindRange")->setChecked(true);
        control<QLineEdit>(*window, "lEdt_FindRange")->setText("A1:B");
        control<QPushButton>(*window, "pBtn_CellFillText")->click();
        if (sweepStopped())
            QSKIP("a spreadsheet server runs on this machine; the launch asked to end it");
        QTRY_VERIFY_WITH_TIMEOUT(idle(*window), 10000);
        QTRY_COMPARE(journal->destroyed, 1);
        QCOMPARE(status(*window), QStringLiteral("此文件指定区域无效,请重新设置!") +
                                      QDir::toNativeSeparators(dir.filePath("a.xlsx")));
        QVERIFY(!anyCellMode());
        QVERIFY(journal->saved.isEmpty());
    }

    void rowAndColumnButtonsRunTheirWalksAndTheHiddenAddHandlersWork()
    {
        QTemporaryDir dir;
        auto journal = std::make_shared<ServerJournal>();
        corvane::jobs::installServerFactory([journal] { return std::make_unique<MemoryServer>(journal); });
        const QString book = dir.filePath("a.xlsx");
        writeMemoryWorkbook(book, {{"S1", {{"A1", "head"}, {"A2", "x"}, {"B3", "y"}, {"C4", "x"}}}});
        auto window = makeWindow();
        control<QLineEdit>(*window, "lEdt_SourcePath")->setText(dir.path() + "/");
        control<QLineEdit>(*window, "lEdt_CellFindText")->setText("x");
        // Offsets do not apply to rows and columns.
        control<QSpinBox>(*window, "sBox_CellDown")->setValue(5);

        control<QPushButton>(*window, "pBtn_DeleteRow")->click();
        if (sweepStopped())
            QSKIP("a spreadsheet server runs on this machine; the launch asked to end it");
        QTRY_VERIFY_WITH_TIMEOUT(idle(*window), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(status(*window).startsWith(
                                     QStringLiteral("成功查找1个Excel文件,修改1个Excel文件,修改2个单元格。")),
                                 10000);
        QJsonObject cells = readMemorySheet(book, 0);
        QCOMPARE(cells.keys(), (QStringList{"A1", "B2"}));
        QVERIFY(!anyCellMode());

        // The add buttons and their check box stay hidden; their handlers still run the walk.
        for (const char* name : {"pBtn_AddRow", "pBtn_AddColumn"})
            QVERIFY(control<QPushButton>(*window, name)->isHidden());
        QVERIFY(control<QCheckBox>(*window, "cBox_DownOrRightInsert")->isHidden());
        control<QLineEdit>(*window, "lEdt_CellFindText")->setText("y");
        QVERIFY(QMetaObject::invokeMethod(window.get(), "on_pBtn_AddColumn_clicked"));
        QTRY_VERIFY_WITH_TIMEOUT(idle(*window), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(status(*window).contains(QStringLiteral("修改1个Excel文件,修改1个单元格。")),
                                 10000);
        cells = readMemorySheet(book, 0);
        QCOMPARE(cells.value("C2").toString(), QStringLiteral("y"));
        QVERIFY(!anyCellMode());
    }
};

QTEST_MAIN(CellLaunchTest)
#include "tst_celllaunch.moc"
