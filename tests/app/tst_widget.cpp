// The main window offscreen: the control tree the launches read, the rules that enable fields,
// the tray's way back to a hidden window, and the settings shown at start. No test here opens
// a dialog.
#include "app/qttranslation.h"
#include "app/settingsstore.h"
#include "app/startup.h"
#include "app/systemtray.h"
#include "app/widget.h"
#include "automation/automationserver.h"
#include "automation/workbook.h"
#include "jobs/joboptions.h"
#include "jobs/serverregistry.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMetaMethod>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStyleOptionGroupBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <memory>

using corvane::app::SystemTray;
using corvane::app::Widget;

namespace {

// Opens the protected receiver count, to prove a signal reaches its slot exactly once.
class ConnectionCounter : public QObject
{
public:
    static int receiversOf(const QObject* sender, const char* signal)
    {
        return static_cast<const ConnectionCounter*>(sender)->receivers(signal);
    }
};

const QStringList kStartButtons = {
    QStringLiteral("pBtn_ReplaceExcelText"), QStringLiteral("pBtn_CellFillText"),
    QStringLiteral("pBtn_PicInsert"),        QStringLiteral("pBtn_CellChangeText"),
    QStringLiteral("pBtn_CellFillFormula"),  QStringLiteral("pBtn_CellChangeFormula"),
    QStringLiteral("pBtn_DeleteRow"),        QStringLiteral("pBtn_DeleteColumn"),
    QStringLiteral("pBtn_AddRow"),           QStringLiteral("pBtn_AddColumn"),
    QStringLiteral("pBtn_RemoveSheet")};

// Whether the primary screen's free area holds the whole 980 x 600 window with a frame. The
// tests run once on the offscreen platform's 800 x 600 screen (too small) and once scaled to a
// larger one.
bool screenHoldsTheWindow()
{
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    return available.width() >= 980 + 40 && available.height() >= 720 + 40;
}

// Lets the layouts finish: a changed minimum travels up the nested boxes one posted event at a
// time.
void settle()
{
    for (int i = 0; i < 10; ++i)
        QCoreApplication::processEvents();
}

// The framed window lies inside the screen's free area.
bool onScreen(const QWidget& window)
{
    return QGuiApplication::primaryScreen()->availableGeometry().contains(window.frameGeometry());
}

// Says Yes to the sheet removal's question and No to ending running spreadsheet servers, which
// may belong to someone else on this machine.
class RemovalOnlyAsker : public corvane::app::Asker
{
public:
    void inform(const QString&, const QString&) override {}
    bool confirm(const QString&, const QString&) override { return false; }
    bool ask(QWidget*, const QString&, const QString&) override { return true; }
};

// A server that never starts: the launch goes through and the run ends at once.
class AbsentServer : public corvane::automation::AutomationServer
{
public:
    bool isAvailable() override { return false; }
    std::unique_ptr<corvane::automation::Workbook> open(const QString&) override { return nullptr; }
    void quit() override {}
    QString lastError() const override { return QStringLiteral("absent"); }
};

} // namespace

class WidgetTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<Widget> makeWindow(const QByteArray& startArgument = QByteArray())
    {
        corvane::app::startupPaths().startArgument = startArgument;
        corvane::app::startupPaths().settingsFilePath = m_dir.filePath(QStringLiteral("Corvane.qrt"));
        return std::make_unique<Widget>();
    }

    template <typename T> static T* control(const QWidget& window, const char* name)
    {
        T* found = window.findChild<T*>(QString::fromLatin1(name));
        if (!found)
            qWarning("control %s missing", name);
        return found;
    }

    void writeSettings(const QByteArray& bytes)
    {
        QFile file(m_dir.filePath(QStringLiteral("Corvane.qrt")));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
    }

    QTemporaryDir m_dir;

private slots:
    // The offscreen platform's own font is larger than a desktop's; the form is laid out for
    // the usual 9 points.
    void initTestCase() { QApplication::setFont(QFont(QStringLiteral("Sans Serif"), 9)); }

    void init() { QFile::remove(m_dir.filePath(QStringLiteral("Corvane.qrt"))); }

    void windowTitleSizeAndPlace()
    {
        auto window = makeWindow();
        settle();
        QCOMPARE(window->windowTitle(), QStringLiteral("Corvane7.2"));
        QVERIFY(!window->windowIcon().isNull());
        QVERIFY(window->isVisible());
        QVERIFY2(onScreen(*window), qPrintable(QStringLiteral("%1,%2 %3x%4")
                                                   .arg(window->x())
                                                   .arg(window->y())
                                                   .arg(window->width())
                                                   .arg(window->height())));
        // Every control lies whole inside its parent: none is squeezed out of a row that is too
        // narrow. Where the form is larger than the window, the scroll area shows all of it.
        auto* scroll = control<QScrollArea>(*window, "scrollArea");
        QVERIFY(scroll);
        QCOMPARE(scroll->widget()->objectName(), QStringLiteral("centralWidget"));
        for (QWidget* child : scroll->widget()->findChildren<QWidget*>()) {
            if (child->isVisible() && !child->isWindow() && child->parentWidget()->isVisible())
                QVERIFY2(child->parentWidget()->rect().contains(child->geometry()),
                         qPrintable(QStringLiteral("%1 %2,%3 %4x%5 in %6x%7")
                                        .arg(child->objectName())
                                        .arg(child->x())
                                        .arg(child->y())
                                        .arg(child->width())
                                        .arg(child->height())
                                        .arg(child->parentWidget()->width())
                                        .arg(child->parentWidget()->height())));
        }
        QCOMPARE(scroll->horizontalScrollBar()->maximum(),
                 qMax(0, scroll->widget()->width() - scroll->viewport()->width()));
        if (!screenHoldsTheWindow())
            return;
        QCOMPARE(window->size(), QSize(980, 600));
        // Centred for the form's 980 x 720 before the height became 600.
        const QSize screen = QGuiApplication::primaryScreen()->size();
        QCOMPARE(window->pos(), QPoint((screen.width() - 980) / 2, (screen.height() - 720) / 2));
    }

    void longStatusTextIsShortenedNotWidened()
    {
        auto window = makeWindow();
        auto* status = control<QLabel>(*window, "lb_ShowDisposingFile");
        auto* form = control<QWidget>(*window, "centralWidget");
        settle();
        const QSize windowSize = window->size();
        const int formWidth = form->width();

        QString text = QStringLiteral("/home/用户/");
        while (text.size() < 490)
            text += QStringLiteral("很长的文件夹名称/sub-folder/");
        text = text.left(490) + QStringLiteral("/last.xlsx");
        QCOMPARE(text.size(), 500);
        QMetaObject::invokeMethod(window.get(), "on_ShowDisposingFile", Q_ARG(QString, text));
        settle();

        QCOMPARE(window->size(), windowSize);
        QCOMPARE(form->width(), formWidth);
        QCOMPARE(status->toolTip(), text);
        const QString shown = status->text();
        QVERIFY(shown.contains(QChar(0x2026)));
        QVERIFY(shown.startsWith(QStringLiteral("/home/用户/")));
        QVERIFY(shown.endsWith(QStringLiteral("/last.xlsx")));
        QVERIFY(status->fontMetrics().horizontalAdvance(shown) <= status->contentsRect().width());

        // A wider window shows more of it.
        window->resize(window->width() + 200, window->height());
        settle();
        QVERIFY(status->text().size() > shown.size());
        QVERIFY(status->fontMetrics().horizontalAdvance(status->text()) <= status->contentsRect().width());
        QCOMPARE(status->toolTip(), text);
    }

    void texts_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text");
        const QList<QPair<const char*, const char*>> texts = {
            {"pBtn_SourcePath", "选择文件夹："},
            {"cBox_OnlyFirstSheet", "只修改第一个Sheet"},
            {"cBox_AppointedSheet", "只修改指定名称Sheet:"},
            {"pBtn_MustRead", "使用必读"},
            {"pBtn_RemoveSheet", "删除指定Sheet"},
            {"lb_FindTextExplain", "查找内容："},
            {"lb_ReplaceExcelTextExplain", "替换为："},
            {"cBox_JustShow", "只列出包含查找内容目录,不替换"},
            {"pBtn_ReplaceExcelText", "全部替换"},
            {"cBox_TextFullMatch", "查找内容与整个单元格内容一致"},
            {"cBox_FindFomula", "查找公式"},
            {"cBox_WbFillOnce", "每个文件只改1处"},
            {"cBox_ShtFillOnce", "每个Sheet表只修改1处"},
            {"cBox_FindRange", "指定查找范围："},
            {"lEdt_FindRange", "A1:C7"},
            {"label_2", "查找内容："},
            {"label_3", "右移"},
            {"label_4", "左移"},
            {"label_9", "下移"},
            {"label_10", "上移"},
            {"cBox_AppointCell", "不查找,直接指定单元格(多个单元格用英文逗号分隔),如:B3"},
            {"label_11", "替换为："},
            {"pBtn_CellFillText", "替换整个单元格内容"},
            {"pBtn_CellChangeText", "修改内容"},
            {"pBtn_CellFillFormula", "替换整个单元格公式"},
            {"pBtn_CellChangeFormula", "修改公式"},
            {"label_7", "删除行列："},
            {"pBtn_DeleteRow", "删除行"},
            {"pBtn_DeleteColumn", "删除列"},
            {"pBtn_AddRow", "插入行"},
            {"pBtn_AddColumn", "插入列"},
            {"cBox_DownOrRightInsert", "下或右插入(默认是上或左插入)"},
            {"cBox_PicTransparent", "图片底色透明"},
            {"cBox_PicDelOld", "插入图片前删除原有图片"},
            {"pBtn_PicSelect", "选择图片(留空表示不插入图片)："},
            {"label_13", "图片位置调整(磅)："},
            {"label_6", "右移"},
            {"label_5", "左移"},
            {"label_15", "下移"},
            {"label_14", "上移"},
            {"label_16", "图片宽高(0表示原图大小)："},
            {"label_17", "X"},
            {"pBtn_PicInsert", "执行插入图片"},
        };
        for (const auto& entry : texts)
            QTest::newRow(entry.first) << QString::fromLatin1(entry.first) << QString::fromUtf8(entry.second);
    }

    void texts()
    {
        QFETCH(QString, name);
        QFETCH(QString, text);
        auto window = makeWindow();
        QObject* object = window->findChild<QObject*>(name);
        QVERIFY2(object, qPrintable(name));
        QCOMPARE(object->property("text").toString(), text);
    }

    void groupsInOrderWithTheirTitles()
    {
        auto window = makeWindow();
        auto* tabs = control<QTabWidget>(*window, "tabWidget");
        QVERIFY(tabs);
        QCOMPARE(tabs->count(), 1);
        QCOMPARE(tabs->currentIndex(), 0);
        QCOMPARE(tabs->widget(0)->objectName(), QStringLiteral("wgt_AddToTab1"));
        QCOMPARE(tabs->tabText(0), QStringLiteral("软件设置"));
        QCOMPARE(tabs->parentWidget()->objectName(), QStringLiteral("centralWidget"));

        QLayout* page = tabs->widget(0)->layout();
        QStringList order;
        for (int i = 0; i < page->count(); ++i)
            order << page->itemAt(i)->widget()->objectName();
        QCOMPARE(order, (QStringList{"groupBox_6", "label_8", "groupBox", "label_12", "groupBox_2",
                                     "lb_ShowDisposingFile"}));
        auto* pageBox = qobject_cast<QBoxLayout*>(page);
        QVERIFY(pageBox);
        QCOMPARE(pageBox->stretch(page->count() - 1), 1);

        auto* group2 = control<QGroupBox>(*window, "groupBox_2");
        QStringList inner;
        for (int i = 0; i < group2->layout()->count(); ++i)
            inner << group2->layout()->itemAt(i)->widget()->objectName();
        QCOMPARE(inner, (QStringList{"groupBox_5", "label_18", "groupBox_3", "label", "groupBox_7",
                                     "label_19", "groupBox_4"}));

        const QList<QPair<const char*, const char*>> titles = {
            {"groupBox_6", "第一步：选择文件夹，操作前请先备份，先备份，先备份"},
            {"groupBox", "功能一：查找替换，操作前请先备份，先备份，先备份"},
            {"groupBox_5", "第1步：设置"},
            {"groupBox_3", "功能1：对单元格进行内容或公式修改(位移有效)，操作前请先备份，先备份，先备份"},
            {"groupBox_7",
             "功能2：对查找内容所在行或列执行删除行或列操作(位移无效)，操作前请先备份，先备份，先备份"},
            {"groupBox_4", "功能3：在单元格插入图片(图片路径留空并勾选删除原有图片,表示只删除不插入)，"
                           "操作前请先备份，先备份，先备份"},
        };
        for (const auto& title : titles)
            QCOMPARE(control<QGroupBox>(*window, title.first)->title(), QString::fromUtf8(title.second));
        QVERIFY(group2->title().startsWith(QStringLiteral("功能二：通过文本查找定位单元格")));

        // Each row keeps its controls in order.
        auto rowOrder = [&](const char* row) {
            QStringList names;
            QLayout* layout = control<QWidget>(*window, row)->layout();
            for (int i = 0; i < layout->count(); ++i) {
                if (QWidget* w = layout->itemAt(i)->widget())
                    names << w->objectName();
            }
            return names;
        };
        QCOMPARE(rowOrder("widget_6"),
                 (QStringList{"pBtn_SourcePath", "lEdt_SourcePath", "cBox_OnlyFirstSheet",
                              "cBox_AppointedSheet", "lEdt_AppointedSheetName", "pBtn_MustRead",
                              "pBtn_RemoveSheet", "lb_Server", "comboBox_Server", "cBox_Preview"}));
        QCOMPARE(rowOrder("widget_4"),
                 (QStringList{"label_2", "lEdt_CellFindText", "label_3", "sBox_CellRight", "label_4",
                              "sBox_CellLeft", "label_9", "sBox_CellDown", "label_10", "sBox_CellUp",
                              "label_20", "cBox_AppointCell", "lEdt_AppointCell"}));
        QCOMPARE(rowOrder("widget_5"),
                 (QStringList{"label_13", "label_6", "sBox_PicRight", "label_5", "sBox_PicLeft", "label_15",
                              "sBox_PicDown", "label_14", "sBox_PicUp", "label_16", "sBox_PicWidth",
                              "label_17", "sBox_PicHeight", "pBtn_PicInsert"}));
    }

    void initialStatesAndLimits()
    {
        auto window = makeWindow();
        for (QCheckBox* box : window->findChildren<QCheckBox*>())
            QVERIFY2(!box->isChecked(), qPrintable(box->objectName()));
        for (QLineEdit* edit : window->findChildren<QLineEdit*>()) {
            if (edit->objectName().startsWith(QLatin1String("lEdt_")) &&
                edit->objectName() != "lEdt_FindRange")
                QVERIFY2(edit->text().isEmpty(), qPrintable(edit->objectName()));
        }
        for (const char* name : {"lEdt_AppointedSheetName", "lEdt_FindRange", "lEdt_AppointCell"})
            QVERIFY2(!control<QLineEdit>(*window, name)->isEnabled(), name);
        for (const QString& name : kStartButtons)
            QVERIFY2(window->findChild<QPushButton*>(name)->isEnabled(), qPrintable(name));

        for (const char* name : {"pBtn_AddRow", "pBtn_AddColumn", "cBox_DownOrRightInsert"})
            QVERIFY2(window->findChild<QWidget*>(name)->isHidden(), name);
        QVERIFY(control<QPushButton>(*window, "pBtn_DeleteRow")->isVisible());

        const QList<QPair<const char*, int>> ranges = {
            {"sBox_CellRight", 99}, {"sBox_CellLeft", 99},  {"sBox_CellDown", 99}, {"sBox_CellUp", 99},
            {"sBox_PicRight", 99},  {"sBox_PicLeft", 99},   {"sBox_PicDown", 99},  {"sBox_PicUp", 99},
            {"sBox_PicWidth", 999}, {"sBox_PicHeight", 999}};
        for (const auto& range : ranges) {
            auto* box = control<QSpinBox>(*window, range.first);
            QCOMPARE(box->minimum(), 0);
            QCOMPARE(box->maximum(), range.second);
            QCOMPARE(box->value(), 0);
            QCOMPARE(box->singleStep(), 1);
        }

        QCOMPARE(control<QLineEdit>(*window, "lEdt_AppointedSheetName")->maximumWidth(), 120);
        QCOMPARE(control<QLineEdit>(*window, "lEdt_FindRange")->maximumWidth(), 100);
        QCOMPARE(control<QLineEdit>(*window, "lEdt_CellFindText")->maximumWidth(), 400);
        for (const char* name : {"pBtn_DeleteRow", "pBtn_DeleteColumn", "pBtn_AddRow", "pBtn_AddColumn"})
            QCOMPARE(control<QPushButton>(*window, name)->maximumWidth(), 60);
        QCOMPARE(control<QWidget>(*window, "widget_6")->minimumHeight(), 30);
        QCOMPARE(control<QWidget>(*window, "widget_6")->maximumHeight(), 42);
        QCOMPARE(control<QGroupBox>(*window, "groupBox_2")->maximumHeight(), 350);
        QCOMPARE(control<QGroupBox>(*window, "groupBox_5")->minimumHeight(), 80);
        QCOMPARE(control<QGroupBox>(*window, "groupBox_5")->maximumHeight(), 100);

        const QString cellTip = QStringLiteral("一个单元格：B3  多个单元格：B3,D5,F2");
        QCOMPARE(control<QCheckBox>(*window, "cBox_AppointCell")->toolTip(), cellTip);
        QCOMPARE(control<QLineEdit>(*window, "lEdt_AppointCell")->toolTip(), cellTip);
        QCOMPARE(control<QPushButton>(*window, "pBtn_CellChangeText")->toolTip(),
                 QStringLiteral("只修改查找到的部分内容(需取消内容全匹配选项)"));
        QCOMPARE(control<QPushButton>(*window, "pBtn_DeleteColumn")->toolTip(),
                 QStringLiteral("将定位单元格所在列删除"));

        QCOMPARE(control<QPushButton>(*window, "pBtn_SourcePath")->font().family(),
                 QStringLiteral("Agency FB"));
        QVERIFY(control<QPushButton>(*window, "pBtn_SourcePath")->font().bold());
        QCOMPARE(control<QPushButton>(*window, "pBtn_ReplaceExcelText")->font().pointSize(), 9);
        QCOMPARE(control<QLabel>(*window, "lb_ShowDisposingFile")->styleSheet(),
                 QStringLiteral("color: rgb(255, 0, 0);"));
        const QString notice = control<QLabel>(*window, "lb_ShowDisposingFile")->toolTip();
        QVERIFY(notice.contains(QStringLiteral("备份")));
        QVERIFY(notice.contains(QStringLiteral("LibreOffice")));
        for (const char* name : {"label_8", "label_12", "label_18", "label", "label_19"}) {
            QCOMPARE(control<QLabel>(*window, name)->maximumHeight(), 10);
            QVERIFY(
                control<QLabel>(*window, name)->styleSheet().startsWith(QStringLiteral("border-top:1px")));
        }
    }

    void cellFieldAndLongGroupTitleAreReadable()
    {
        auto window = makeWindow();
        settle();
        control<QCheckBox>(*window, "cBox_AppointCell")->click();
        auto* cells = control<QLineEdit>(*window, "lEdt_AppointCell");
        cells->setText(QStringLiteral("C1,D2"));
        // The whole text fits when going to its end does not scroll it.
        cells->home(false);
        const int start = cells->inputMethodQuery(Qt::ImCursorRectangle).toRect().center().x();
        cells->end(false);
        QCOMPARE(cells->inputMethodQuery(Qt::ImCursorRectangle).toRect().center().x() - start,
                 cells->fontMetrics().horizontalAdvance(QStringLiteral("C1,D2")));

        auto* group = control<QGroupBox>(*window, "groupBox_2");
        QStyleOptionGroupBox option;
        option.initFrom(group);
        option.text = group->title();
        option.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
        option.textAlignment = group->alignment();
        const QRect title =
            group->style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, group);
        QVERIFY2(group->rect().contains(title), qPrintable(QStringLiteral("title %1..%2 in %3")
                                                               .arg(title.left())
                                                               .arg(title.right())
                                                               .arg(group->width())));
        // At 980 pixels set smaller, but not so small as to be unreadable.
        if (screenHoldsTheWindow())
            QVERIFY2(group->font().pointSizeF() >= 0.75 * window->font().pointSizeF(),
                     qPrintable(QString::number(group->font().pointSizeF())));
        // Wide enough, the title has the window's font again.
        window->resize(window->width() + 400, window->height());
        settle();
        QCOMPARE(group->font().pointSizeF(), window->font().pointSizeF());
        // Its controls keep the window's font.
        QCOMPARE(control<QCheckBox>(*window, "cBox_TextFullMatch")->font(), window->font());
        QCOMPARE(control<QPushButton>(*window, "pBtn_PicInsert")->font(), window->font());
    }

    void signalsAndSlotsInDeclaredOrder()
    {
        const QMetaObject& meta = Widget::staticMetaObject;
        QStringList methods;
        for (int i = meta.methodOffset(); i < meta.methodCount(); ++i)
            methods << QString::fromLatin1(meta.method(i).methodSignature());
        QCOMPARE(methods, (QStringList{"pBtn_ReplaceExcelText_HasClicked()",
                                       "pBtn_CellFillText_HasClicked()",
                                       "pBtn_PicInsert_HasClicked()",
                                       "pBtn_RemoveSheet_HasClicked()",
                                       "ShowWindow()",
                                       "SystemTrayActivated(QSystemTrayIcon::ActivationReason)",
                                       "on_tabWidget_tabBarClicked(int)",
                                       "on_pBtn_SourcePath_clicked()",
                                       "on_pBtn_ReplaceExcelText_clicked()",
                                       "on_ShowDisposingFile(QString)",
                                       "on_pBtn_CellFillText_clicked()",
                                       "on_pBtn_CellChangeText_clicked()",
                                       "on_pBtn_CellFillFormula_clicked()",
                                       "on_pBtn_CellChangeFormula_clicked()",
                                       "on_pBtn_DeleteRow_clicked()",
                                       "on_pBtn_DeleteColumn_clicked()",
                                       "on_pBtn_AddColumn_clicked()",
                                       "on_pBtn_AddRow_clicked()",
                                       "on_Set_pBtn_Enable()",
                                       "on_pBtn_PicPath_clicked()",
                                       "on_pBtn_PicInsert_clicked()",
                                       "on_cBox_AppointedSheet_clicked()",
                                       "on_cBox_FindRange_clicked()",
                                       "on_cBox_AppointCell_clicked()",
                                       "on_pBtn_MustRead_clicked()",
                                       "on_pBtn_RemoveSheet_clicked()"}));
    }

    void dialogButtonsAreConnectedOnce()
    {
        auto window = makeWindow();
        auto* folder = control<QPushButton>(*window, "pBtn_SourcePath");
        auto* picture = control<QPushButton>(*window, "pBtn_PicSelect");
        auto* tabs = control<QTabWidget>(*window, "tabWidget");
        QCOMPARE(ConnectionCounter::receiversOf(folder, SIGNAL(clicked())), 1);
        QCOMPARE(ConnectionCounter::receiversOf(picture, SIGNAL(clicked())), 1);
        QCOMPARE(ConnectionCounter::receiversOf(tabs, SIGNAL(tabBarClicked(int))), 1);
        for (const QString& name : kStartButtons)
            QCOMPARE(ConnectionCounter::receiversOf(window->findChild<QPushButton*>(name), SIGNAL(clicked())),
                     1);
    }

    void appointedSheetAndRangeBoxesEnableTheirFields()
    {
        auto window = makeWindow();
        auto* sheetBox = control<QCheckBox>(*window, "cBox_AppointedSheet");
        auto* sheetName = control<QLineEdit>(*window, "lEdt_AppointedSheetName");
        sheetBox->click();
        QVERIFY(sheetName->isEnabled());
        sheetBox->click();
        QVERIFY(!sheetName->isEnabled());

        auto* rangeBox = control<QCheckBox>(*window, "cBox_FindRange");
        auto* range = control<QLineEdit>(*window, "lEdt_FindRange");
        rangeBox->click();
        QVERIFY(range->isEnabled());
        rangeBox->click();
        QVERIFY(!range->isEnabled());

        // Only clicks apply the rules: a state set by code leaves the field alone.
        sheetBox->setChecked(true);
        QVERIFY(!sheetName->isEnabled());
    }

    void appointedCellsDisableTheSearchButKeepTheRangeField()
    {
        auto window = makeWindow();
        const QStringList searchControls = {"lEdt_CellFindText", "sBox_CellRight",   "sBox_CellLeft",
                                            "sBox_CellDown",     "sBox_CellUp",      "cBox_TextFullMatch",
                                            "cBox_FindFomula",   "cBox_ShtFillOnce", "cBox_FindRange"};
        control<QCheckBox>(*window, "cBox_FindRange")->click(); // range field enabled first
        auto* appoint = control<QCheckBox>(*window, "cBox_AppointCell");

        appoint->click();
        QVERIFY(control<QLineEdit>(*window, "lEdt_AppointCell")->isEnabled());
        for (const QString& name : searchControls)
            QVERIFY2(!window->findChild<QWidget*>(name)->isEnabled(), qPrintable(name));
        QVERIFY(control<QCheckBox>(*window, "cBox_WbFillOnce")->isEnabled());
        QVERIFY(control<QLineEdit>(*window, "lEdt_FindRange")->isEnabled());

        appoint->click();
        QVERIFY(!control<QLineEdit>(*window, "lEdt_AppointCell")->isEnabled());
        for (const QString& name : searchControls)
            QVERIFY2(window->findChild<QWidget*>(name)->isEnabled(), qPrintable(name));
    }

    void rangeFieldAcceptsOnlyLettersDigitsAndColons()
    {
        auto window = makeWindow();
        auto* range = control<QLineEdit>(*window, "lEdt_FindRange");
        const QValidator* validator = range->validator();
        QVERIFY(validator);
        auto state = [&](QString text) {
            int pos = 0;
            return validator->validate(text, pos);
        };
        QCOMPARE(state(QStringLiteral("A1:C7")), QValidator::Acceptable);
        QCOMPARE(state(QStringLiteral("b2:d10")), QValidator::Acceptable);
        QCOMPARE(state(QStringLiteral("A1 C7")), QValidator::Invalid);
        QCOMPARE(state(QStringLiteral("A1,C7")), QValidator::Invalid);

        control<QCheckBox>(*window, "cBox_FindRange")->click();
        range->clear();
        QTest::keyClicks(range, QStringLiteral("B2, :D9"));
        QCOMPARE(range->text(), QStringLiteral("B2:D9"));
    }

    void folderFieldGetsAFinalNativeSeparator()
    {
        using corvane::app::folderFieldText;
        QCOMPARE(folderFieldText(QStringLiteral("/home/u/data")), QDir::toNativeSeparators("/home/u/data/"));
        QCOMPARE(folderFieldText(QStringLiteral("/home/u/数据 2024")),
                 QDir::toNativeSeparators("/home/u/数据 2024/"));
        QCOMPARE(folderFieldText(QStringLiteral("/")), QDir::toNativeSeparators("/"));
        QCOMPARE(folderFieldText(QStringLiteral("C:/Data")), QDir::toNativeSeparators("C:/Data/"));
    }

    void settingsFillThePathFields()
    {
        writeSettings("other=1\r\nsourcePath=  /home/u/数据/ \r\npicPath=/home/u/p.png\r\n");
        auto window = makeWindow();
        QCOMPARE(control<QLineEdit>(*window, "lEdt_SourcePath")->text(), QStringLiteral("/home/u/数据/"));
        QCOMPARE(control<QLineEdit>(*window, "lEdt_PicPath")->text(), QStringLiteral("/home/u/p.png"));
        QCOMPARE(corvane::app::GetSetting("other"), QByteArray("1"));
    }

    void alsoReplaceBoxesAreRememberedOnceChanged()
    {
        const char* boxes[] = {"cBox_AlsoComments", "cBox_AlsoShapes", "cBox_AlsoHeaders", "cBox_AlsoLinks",
                               "cBox_AlsoSheetNames"};
        const QStringList texts{"批注", "文本框", "页眉页脚", "超链接", "工作表名"};
        const auto ticked = [&](QWidget& window) {
            QStringList out;
            for (const char* name : boxes)
                if (control<QCheckBox>(window, name)->isChecked())
                    out << QString::fromLatin1(name);
            return out;
        };
        const auto fileText = [&]() {
            QFile settings(m_dir.filePath(QStringLiteral("Corvane.qrt")));
            return settings.open(QIODevice::ReadOnly) ? settings.readAll() : QByteArray();
        };
        corvane::jobs::installServerFactory([] { return std::make_unique<AbsentServer>(); });
        QTemporaryDir folder;

        // No line, no box ticked, and a launch does not add the line.
        writeSettings("sourcePath=/x/\r\n");
        {
            auto window = makeWindow();
            QCOMPARE(control<QLabel>(*window, "lb_AlsoReplaceExplain")->text(), QStringLiteral("同时替换："));
            for (int i = 0; i < texts.size(); ++i)
                QCOMPARE(control<QCheckBox>(*window, boxes[i])->text(), texts[i]);
            QVERIFY(ticked(*window).isEmpty());
            control<QLineEdit>(*window, "lEdt_SourcePath")->setText(folder.path() + QLatin1Char('/'));
            QVERIFY(QMetaObject::invokeMethod(window.get(), "on_pBtn_ReplaceExcelText_clicked"));
            QTRY_VERIFY_WITH_TIMEOUT(control<QPushButton>(*window, "pBtn_ReplaceExcelText")->isEnabled(),
                                     10000);
            QVERIFY2(!fileText().contains("alsoReplace"), fileText().constData());
        }

        // The remembered boxes are ticked (an unknown name passed over); a click writes the row at
        // once and the launch takes it along.
        writeSettings("sourcePath=/x/\r\nalsoReplace=links,bogus,headers\r\n");
        auto window = makeWindow();
        QCOMPARE(ticked(*window), (QStringList{"cBox_AlsoHeaders", "cBox_AlsoLinks"}));
        QTest::mouseClick(control<QCheckBox>(*window, "cBox_AlsoComments"), Qt::LeftButton);
        QVERIFY2(fileText().contains("alsoReplace=comments,headers,links\r\n"), fileText().constData());
        control<QLineEdit>(*window, "lEdt_SourcePath")->setText(folder.path() + QLatin1Char('/'));
        QVERIFY(QMetaObject::invokeMethod(window.get(), "on_pBtn_ReplaceExcelText_clicked"));
        QCOMPARE(corvane::jobs::jobOptions().alsoReplace.names(), QStringLiteral("comments,headers,links"));
        QTRY_VERIFY_WITH_TIMEOUT(control<QPushButton>(*window, "pBtn_ReplaceExcelText")->isEnabled(), 10000);
        QVERIFY2(fileText().contains("alsoReplace=comments,headers,links\r\n"), fileText().constData());
    }

    void serverChoiceIsOfferedAndRemembered()
    {
        {
            auto window = makeWindow();
            auto* box = control<QComboBox>(*window, "comboBox_Server");
            QVERIFY(box);
            QStringList items;
            QStringList values;
            for (int i = 0; i < box->count(); ++i) {
                items << box->itemText(i);
                values << box->itemData(i).toString();
            }
            QCOMPARE(items, (QStringList{"自动", "内置引擎", "LibreOffice"}));
            QCOMPARE(values, (QStringList{"auto", "native", "libreoffice"}));
            QCOMPARE(box->currentText(), QStringLiteral("自动"));
            QVERIFY(box->toolTip().contains(QStringLiteral("LibreOffice")));
            QCOMPARE(control<QLabel>(*window, "lb_Server")->text(), QStringLiteral("处理方式："));
        }
        writeSettings("sourcePath=/x/\r\nserver=libreoffice\r\n");
        QCOMPARE(control<QComboBox>(*makeWindow(), "comboBox_Server")->currentText(),
                 QStringLiteral("LibreOffice"));
        writeSettings("server=Native\r\n");
        QCOMPARE(control<QComboBox>(*makeWindow(), "comboBox_Server")->currentText(),
                 QStringLiteral("内置引擎"));
        writeSettings("server=excel\r\n");
        QCOMPARE(control<QComboBox>(*makeWindow(), "comboBox_Server")->currentText(), QStringLiteral("自动"));

        // A launch hands the choice to the run and writes it beside the folder.
        writeSettings("server=libreoffice\r\n");
        corvane::jobs::installServerFactory([] { return std::make_unique<AbsentServer>(); });
        auto window = makeWindow();
        QTemporaryDir folder;
        control<QLineEdit>(*window, "lEdt_SourcePath")->setText(folder.path() + QLatin1Char('/'));
        control<QLineEdit>(*window, "lEdt_FindText")->setText(QStringLiteral("a"));
        control<QComboBox>(*window, "comboBox_Server")->setCurrentText(QStringLiteral("内置引擎"));
        QVERIFY(QMetaObject::invokeMethod(window.get(), "on_pBtn_ReplaceExcelText_clicked"));
        QCOMPARE(corvane::jobs::jobOptions().server, corvane::automation::ServerChoice::Native);
        QTRY_VERIFY_WITH_TIMEOUT(control<QPushButton>(*window, "pBtn_ReplaceExcelText")->isEnabled(), 10000);
        QFile settings(m_dir.filePath(QStringLiteral("Corvane.qrt")));
        QVERIFY(settings.open(QIODevice::ReadOnly));
        const QByteArray text = settings.readAll();
        QVERIFY2(text.contains("server=native\r\n"), text.constData());
        QVERIFY2(!text.contains("libreoffice"), text.constData());
        settings.close();

        // Back to "auto": the line stays and says so.
        control<QComboBox>(*window, "comboBox_Server")->setCurrentText(QStringLiteral("自动"));
        QVERIFY(QMetaObject::invokeMethod(window.get(), "on_pBtn_ReplaceExcelText_clicked"));
        QTRY_VERIFY_WITH_TIMEOUT(control<QPushButton>(*window, "pBtn_ReplaceExcelText")->isEnabled(), 10000);
        QVERIFY(settings.open(QIODevice::ReadOnly));
        QVERIFY(settings.readAll().contains("server=auto\r\n"));
        settings.close();

        // A file that never had the line does not gain one for the default.
        writeSettings("extra=1\r\n");
        auto fresh = makeWindow();
        control<QLineEdit>(*fresh, "lEdt_SourcePath")->setText(folder.path() + QLatin1Char('/'));
        QVERIFY(QMetaObject::invokeMethod(fresh.get(), "on_pBtn_ReplaceExcelText_clicked"));
        QTRY_VERIFY_WITH_TIMEOUT(control<QPushButton>(*fresh, "pBtn_ReplaceExcelText")->isEnabled(), 10000);
        QVERIFY(settings.open(QIODevice::ReadOnly));
        QVERIFY(!settings.readAll().contains("server"));
        corvane::jobs::installServerFactory({});
    }

    void autorunLeavesTheWindowHiddenUntilTheTrayIsUsed()
    {
        auto window = makeWindow("-autorun");
        QVERIFY(!window->isVisible());
        auto* tray = window->findChild<SystemTray*>();
        QVERIFY(tray);

        QMetaObject::invokeMethod(window.get(), "SystemTrayActivated",
                                  Q_ARG(QSystemTrayIcon::ActivationReason, QSystemTrayIcon::MiddleClick));
        QMetaObject::invokeMethod(window.get(), "SystemTrayActivated",
                                  Q_ARG(QSystemTrayIcon::ActivationReason, QSystemTrayIcon::Context));
        QVERIFY(!window->isVisible());

        emit tray->activated(QSystemTrayIcon::Trigger);
        QVERIFY(window->isVisible());
        if (screenHoldsTheWindow())
            QCOMPARE(window->size(), QSize(980, 600));
        else
            QVERIFY(onScreen(*window));

        for (const QByteArray& argument : {QByteArray("-AUTORUN"), QByteArray("-autorun1")}) {
            auto shown = makeWindow(argument);
            QVERIFY2(shown->isVisible(), argument.constData());
        }
    }

    void trayMenuShowsTheWindowAndQuits()
    {
        auto window = makeWindow("-autorun");
        auto* tray = window->findChild<SystemTray*>();
        QVERIFY(tray);
        QCOMPARE(tray->toolTip(), QStringLiteral("Corvane"));
        QVERIFY(!tray->icon().isNull());
        QVERIFY(tray->contextMenu());
        const QList<QAction*> actions = tray->contextMenu()->actions();
        QCOMPARE(actions.size(), 2);
        QCOMPARE(actions[0]->text(), QStringLiteral("软件设置"));
        QCOMPARE(actions[1]->text(), QStringLiteral("退出程序"));

        window->showMinimized();
        actions[0]->trigger();
        QVERIFY(window->isVisible());
        QVERIFY(!window->isMinimized());

        // The quit entry ends a running event loop; a timer bounds the wait if it does not.
        QTimer::singleShot(0, actions[1], &QAction::trigger);
        QTimer::singleShot(5000, [] { QCoreApplication::exit(7); });
        QCOMPARE(QCoreApplication::exec(), 0);
    }

    void tabClickRestoresSizeAndCentres()
    {
        auto window = makeWindow();
        window->showMaximized();
        window->resize(700, 500);
        auto* tabs = control<QTabWidget>(*window, "tabWidget");
        emit tabs->tabBarClicked(-1);
        QVERIFY(!window->isMaximized());
        QVERIFY(!window->isMinimized());
        if (!screenHoldsTheWindow()) {
            QVERIFY(onScreen(*window));
            return;
        }
        QCOMPARE(window->size(), QSize(980, 600));
        const QSize screen = QGuiApplication::primaryScreen()->size();
        QCOMPARE(window->pos(), QPoint((screen.width() - 980) / 2, (screen.height() - 600) / 2));
    }

    void statusAndEndSignalsOnlyTouchWidgets()
    {
        auto window = makeWindow();
        QMetaObject::invokeMethod(window.get(), "on_ShowDisposingFile",
                                  Q_ARG(QString, QStringLiteral("进度 1/2")));
        QCOMPARE(control<QLabel>(*window, "lb_ShowDisposingFile")->text(), QStringLiteral("进度 1/2"));

        for (const QString& name : kStartButtons)
            window->findChild<QPushButton*>(name)->setEnabled(false);
        QMetaObject::invokeMethod(window.get(), "on_Set_pBtn_Enable");
        for (const QString& name : kStartButtons)
            QVERIFY2(window->findChild<QPushButton*>(name)->isEnabled(), qPrintable(name));
        QCOMPARE(control<QLabel>(*window, "lb_ShowDisposingFile")->text(), QStringLiteral("进度 1/2"));
    }

    void closingTheWindowEndsTheProgram()
    {
        auto window = makeWindow();
        QVERIFY(window->findChild<SystemTray*>()->isVisible());
        // Where the tray host embeds the icon in a window of its own, or otherwise keeps the
        // application alive, closing the last window does not end the event loop by itself. A
        // second visible window stands in for that here.
        QWidget keepsRunning;
        keepsRunning.show();
        QTimer::singleShot(0, window.get(), &QWidget::close);
        QTimer::singleShot(5000, [] { QCoreApplication::exit(7); });
        QCOMPARE(QCoreApplication::exec(), 0);
        QVERIFY(!window->isVisible());
    }

    void focusReturnsToTheButtonThatStartedTheRun()
    {
        corvane::jobs::installServerFactory([] { return std::make_unique<AbsentServer>(); });
        auto window = makeWindow();
        QApplication::setActiveWindow(window.get());
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        window->setAsker(std::make_unique<RemovalOnlyAsker>());
        QTemporaryDir folder;
        control<QLineEdit>(*window, "lEdt_SourcePath")->setText(folder.path() + QLatin1Char('/'));
        for (const char* name : {"pBtn_ReplaceExcelText", "pBtn_RemoveSheet"}) {
            auto* button = control<QPushButton>(*window, name);
            QTest::mouseClick(button, Qt::LeftButton);
            QTRY_VERIFY_WITH_TIMEOUT(button->isEnabled(), 10000);
            QCOMPARE(window->focusWidget(), button);
        }

        // Focus the user moved during the run stays where it is.
        auto* button = control<QPushButton>(*window, "pBtn_ReplaceExcelText");
        auto* field = control<QLineEdit>(*window, "lEdt_FindText");
        QTest::mouseClick(button, Qt::LeftButton);
        field->setFocus();
        QTRY_VERIFY_WITH_TIMEOUT(button->isEnabled(), 10000);
        QCOMPARE(window->focusWidget(), field);
        corvane::jobs::installServerFactory({});
    }

    void refusedLaunchResetsTheProgressBar()
    {
        auto window = makeWindow();
        auto* bar = window->findChild<QProgressBar*>(QStringLiteral("progressBar_Run"));
        QVERIFY(bar);
        // As the last run left it: every workbook done.
        bar->setMaximum(3);
        bar->setValue(3);
        bar->show();
        QVERIFY(bar->isVisible());

        QTemporaryDir folder;
        control<QLineEdit>(*window, "lEdt_SourcePath")->setText(folder.filePath(QStringLiteral("missing/")));
        control<QPushButton>(*window, "pBtn_ReplaceExcelText")->click();
        QCOMPARE(control<QLabel>(*window, "lb_ShowDisposingFile")->toolTip(),
                 QStringLiteral("文件夹不存在,请选择正确路径!"));
        QVERIFY(!bar->isVisible());
        QCOMPARE(bar->value(), bar->minimum() - 1);
    }

    void qtDialogsSpeakChinese()
    {
        QVERIFY(corvane::app::installQtChineseTranslation(*qApp));
        QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("取消"));
        QVERIFY(QCoreApplication::translate("QFileDialog", "Look in:") != QLatin1String("Look in:"));
        QVERIFY(QCoreApplication::translate("QPlatformTheme", "&Yes") != QLatin1String("&Yes"));
    }

    void settingUpTheFormWarnsOfNothingButPassesOtherWarningsOn()
    {
        static QStringList warnings;
        warnings.clear();
        const QtMessageHandler previous =
            qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
                if (type == QtWarningMsg)
                    warnings << message;
            });
        {
            auto window = makeWindow();
            qWarning("after the form");
        }
        qInstallMessageHandler(previous);
        for (const QString& warning : warnings)
            QVERIFY2(!warning.contains(QLatin1String("connectSlotsByName")), qPrintable(warning));
        QVERIFY(warnings.contains(QStringLiteral("after the form")));
    }

    void mustReadTellsWhatAppliesHere()
    {
        corvane::app::startupPaths().settingsFilePath = QStringLiteral("/home/u/.config/Corvane/Corvane.qrt");
        const QString text = corvane::app::mustReadText();
        QVERIFY(text.startsWith(QStringLiteral("<p style=\"font-size:16px;line-height:20px;\">")));
        QCOMPARE(text.count(QStringLiteral("<br><br>")), 3);
#ifdef Q_OS_WIN
        QVERIFY(text.contains(QStringLiteral("Windows7")));
#else
        for (const char* word : {"Windows", "360", "管理员", "exe"})
            QVERIFY2(!text.contains(QString::fromUtf8(word)), word);
        for (const char* word :
             {"/home/u/.config/Corvane/Corvane.qrt", ".xlsx", ".xls文件", "LibreOffice", "备份", "关闭",
              "结果清单", "表单控件", "深度隐藏", "SUBTOTAL", "VBA", "图片"})
            QVERIFY2(text.contains(QString::fromUtf8(word)), word);
#endif
    }

    void dialogsStartInTheFieldsFolder()
    {
        using corvane::app::dialogStartFolder;
        QTemporaryDir base;
        const QString root = QDir::cleanPath(base.path());
        QVERIFY(QDir(root).mkpath(QStringLiteral("books/2024")));
        const QString books = root + QStringLiteral("/books");
        const QString year = books + QStringLiteral("/2024");
        // The folder field as the folder dialog fills it, with its final separator.
        QCOMPARE(dialogStartFolder(QDir::toNativeSeparators(year + QLatin1Char('/')), false, books), year);
        // A folder that is gone: its nearest existing parent.
        QCOMPARE(dialogStartFolder(books + QStringLiteral("/gone/deeper/"), false, QString()), books);
        // A picture: the folder it lies in, also when the file itself is gone.
        QCOMPARE(dialogStartFolder(year + QStringLiteral("/logo.png"), true, books), year);
        // Nothing usable in the field: the last folder chosen, then the home folder.
        QCOMPARE(dialogStartFolder(QString(), false, books), books);
        QCOMPARE(dialogStartFolder(QStringLiteral("relative/path"), false, books), books);
        QCOMPARE(dialogStartFolder(QString(), true, QString()), QDir::homePath());
    }
};

QTEST_MAIN(WidgetTest)
#include "tst_widget.moc"
