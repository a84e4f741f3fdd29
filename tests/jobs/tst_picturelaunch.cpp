// The window's picture launch offscreen: the refusals in their order and what each leaves
// behind, the settings it stores, the transparent copy made before the worker starts and
// deleted by it at the end, and the run over the test server. The sweep question is answered
// No, so a test that needs the job skips when a spreadsheet server runs here.
#include "app/asker.h"
#include "app/startup.h"
#include "app/widget.h"
#include "jobs/joboptions.h"
#include "jobs/serverregistry.h"
#include "tests/support/memoryserver.h"

#include <QCheckBox>
#include <QImage>
#include <QJsonArray>
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

} // namespace

class PictureLaunchTest : public QObject
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
    static bool idle(const QWidget& w) { return control<QPushButton>(w, "pBtn_PicInsert")->isEnabled(); }
    bool sweepStopped() const { return m_asker->asked.contains(kSweepMark); }

    static QString picture(const QTemporaryDir& dir)
    {
        QImage image(4, 4, QImage::Format_ARGB32);
        image.fill(Qt::white);
        image.setPixel(0, 0, qRgb(200, 0, 0));
        const QString path = dir.filePath("logo.png");
        image.save(path);
        return path;
    }

private slots:
    void init()
    {
        QFile::remove(settingsPath());
        qputenv("CORVANE_TEXT_OPENER", "/bin/true");
    }
    void cleanup() { corvane::jobs::installServerFactory({}); }

    void transparentPictureIsMadeInsertedAndRemovedWhileSettingsKeepTheChosenOne()
    {
        QTemporaryDir dir;
        QTemporaryDir pics;
        const QString logo = picture(pics);
        const QByteArray original = readAll(logo);
        auto journal = std::make_shared<ServerJournal>();
        corvane::jobs::installServerFactory([journal] { return std::make_unique<MemoryServer>(journal); });
        writeMemoryWorkbook(dir.filePath("a.xlsx"), {{"S1", {{"A1", "head"}, {"B3", "logo"}}}});
        write(settingsPath(), "sourcePath=old\r\n");
        auto window = makeWindow();
        control<QLineEdit>(*window, "lEdt_SourcePath")->setText(dir.path() + "/");
        control<QLineEdit>(*window, "lEdt_CellFindText")->setText("logo");
        control<QLineEdit>(*window, "lEdt_PicPath")->setText("  " + logo + " ");
        control<QCheckBox>(*window, "cBox_PicTransparent")->setChecked(true);
        control<QSpinBox>(*window, "sBox_PicHeight")->setValue(50);
        control<QSpinBox>(*window, "sBox_PicUp")->setValue(3);
        QSignalSpy requests(window.get(), &Widget::pBtn_PicInsert_HasClicked);

        control<QPushButton>(*window, "pBtn_PicInsert")->click();
        if (sweepStopped())
            QSKIP("a spreadsheet server runs on this machine; the launch asked to end it");
        QCOMPARE(requests.count(), 1);
        QCOMPARE(corvane::jobs::jobOptions().picPath, logo + ".png");
        QTRY_VERIFY_WITH_TIMEOUT(idle(*window), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(status(*window).startsWith(
                                     QStringLiteral("成功查找1个Excel文件,修改1个Excel文件,修改1个单元格。")),
                                 10000);
        const QJsonArray shapes = readMemorySheetObject(dir.filePath("a.xlsx"), 0).value("shapes").toArray();
        QCOMPARE(shapes.size(), 1);
        const QJsonObject shape = shapes.at(0).toObject();
        QCOMPARE(shape.value("file").toString(), logo + ".png");
        QCOMPARE(shape.value("top").toDouble(), 27.0); // row 3 at 30 points, 3 up
        QCOMPARE(shape.value("width").toDouble(), -1.0);
        QCOMPARE(shape.value("height").toDouble(), 50.0);
        QVERIFY(!QFile::exists(logo + ".png"));
        QCOMPARE(readAll(logo), original);
        const QByteArray settings = readAll(settingsPath());
        QVERIFY2(settings.contains("picPath=" + QFile::encodeName(logo) + "\r\n"), settings.constData());
        QVERIFY(settings.contains("sourcePath=" + QFile::encodeName(dir.path() + "/") + "\r\n"));
    }

    void missingPictureIsRefusedAfterTheFolderTestAndBeforeTheEmptySearch()
    {
        QTemporaryDir dir;
        auto window = makeWindow();
        control<QLineEdit>(*window, "lEdt_SourcePath")->setText(dir.path() + "/");
        control<QLineEdit>(*window, "lEdt_PicPath")->setText(dir.filePath("nothing.png"));
        QSignalSpy requests(window.get(), &Widget::pBtn_PicInsert_HasClicked);
        // The empty search would be refused too, but the picture comes first.
        control<QPushButton>(*window, "pBtn_PicInsert")->click();
        if (sweepStopped())
            QSKIP("a spreadsheet server runs on this machine; the launch asked to end it");
        QCOMPARE(status(*window), QStringLiteral("图片路径不正确,请选择正确路径!"));
        QVERIFY(m_asker->asked.isEmpty());
        QCOMPARE(requests.count(), 0);
        QVERIFY(idle(*window));
        QVERIFY(!QFile::exists(settingsPath()));

        // A missing folder is reported before the picture.
        control<QLineEdit>(*window, "lEdt_SourcePath")->setText(dir.filePath("no-folder") + "/");
        control<QPushButton>(*window, "pBtn_PicInsert")->click();
        QCOMPARE(status(*window), QStringLiteral("文件夹不存在,请选择正确路径!"));
    }

    void emptyAppointedListAndEmptySearchAreAskedAbout()
    {
        QTemporaryDir dir;
        auto window = makeWindow();
        control<QLineEdit>(*window, "lEdt_SourcePath")->setText(dir.path() + "/");
        control<QCheckBox>(*window, "cBox_AppointCell")->setChecked(true);
        control<QLineEdit>(*window, "lEdt_AppointCell")->setText("  ");
        QSignalSpy requests(window.get(), &Widget::pBtn_PicInsert_HasClicked);
        control<QPushButton>(*window, "pBtn_PicInsert")->click();
        if (sweepStopped())
            QSKIP("a spreadsheet server runs on this machine; the launch asked to end it");
        QCOMPARE(m_asker->asked, QStringList{QStringLiteral("注意|指定单元格时需填写单元格名称,如：B3")});

        m_asker->asked.clear();
        control<QCheckBox>(*window, "cBox_AppointCell")->setChecked(false);
        control<QPushButton>(*window, "pBtn_PicInsert")->click();
        QCOMPARE(m_asker->asked, QStringList{QStringLiteral("注意|查找内容不能为空!")});
        QCOMPARE(requests.count(), 0);
        QVERIFY(idle(*window));
    }

    void emptyPictureWithTransparencyConvertsNothingAndStillCounts()
    {
        QTemporaryDir dir;
        auto journal = std::make_shared<ServerJournal>();
        corvane::jobs::installServerFactory([journal] { return std::make_unique<MemoryServer>(journal); });
        writeMemoryWorkbook(dir.filePath("a.xlsx"), {{"S1", {{"A1", "x"}}}});
        auto window = makeWindow();
        control<QLineEdit>(*window, "lEdt_SourcePath")->setText(dir.path() + "/");
        control<QCheckBox>(*window, "cBox_AppointCell")->setChecked(true);
        control<QLineEdit>(*window, "lEdt_AppointCell")->setText("B3");
        control<QCheckBox>(*window, "cBox_PicTransparent")->setChecked(true);
        control<QPushButton>(*window, "pBtn_PicInsert")->click();
        if (sweepStopped())
            QSKIP("a spreadsheet server runs on this machine; the launch asked to end it");
        QCOMPARE(corvane::jobs::jobOptions().picPath, QString());
        QTRY_VERIFY_WITH_TIMEOUT(idle(*window), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(status(*window).startsWith(
                                     QStringLiteral("成功查找1个Excel文件,修改1个Excel文件,修改1个单元格。")),
                                 10000);
        QCOMPARE(journal->saved.size(), 1);
    }
};

QTEST_MAIN(PictureLaunchTest)
#include "tst_picturelaunch.moc"
