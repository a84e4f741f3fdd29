// The results window after runs from the window, offscreen: a preview fills it without touching
// the workbooks, it filters and sorts, opens a workbook's folder, saves the report as CSV, and
// its "run for real" goes through the start button's own launch, question included.
#include "app/asker.h"
#include "app/resultswindow.h"
#include "app/startup.h"
#include "app/widget.h"
#include "jobs/resultlists.h"
#include "jobs/serverregistry.h"
#include "tests/support/memoryserver.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using corvane::app::ResultsWindow;
using corvane::app::Widget;
using namespace corvane::testsupport;

namespace {

class CountingAsker : public corvane::app::Asker
{
public:
    void inform(const QString& title, const QString& text) override { asked << title + "|" + text; }
    bool confirm(const QString& title, const QString& text) override
    {
        asked << title + "|" + text;
        return true;
    }
    QStringList asked;
};

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<absent>");
}

QStringList column(const QAbstractItemModel& model, int index)
{
    QStringList texts;
    for (int row = 0; row < model.rowCount(); ++row)
        texts << model.index(row, index).data().toString();
    return texts;
}

} // namespace

class ResultsWindowTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_home;

private slots:
    void cleanup() { corvane::jobs::installServerFactory({}); }

    void previewFillsTheWindowAndRunForRealIsTheNormalLaunch()
    {
        QTemporaryDir dir;
        const QString opened = dir.filePath("opened.txt");
        const QString opener = dir.filePath("opener.sh");
        QFile script(opener);
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" + opened.toUtf8() + "'\n");
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("CORVANE_TEXT_OPENER", opener.toUtf8());

        auto journal = std::make_shared<ServerJournal>();
        corvane::jobs::installServerFactory([journal] { return std::make_unique<MemoryServer>(journal); });
        const QString books = dir.filePath("books");
        QDir().mkpath(books);
        writeMemoryWorkbook(books + "/a.xlsx", {{"Sheet1", {{"A1", "old text"}, {"C3", "=\"old\""}}}});
        writeMemoryWorkbook(books + "/b.xlsx",
                            {{"Sheet1", {{"A1", "nothing"}}}, {"Second", {{"A1", "kept"}}}});
        QFile broken(books + "/c.xlsx");
        QVERIFY(broken.open(QIODevice::WriteOnly));
        broken.write("not a workbook");
        broken.close();
        const QByteArray original = readAll(books + "/a.xlsx");

        corvane::app::startupPaths().startArgument = "-autorun";
        corvane::app::startupPaths().settingsFilePath = m_home.filePath("Corvane.qrt");
        Widget window;
        auto asker = std::make_unique<CountingAsker>();
        CountingAsker* questions = asker.get();
        window.setAsker(std::move(asker));
        window.findChild<QLineEdit*>("lEdt_SourcePath")->setText(books + "/");
        window.findChild<QLineEdit*>("lEdt_FindText")->setText("OLD");
        window.findChild<QLineEdit*>("lEdt_ReplaceExcelText")->setText("new");
        auto* preview = window.findChild<QCheckBox*>("cBox_Preview");
        QVERIFY(preview);
        preview->setChecked(true);
        QSignalSpy requests(&window, &Widget::pBtn_ReplaceExcelText_HasClicked);
        window.findChild<QPushButton*>("pBtn_ReplaceExcelText")->click();

        QTRY_VERIFY_WITH_TIMEOUT(window.resultsWindow() && window.resultsWindow()->isVisible(), 10000);
        ResultsWindow* results = window.resultsWindow();
        QCOMPARE(readAll(books + "/a.xlsx"), original);
        QVERIFY(!QFile::exists(books + "/" + corvane::jobs::matchedListName()));
        QVERIFY(!QFile::exists(books + "/" + corvane::jobs::openFailedListName()));
        // The window stays usable beside it.
        QVERIFY(!results->isModal());

        auto* table = results->findChild<QTableView*>("tableView_Workbooks");
        QAbstractItemModel& shown = *table->model();
        QCOMPARE(shown.rowCount(), 3);
        table->sortByColumn(0, Qt::AscendingOrder);
        QCOMPARE(column(shown, 1), (QStringList{"已修改", "无修改", "失败"}));
        QCOMPARE(column(shown, 2), (QStringList{"2", "0", "0"}));
        QVERIFY(!shown.index(2, 3).data().toString().isEmpty()); // why c.xlsx failed

        auto* filter = results->findChild<QComboBox*>("comboBox_Outcome");
        filter->setCurrentIndex(int(ResultsWindow::filterNames().indexOf("失败")));
        QCOMPARE(column(shown, 0), QStringList{QDir::toNativeSeparators(books + "/c.xlsx")});
        filter->setCurrentIndex(0);
        table->sortByColumn(2, Qt::AscendingOrder);
        QCOMPARE(column(shown, 2), (QStringList{"0", "0", "2"}));
        table->sortByColumn(2, Qt::DescendingOrder);

        table->selectRow(0);
        auto* changes = results->findChild<QTableWidget*>("tableWidget_Changes");
        QCOMPARE(changes->rowCount(), 2);
        QCOMPARE(changes->item(0, 1)->text(), QStringLiteral("A1"));
        QCOMPARE(changes->item(0, 3)->text(), QStringLiteral("old text"));
        QCOMPARE(changes->item(0, 4)->text(), QStringLiteral("new text"));
        QCOMPARE(changes->item(1, 4)->text(), QStringLiteral("=\"new\""));

        emit table->doubleClicked(shown.index(0, 0));
        QTRY_COMPARE(readAll(opened), QDir::toNativeSeparators(books).toUtf8() + "\n");

        const QString csv = dir.filePath("saved.csv");
        QString error;
        QVERIFY2(results->saveCsv(csv, &error), qPrintable(error));
        const QByteArray saved = readAll(csv);
        QVERIFY(saved.startsWith("\xEF\xBB\xBFrecord,workbook,"));
        QCOMPARE(saved.count("\r\n"), 1 + 2 + 3);

        // Run for real: the same button's launch, the box left as the user set it.
        auto* runForReal = results->findChild<QPushButton*>("pBtn_RunForReal");
        QVERIFY(runForReal->isVisible());
        runForReal->click();
        QCOMPARE(requests.count(), 2);
        QVERIFY(preview->isChecked());
        QTRY_VERIFY_WITH_TIMEOUT(!window.isRunning() && !runForReal->isVisible(), 10000);
        QCOMPARE(readMemorySheet(books + "/a.xlsx", 0).value("A1").toString(), QStringLiteral("new text"));
        QVERIFY(QFile::exists(books + "/" + corvane::jobs::matchedListName()));

        // The sheet removal asks its question again when run for real after a preview.
        questions->asked.clear();
        window.findChild<QPushButton*>("pBtn_RemoveSheet")->click();
        QCOMPARE(questions->asked.size(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(!window.isRunning() && runForReal->isVisible(), 10000);
        QCOMPARE(readMemorySheetObject(books + "/b.xlsx", 0).value("name").toString(),
                 QStringLiteral("Sheet1"));
        runForReal->click();
        QCOMPARE(questions->asked.size(), 2);
        QTRY_VERIFY_WITH_TIMEOUT(!window.isRunning() && !runForReal->isVisible(), 10000);
        QCOMPARE(readMemorySheetObject(books + "/b.xlsx", 0).value("name").toString(),
                 QStringLiteral("Second"));
    }
};

QTEST_MAIN(ResultsWindowTest)
#include "tst_resultswindow.moc"
