#include "app/widget.h"

#include "app/elidedstatus.h"
#include "app/grouptitlefit.h"
#include "app/resultswindow.h"
#include "app/settingsstore.h"
#include "app/startup.h"
#include "app/systemtray.h"
#include "app/windowplacement.h"
#include "jobs/backup.h"
#include "jobs/launch.h"
#include "jobs/picturejob.h"
#include "jobs/runmonitor.h"
#include "platform/screen.h"
#include "ui_widget.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QThread>
#include <QVBoxLayout>

#include <iterator>

// The resource list is compiled into a static library; without an explicit reference the
// linker would drop it and the icon would be missing.
static void initCorvaneResources()
{
    Q_INIT_RESOURCE(corvane);
}

namespace corvane::app {
namespace {

const QString kIconPath = QStringLiteral(":/images/qrt.ico");

// Room kept for the window manager's title bar and borders until the real frame is known.
const QMargins kFrameAllowance(4, 30, 4, 4);

// Two slots carry names of the by-name pattern without belonging to a control: the worker's end
// signal and the picture button (connected by hand). Setting up the form warns about both every
// time; only these two warnings are held back, every other message passes on.
QtMessageHandler formMessageTarget = nullptr;

void holdBackKnownByNameWarnings(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type == QtWarningMsg &&
        (message ==
             QLatin1String("QMetaObject::connectSlotsByName: No matching signal for on_Set_pBtn_Enable()") ||
         message == QLatin1String(
                        "QMetaObject::connectSlotsByName: No matching signal for on_pBtn_PicPath_clicked()")))
        return;
    formMessageTarget(type, context, message);
}

// The nearest folder that exists at or above `path`; empty for an empty or relative path.
QString existingFolderAt(const QString& path)
{
    if (path.trimmed().isEmpty())
        return QString();
    QFileInfo info(QDir::fromNativeSeparators(path.trimmed()));
    if (!info.isAbsolute())
        return QString();
    QString folder = QDir::cleanPath(info.absoluteFilePath());
    while (!QFileInfo(folder).isDir()) {
        const QString parent = QFileInfo(folder).path();
        if (parent == folder)
            return QString();
        folder = parent;
    }
    return folder;
}

QString stoppingMessage()
{
    return QStringLiteral("正在停止:当前文件处理完后结束…");
}

} // namespace

QString dialogStartFolder(const QString& fieldPath, bool fieldNamesFile, const QString& lastChosen)
{
    QString fromField = fieldPath.trimmed();
    if (fieldNamesFile && !fromField.isEmpty() && !QFileInfo(QDir::fromNativeSeparators(fromField)).isDir())
        fromField = QFileInfo(QDir::fromNativeSeparators(fromField)).path();
    for (const QString& candidate : {fromField, lastChosen}) {
        const QString folder = existingFolderAt(candidate);
        if (!folder.isEmpty())
            return folder;
    }
    return QDir::homePath();
}

QString folderFieldText(const QString& chosenFolder)
{
    // A root folder ("/", or "C:/" on Windows) already ends in its separator.
    const QString withSeparator =
        chosenFolder.endsWith(QLatin1Char('/')) ? chosenFolder : chosenFolder + QLatin1Char('/');
    return QDir::toNativeSeparators(withSeparator);
}

Widget::Widget(QWidget* parent)
    : QWidget(parent), ui(std::make_unique<::Ui::Widget>()), asker(std::make_unique<MessageBoxAsker>())
{
    initCorvaneResources();
    formMessageTarget = qInstallMessageHandler(holdBackKnownByNameWarnings);
    ui->setupUi(this);
    qInstallMessageHandler(formMessageTarget);
    statusLine = new ElidedStatus(ui->lb_ShowDisposingFile);

    const QSize screen = platform::primaryScreenSize();
    screenWidth = screen.width();
    screenHeight = screen.height();
    windowWidth = width();
    windowHeight = height();
    move((screenWidth - windowWidth) / 2, (screenHeight - windowHeight) / 2);

    setWindowTitle(QStringLiteral("Corvane") + QStringLiteral("7.2"));
    setWindowIcon(QIcon(kIconPath));

    ui->lEdt_FindRange->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("[0-9a-zA-Z:]+$")), ui->lEdt_FindRange));

    trayIcon = new SystemTray(this);
    trayIcon->setQuitHandler([this] { quitRequested(); });
    connect(trayIcon, &SystemTray::showWidget, this, &Widget::ShowWindow);
    connect(trayIcon, &QSystemTrayIcon::activated, this, &Widget::SystemTrayActivated);

    // The form already connects slots by name; repeating these as unique connections keeps
    // each click handled once, and gives the picture button (whose slot name matches no
    // control) its only connection.
    connect(ui->pBtn_SourcePath, SIGNAL(clicked()), this, SLOT(on_pBtn_SourcePath_clicked()),
            Qt::UniqueConnection);
    connect(ui->pBtn_PicSelect, SIGNAL(clicked()), this, SLOT(on_pBtn_PicPath_clicked()),
            Qt::UniqueConnection);
    connect(ui->tabWidget, SIGNAL(tabBarClicked(int)), this, SLOT(on_tabWidget_tabBarClicked(int)),
            Qt::UniqueConnection);

    LoadSettings();

    windowHeight = 600;
    resize(windowWidth, windowHeight);

    ui->lEdt_SourcePath->setText(QString::fromLocal8Bit(GetSetting("sourcePath")));
    ui->lEdt_PicPath->setText(QString::fromLocal8Bit(GetSetting("picPath")));
    // The items show Chinese names; each carries the name the settings file and the command line
    // use. A missing or unknown value leaves the first choice, "auto".
    const automation::ServerChoice choices[] = {automation::ServerChoice::Auto,
                                                automation::ServerChoice::Native,
                                                automation::ServerChoice::LibreOffice};
    for (int i = 0; i < ui->comboBox_Server->count() && i < int(std::size(choices)); ++i)
        ui->comboBox_Server->setItemData(i, automation::serverChoiceName(choices[i]));
    if (const auto server = automation::parseServerChoice(QString::fromLatin1(GetSetting("server"))))
        ui->comboBox_Server->setCurrentIndex(
            ui->comboBox_Server->findData(automation::serverChoiceName(*server)));

    setUpAlsoReplace();

    fitTextsIntoTheForm();
    placeOnScreen(pos());

    if (!startsHidden(startupPaths().startArgument))
        show();

    worker.reset();
    workerThread.reset();

    ui->pBtn_AddRow->hide();
    ui->pBtn_AddColumn->hide();
    ui->cBox_DownOrRightInsert->hide();

    // Workbooks done out of workbooks found: a thin bar along the foot of the status line's
    // area (inside the label, so the page keeps its layout and the text stays readable);
    // shown once a run reports.
    auto* statusArea = new QVBoxLayout(ui->lb_ShowDisposingFile);
    statusArea->setContentsMargins(0, 0, 0, 0);
    statusArea->addStretch(1);
    progressBar = new QProgressBar(ui->lb_ShowDisposingFile);
    progressBar->setObjectName(QStringLiteral("progressBar_Run"));
    progressBar->setTextVisible(false);
    progressBar->setFixedHeight(5);
    progressBar->hide();
    statusArea->addWidget(progressBar);

    addRunControls();
}

std::vector<std::pair<QCheckBox*, automation::ReplacePlace>> Widget::alsoReplaceBoxes() const
{
    return {{ui->cBox_AlsoComments, automation::ReplacePlace::Comments},
            {ui->cBox_AlsoShapes, automation::ReplacePlace::Shapes},
            {ui->cBox_AlsoHeaders, automation::ReplacePlace::Headers},
            {ui->cBox_AlsoLinks, automation::ReplacePlace::Links},
            {ui->cBox_AlsoSheetNames, automation::ReplacePlace::SheetNames}};
}

automation::ReplacePlaces Widget::alsoReplacePlaces() const
{
    automation::ReplacePlaces places;
    for (const auto& [box, place] : alsoReplaceBoxes())
        places.set(place, box->isChecked());
    return places;
}

void Widget::setUpAlsoReplace()
{
    // A file without the line means no place beside the cells, so it gains one only once the
    // user has changed a box; an unknown name in it is passed over.
    automation::ReplacePlaces remembered;
    for (const QString& name : QString::fromLatin1(GetSetting("alsoReplace")).split(QLatin1Char(','))) {
        automation::ReplacePlaces one;
        if (automation::ReplacePlaces::parse(name, one))
            for (automation::ReplacePlace place : automation::ReplacePlaces::all())
                if (one.has(place))
                    remembered.set(place);
    }
    for (const auto& [box, place] : alsoReplaceBoxes()) {
        box->setChecked(remembered.has(place));
        connect(box, &QCheckBox::clicked, this, [this]() {
            SetSetting("alsoReplace", alsoReplacePlaces().names().toLatin1());
            SaveSettings(SaveMode::UpdateExisting);
        });
    }
}

void Widget::addRunControls()
{
    // In the tab bar's free corner, so that no row of the form gets narrower.
    auto* corner = new QWidget(ui->tabWidget);
    corner->setObjectName(QStringLiteral("wgt_RunControls"));
    auto* row = new QHBoxLayout(corner);
    row->setContentsMargins(0, 0, 4, 2);
    row->setSpacing(4);

    backupBox = new QCheckBox(QStringLiteral("修改前备份"), corner);
    backupBox->setObjectName(QStringLiteral("cBox_Backup"));
    backupBox->setToolTip(QStringLiteral("每个文件保存前先复制一份到 ") +
                          QDir::toNativeSeparators(jobs::backupRoot()) +
                          QStringLiteral(" 下以运行时间命名的文件夹"));
    backupBox->setChecked(GetSetting("backup") == "1");
    row->addWidget(backupBox);
    undoButton = new QPushButton(QStringLiteral("撤销上次修改"), corner);
    undoButton->setObjectName(QStringLiteral("pBtn_Undo"));
    undoButton->setToolTip(QStringLiteral("用最近一次备份恢复文件;运行后又被改动过的文件不会被覆盖"));
    row->addWidget(undoButton);
    connect(undoButton, &QPushButton::clicked, this, &Widget::undoLastBackup);

    stopButton = new QPushButton(QStringLiteral("停止"), corner);
    stopButton->setObjectName(QStringLiteral("pBtn_Stop"));
    stopButton->setToolTip(QStringLiteral("当前文件处理完后停止,已处理的文件照常列出"));
    stopButton->setEnabled(false);
    row->addWidget(stopButton);
    connect(stopButton, &QPushButton::clicked, this, &Widget::stopRun);

    ui->tabWidget->setCornerWidget(corner, Qt::TopRightCorner);
    // The window may already be shown; a corner widget set then is not shown with it.
    corner->show();
}

void Widget::undoLastBackup()
{
    const QString folder = jobs::lastBackupFolder();
    if (folder.isEmpty()) {
        asker->inform(QStringLiteral("注意"), QStringLiteral("没有找到备份,无法撤销。"));
        return;
    }
    if (!asker->confirm(
            QStringLiteral("注意"),
            QStringLiteral("将用备份 %1 恢复上次修改的文件。运行后又被改动过的文件不会恢复。是否继续?")
                .arg(QDir::toNativeSeparators(folder))))
        return;
    const jobs::UndoReport report = jobs::undoBackup(folder);
    QString text = report.error.isEmpty()
                       ? QStringLiteral("已恢复%1个文件。").arg(report.restored.size())
                       : QStringLiteral("备份无法读取:") + QDir::toNativeSeparators(folder);
    if (!report.unchanged.isEmpty())
        text += QStringLiteral("%1个文件已是修改前的内容。").arg(report.unchanged.size());
    if (!report.leftAlone.isEmpty())
        text += QStringLiteral("%1个文件运行后已被改动或无法恢复,未覆盖:").arg(report.leftAlone.size()) +
                QDir::toNativeSeparators(report.leftAlone.join(QStringLiteral("; ")));
    statusLine->setText(text);
}

void Widget::stopRun()
{
    if (!running || !worker)
        return;
    worker->requestStop();
    stopButton->setEnabled(false);
    statusLine->setText(stoppingMessage());
}

bool Widget::mayQuitNow()
{
    if (!running)
        return true;
    if (quitWhenRunEnds || !asker->confirm(QStringLiteral("注意"),
                                           QStringLiteral("正在处理文件。是否停止并退出程序?\n"
                                                          "当前文件处理完后退出,不会留下写了一半的文件。")))
        return false;
    // The run may have ended while the question was open.
    if (!running)
        return true;
    quitWhenRunEnds = true;
    worker->keepListsClosed();
    stopRun();
    return false;
}

void Widget::quitRequested()
{
    if (mayQuitNow())
        QCoreApplication::quit();
}

Widget::~Widget()
{
    // A job still running when the program ends is allowed to finish its current workbook:
    // ending the thread under it could leave a workbook half-written.
    if (workerThread) {
        workerThread->quit();
        workerThread->wait();
    }
    worker.reset();
    workerThread.reset();
}

void Widget::setAsker(std::unique_ptr<Asker> newAsker)
{
    asker = std::move(newAsker);
}

void Widget::readSheetChoice(jobs::JobOptions& options) const
{
    options.onlyFirstSheet = ui->cBox_OnlyFirstSheet->checkState() == Qt::Checked;
    options.appointedSheet = ui->cBox_AppointedSheet->checkState() == Qt::Checked;
    if (options.appointedSheet)
        options.appointedSheetName = ui->lEdt_AppointedSheetName->text();
}

void Widget::enterBusyState(QPushButton* startedBy)
{
    ui->pBtn_ReplaceExcelText->setEnabled(false);
    ui->pBtn_CellFillText->setEnabled(false);
    ui->pBtn_PicInsert->setEnabled(false);
    ui->pBtn_CellChangeText->setEnabled(false);
    ui->pBtn_CellFillFormula->setEnabled(false);
    ui->pBtn_CellChangeFormula->setEnabled(false);
    ui->pBtn_DeleteRow->setEnabled(false);
    ui->pBtn_DeleteColumn->setEnabled(false);
    ui->pBtn_AddRow->setEnabled(false);
    ui->pBtn_AddColumn->setEnabled(false);
    ui->pBtn_RemoveSheet->setEnabled(false);
    // Disabling the focused button handed the focus on to the next control, often a check box
    // that a Space would silently toggle. The end of the run gives it back to the button.
    runButton = startedBy;
    focusWhileBusy = focusWidget();
}

void Widget::resetProgress()
{
    progressBar->reset();
    progressBar->hide();
}

void Widget::startJob(RequestSignal request, WorkerSlot slot)
{
    // Every launch takes the server choice along and remembers it, as it does the folder. A file
    // without the line means "auto", so it gains one only once the user has chosen another.
    jobs::JobOptions& options = jobs::jobOptions();
    options.server = automation::parseServerChoice(ui->comboBox_Server->currentData().toString())
                         .value_or(automation::ServerChoice::Auto);
    if (options.server != automation::ServerChoice::Auto || !GetSetting("server").isEmpty()) {
        SetSetting("server", automation::serverChoiceName(options.server).toLatin1());
        SaveSettings(SaveMode::UpdateExisting);
    }
    // The same for the backup: the line appears once the box was ticked. A preview saves
    // nothing, so it makes no backup folder either.
    const bool backup = backupBox->isChecked();
    options.backupFolder = backup && !options.dryRun ? jobs::newBackupFolder() : QString();
    if (backup || !GetSetting("backup").isEmpty()) {
        SetSetting("backup", backup ? "1" : "0");
        SaveSettings(SaveMode::UpdateExisting);
    }

    // The previous run may still be writing its lists; its slot must return before its
    // worker goes.
    jobs::retireWorker(workerThread, worker);
    jobs::startWorker(workerThread, worker);
    progressBar->hide();

    connect(worker.get(), &jobs::ThreadObject::ShowDisposingFile, this, &Widget::on_ShowDisposingFile,
            Qt::UniqueConnection);
    connect(this, request, worker.get(), slot, Qt::UniqueConnection);
    connect(worker.get(), &jobs::ThreadObject::Set_pBtn_Enable, this, &Widget::on_Set_pBtn_Enable,
            Qt::UniqueConnection);
    connect(worker->monitor(), &jobs::RunMonitor::progressed, this, &Widget::showProgress,
            Qt::UniqueConnection);
    connect(worker->monitor(), &jobs::RunMonitor::reportWritten, this, &Widget::showResults,
            Qt::UniqueConnection);
    launchedReport = options.reportPath;
    launchedPreview = options.dryRun;
    running = true;
    quitWhenRunEnds = false;
    stopButton->setEnabled(true);
    undoButton->setEnabled(false);
    emit(this->*request)();
}

void Widget::readRunKind(jobs::JobOptions& options, QPushButton* startedBy)
{
    options.dryRun = !realRunAsked && ui->cBox_Preview->isChecked();
    options.reportPath = reportFolder.isValid()
                             ? reportFolder.filePath(QStringLiteral("report-%1.jsonl").arg(++reportsMade))
                             : QString();
    lastStartButton = startedBy;
}

void Widget::showResults(const QString& reportPath)
{
    // A report that a later launch has overtaken is not shown over that launch's.
    if (reportPath != launchedReport)
        return;
    if (!results) {
        results = new ResultsWindow(this);
        connect(results, &ResultsWindow::runForRealRequested, this, &Widget::runForReal);
    }
    results->showRun(reportPath, launchedPreview, lastStatus);
    if (!shownReport.isEmpty() && shownReport != reportPath)
        QFile::remove(shownReport);
    shownReport = reportPath;
    results->show();
    results->raise();
}

void Widget::runForReal()
{
    if (running || !lastStartButton)
        return;
    realRunAsked = true;
    lastStartButton->click();
    realRunAsked = false;
}

void Widget::showProgress(int done, int total)
{
    if (total <= 0) {
        progressBar->hide();
        return;
    }
    progressBar->setMaximum(total);
    progressBar->setValue(done);
    progressBar->setToolTip(QStringLiteral("%1/%2").arg(done).arg(total));
    progressBar->show();
}

QSize Widget::wantedSize() const
{
    // The remembered size, or more where the form needs it (a larger font); the scroll area
    // alone would let the window be smaller than its controls.
    const QMargins around = layout()->contentsMargins();
    const QSize form = ui->centralWidget->minimumSizeHint().grownBy(around);
    return QSize(windowWidth, windowHeight).expandedTo(form);
}

void Widget::placeOnScreen(const QPoint& topLeft)
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    // Once the window manager has framed the window its frame is known; before that (and where
    // no frame is drawn) room is kept for one.
    const QRect inner = geometry();
    const QRect outer = frameGeometry();
    const QMargins frame = isVisible() && outer != inner
                               ? QMargins(inner.left() - outer.left(), inner.top() - outer.top(),
                                          outer.right() - inner.right(), outer.bottom() - inner.bottom())
                               : kFrameAllowance;
    const QRect placed = fitOnScreen(QRect(topLeft, wantedSize()), screen->availableGeometry(), frame);
    resize(placed.size());
    move(placed.topLeft());
}

void Widget::fitTextsIntoTheForm()
{
    // The appointed-cell field shows a pair of cells such as "C1,D2" whole, whatever the font:
    // the text, the frame, one character's room for the cursor and Qt's inner margin.
    QLineEdit* cells = ui->lEdt_AppointCell;
    const int textMargins = cells->textMargins().left() + cells->textMargins().right();
    const int cellsWidth = cells->fontMetrics().horizontalAdvance(QStringLiteral("C1,D2")) + textMargins +
                           2 * cells->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, cells) +
                           cells->fontMetrics().averageCharWidth() + 4;
    cells->setMinimumWidth(cellsWidth);
    cells->setMaximumWidth(qMax(cells->maximumWidth(), cellsWidth));

    // The server choice shows its longest item whole; the folder field gives way instead.
    // (Qt's own measure of the items falls a character short for Chinese text.)
    QComboBox* server = ui->comboBox_Server;
    int widest = 0;
    for (int i = 0; i < server->count(); ++i)
        widest = qMax(widest, server->fontMetrics().horizontalAdvance(server->itemText(i)));
    QStyleOptionComboBox serverOption;
    serverOption.initFrom(server);
    const QSize serverText(widest + server->fontMetrics().horizontalAdvance(QChar(0x4E00)),
                           server->fontMetrics().height());
    server->setMinimumWidth(
        server->style()->sizeFromContents(QStyle::CT_ComboBox, &serverOption, serverText, server).width());

    // The folder row holds ten controls; with the default gaps between them it would need a
    // wider window than the form's other rows. Tighter gaps keep the window at its size.
    if (QLayout* folderRow = ui->widget_6->layout())
        folderRow->setSpacing(qMax(
            2, style()->layoutSpacing(QSizePolicy::PushButton, QSizePolicy::LineEdit, Qt::Horizontal) / 2));

    // The 功能二 group is kept from growing with its long title, but not below what its rows
    // need: narrower, their right-hand controls would be cut off instead of scrolled to.
    new GroupTitleFit(ui->groupBox_2);
}

void Widget::ShowWindow()
{
    showNormal();
    placeOnScreen(pos());
    raise();
    activateWindow();
    setFocus();
}

void Widget::SystemTrayActivated(QSystemTrayIcon::ActivationReason reason)
{
    if (reason == QSystemTrayIcon::DoubleClick || reason == QSystemTrayIcon::Trigger)
        ShowWindow();
}

void Widget::on_tabWidget_tabBarClicked(int /*index*/)
{
    showNormal();
    const QSize size = wantedSize();
    placeOnScreen(QPoint((screenWidth - size.width()) / 2, (screenHeight - size.height()) / 2));
    showNormal();
}

void Widget::on_pBtn_SourcePath_clicked()
{
    const QString chosen = QFileDialog::getExistingDirectory(
        this, QStringLiteral("选择文件夹"),
        dialogStartFolder(ui->lEdt_SourcePath->text(), false, lastSourceFolder),
        QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
    if (chosen.isEmpty())
        return;
    lastSourceFolder = chosen;
    ui->lEdt_SourcePath->setText(folderFieldText(chosen));
}

void Widget::on_pBtn_ReplaceExcelText_clicked()
{
    // A launch that is refused must not leave the last run's bar behind its message.
    resetProgress();
    jobs::JobOptions& options = jobs::jobOptions();
    readRunKind(options, ui->pBtn_ReplaceExcelText);
    options.justShow = ui->cBox_JustShow->checkState() == Qt::Checked;
    options.sourcePath = ui->lEdt_SourcePath->text();
    options.findText = ui->lEdt_FindText->text();
    options.replaceText = ui->lEdt_ReplaceExcelText->text();
    options.alsoReplace = alsoReplacePlaces();
    readSheetChoice(options);
    options.openLists = true;

    if (!jobs::prepareRun(options)) {
        statusLine->setText(jobs::folderMissingMessage());
        return;
    }

    SetSetting("sourcePath", options.sourcePath.toLocal8Bit());
    SaveSettings(SaveMode::CreateOrTruncate);

    statusLine->setText(QString());
    enterBusyState(ui->pBtn_ReplaceExcelText);
    startJob(&Widget::pBtn_ReplaceExcelText_HasClicked, &jobs::ThreadObject::ReplaceExcelText);
}

void Widget::on_ShowDisposingFile(QString filePath)
{
    lastStatus = filePath;
    statusLine->setText(filePath);
}

void Widget::setCellMode(bool jobs::JobOptions::*mode)
{
    // Before anything can refuse the launch, so that a refused click leaves no flag behind.
    jobs::JobOptions& options = jobs::jobOptions();
    jobs::clearCellModes(options);
    options.*mode = true;
}

void Widget::readCellLocating(jobs::JobOptions& options) const
{
    options.cellFindText = ui->lEdt_CellFindText->text();
    options.cellRight = ui->sBox_CellRight->value();
    options.cellLeft = ui->sBox_CellLeft->value();
    options.cellDown = ui->sBox_CellDown->value();
    options.cellUp = ui->sBox_CellUp->value();
    options.textFullMatch = ui->cBox_TextFullMatch->checkState() == Qt::Checked;
    options.findInFormula = ui->cBox_FindFomula->checkState() == Qt::Checked;
    options.workbookFillOnce = ui->cBox_WbFillOnce->checkState() == Qt::Checked;
    options.sheetFillOnce = ui->cBox_ShtFillOnce->checkState() == Qt::Checked;
    options.findRangeOn = ui->cBox_FindRange->checkState() == Qt::Checked;
    if (options.findRangeOn)
        options.findRange = ui->lEdt_FindRange->text().trimmed();
    options.appointCellOn = ui->cBox_AppointCell->checkState() == Qt::Checked;
    if (options.appointCellOn)
        options.appointCells = ui->lEdt_AppointCell->text().trimmed();
}

void Widget::launchCellJob(QPushButton* startedBy)
{
    resetProgress();
    // A running spreadsheet application could hold the workbooks open that the job rewrites.
    if (!confirmedServerSweep(*asker))
        return;

    jobs::JobOptions& options = jobs::jobOptions();
    readRunKind(options, startedBy);
    options.sourcePath = ui->lEdt_SourcePath->text();
    readSheetChoice(options);
    options.openLists = true;
    readCellLocating(options);
    options.cellFillText = ui->lEdt_CellFillText->text();

    if (jobs::appointedCellsMissing(options)) {
        asker->inform(QStringLiteral("注意"), jobs::appointedCellsMissingMessage());
        return;
    }
    if (!jobs::prepareRun(options)) {
        statusLine->setText(jobs::folderMissingMessage());
        return;
    }
    if (jobs::nothingToLocate(options)) {
        asker->inform(QStringLiteral("注意"), jobs::nothingToLocateMessage());
        return;
    }

    SetSetting("sourcePath", options.sourcePath.toLocal8Bit());
    SaveSettings(SaveMode::UpdateExisting);

    statusLine->setText(QString());
    enterBusyState(startedBy);
    options.insertDownOrRight = ui->cBox_DownOrRightInsert->checkState() == Qt::Checked;
    startJob(&Widget::pBtn_CellFillText_HasClicked, &jobs::ThreadObject::CellFillText);
}

void Widget::on_pBtn_CellFillText_clicked()
{
    setCellMode(&jobs::JobOptions::fillTextMode);
    launchCellJob(ui->pBtn_CellFillText);
}

void Widget::on_pBtn_CellChangeText_clicked()
{
    // Replacing inside a cell only makes sense when the find text may be part of it.
    ui->cBox_TextFullMatch->setChecked(false);
    setCellMode(&jobs::JobOptions::changeTextMode);
    launchCellJob(ui->pBtn_CellChangeText);
}

void Widget::on_pBtn_CellFillFormula_clicked()
{
    setCellMode(&jobs::JobOptions::fillFormulaMode);
    launchCellJob(ui->pBtn_CellFillFormula);
}

void Widget::on_pBtn_CellChangeFormula_clicked()
{
    ui->cBox_TextFullMatch->setChecked(false);
    setCellMode(&jobs::JobOptions::changeFormulaMode);
    launchCellJob(ui->pBtn_CellChangeFormula);
}

void Widget::on_pBtn_DeleteRow_clicked()
{
    setCellMode(&jobs::JobOptions::deleteRowMode);
    launchCellJob(ui->pBtn_DeleteRow);
}

void Widget::on_pBtn_DeleteColumn_clicked()
{
    setCellMode(&jobs::JobOptions::deleteColumnMode);
    launchCellJob(ui->pBtn_DeleteColumn);
}

// The two add buttons stay hidden; their handlers work all the same.
void Widget::on_pBtn_AddColumn_clicked()
{
    setCellMode(&jobs::JobOptions::addColumnMode);
    launchCellJob(ui->pBtn_AddColumn);
}

void Widget::on_pBtn_AddRow_clicked()
{
    setCellMode(&jobs::JobOptions::addRowMode);
    launchCellJob(ui->pBtn_AddRow);
}

void Widget::on_Set_pBtn_Enable()
{
    ui->pBtn_ReplaceExcelText->setEnabled(true);
    ui->pBtn_CellFillText->setEnabled(true);
    ui->pBtn_PicInsert->setEnabled(true);
    ui->pBtn_CellChangeText->setEnabled(true);
    ui->pBtn_CellFillFormula->setEnabled(true);
    ui->pBtn_CellChangeFormula->setEnabled(true);
    ui->pBtn_DeleteRow->setEnabled(true);
    ui->pBtn_DeleteColumn->setEnabled(true);
    ui->pBtn_AddRow->setEnabled(true);
    ui->pBtn_AddColumn->setEnabled(true);
    ui->pBtn_RemoveSheet->setEnabled(true);
    // Unless the user has moved the focus during the run.
    if (runButton && runButton->isVisible() && focusWidget() == focusWhileBusy)
        runButton->setFocus(Qt::OtherFocusReason);
    runButton = nullptr;
    focusWhileBusy = nullptr;
    running = false;
    stopButton->setEnabled(false);
    undoButton->setEnabled(true);
    // The lists of the stopped run are still being written; the window's end waits for them.
    if (quitWhenRunEnds)
        QCoreApplication::quit();
}

void Widget::on_pBtn_PicPath_clicked()
{
#ifdef Q_OS_WIN
    const QString filter = QStringLiteral("*.bmp;*.jpg;*.jpeg;*.png;*.gif");
#else
    // Qt's own file dialog separates patterns by spaces; with semicolons it would show no file.
    const QString filter = QStringLiteral("*.bmp *.jpg *.jpeg *.png *.gif");
#endif
    const QString chosen = QFileDialog::getOpenFileName(
        nullptr, QStringLiteral("选择图片文件"),
        dialogStartFolder(ui->lEdt_PicPath->text(), true, lastPictureFolder), filter);
    if (chosen.isEmpty())
        return;
    lastPictureFolder = QFileInfo(chosen).path();
    ui->lEdt_PicPath->setText(chosen);
}

void Widget::on_pBtn_PicInsert_clicked()
{
    resetProgress();
    // A running spreadsheet application could hold the workbooks open that the job changes.
    if (!confirmedServerSweep(*asker))
        return;

    jobs::JobOptions& options = jobs::jobOptions();
    readRunKind(options, ui->pBtn_PicInsert);
    options.sourcePath = ui->lEdt_SourcePath->text();
    readSheetChoice(options);
    options.openLists = true;
    options.picPath = ui->lEdt_PicPath->text().trimmed();
    options.picTransparent = ui->cBox_PicTransparent->checkState() == Qt::Checked;
    options.picDeleteOld = ui->cBox_PicDelOld->checkState() == Qt::Checked;
    options.picRight = ui->sBox_PicRight->value();
    options.picLeft = ui->sBox_PicLeft->value();
    options.picDown = ui->sBox_PicDown->value();
    options.picUp = ui->sBox_PicUp->value();
    options.picWidth = ui->sBox_PicWidth->value();
    options.picHeight = ui->sBox_PicHeight->value();
    readCellLocating(options);

    if (jobs::appointedCellsMissing(options)) {
        asker->inform(QStringLiteral("注意"), jobs::appointedCellsMissingMessage());
        return;
    }
    if (!jobs::prepareRun(options)) {
        statusLine->setText(jobs::folderMissingMessage());
        return;
    }
    if (jobs::picturePathWrong(options)) {
        statusLine->setText(jobs::picturePathWrongMessage());
        return;
    }
    if (jobs::nothingToLocate(options)) {
        asker->inform(QStringLiteral("注意"), jobs::nothingToLocateMessage());
        return;
    }

    // The chosen picture, not its transparent copy, is what the next start shows again.
    SetSetting("sourcePath", options.sourcePath.toLocal8Bit());
    SetSetting("picPath", options.picPath.toLocal8Bit());
    SaveSettings(SaveMode::UpdateExisting);

    statusLine->setText(QString());
    enterBusyState(ui->pBtn_PicInsert);
    if (jobs::wantsTransparentCopy(options)) {
        // The copy is made here, before the worker starts; the window waits for it.
        statusLine->setText(jobs::convertingPictureMessage());
        ui->lb_ShowDisposingFile->repaint();
        jobs::makeTransparentCopy(options);
    }
    startJob(&Widget::pBtn_PicInsert_HasClicked, &jobs::ThreadObject::PicInsert);
}

void Widget::on_cBox_AppointedSheet_clicked()
{
    ui->lEdt_AppointedSheetName->setEnabled(ui->cBox_AppointedSheet->isChecked());
}

void Widget::on_cBox_FindRange_clicked()
{
    ui->lEdt_FindRange->setEnabled(ui->cBox_FindRange->isChecked());
}

void Widget::on_cBox_AppointCell_clicked()
{
    const bool appointed = ui->cBox_AppointCell->isChecked();
    ui->lEdt_AppointCell->setEnabled(appointed);
    ui->lEdt_CellFindText->setEnabled(!appointed);
    ui->sBox_CellRight->setEnabled(!appointed);
    ui->sBox_CellLeft->setEnabled(!appointed);
    ui->sBox_CellDown->setEnabled(!appointed);
    ui->sBox_CellUp->setEnabled(!appointed);
    ui->cBox_TextFullMatch->setEnabled(!appointed);
    ui->cBox_FindFomula->setEnabled(!appointed);
    ui->cBox_ShtFillOnce->setEnabled(!appointed);
    ui->cBox_FindRange->setEnabled(!appointed);
}

QString mustReadText()
{
#ifdef Q_OS_WIN
    return QStringLiteral(
        "<p style=\"font-size:16px;line-height:20px;\">"
        "1. 本软件无需安装，解压后运行即可，但请勿解压到需要管理员权限的系统文件夹，"
        "否则无法保存设置，无法正常升级。<br><br>"
        "2. 如有需管理员权限的设置，请使用“以管理员身份运行“(鼠标指向软件exe文件点击右键即可"
        "选择)，否则无法保存设置。<br><br>"
        "3. 软件请在微软Windows7或以上系统运行，不支持xp系统。<br><br>"
        "4. 软件需要对电脑文件进行修改操作，如果360等软件询问是否允许，请选择总是运行，"
        "并勾选不再询问。<br>"
        "</p>");
#else
    // Where the settings really are: beside the program, or in the configuration folder when
    // that folder cannot be written.
    const QString settingsFile =
        QDir::toNativeSeparators(QFileInfo(startupPaths().settingsFilePath).absoluteFilePath())
            .toHtmlEscaped();
    return QStringLiteral("<p style=\"font-size:16px;line-height:20px;\">"
                          "1. .xlsx/.xlsm文件由内置引擎直接修改；.xls文件及实为网页或文本导出的表格文件由"
                          "LibreOffice处理（“处理方式”可选择）。<br><br>"
                          "2. 操作前请关闭要修改的表格文件，并先备份：文件修改后直接保存，无法撤销。<br><br>"
                          "3. 设置保存在%1；结果清单写在所选文件夹中。<br><br>"
                          "4. LibreOffice保存.xls文件时可能丢失表单控件、单元格中的图片、VBA函数名的大小写和"
                          "SUBTOTAL的结构化引用，深度隐藏的Sheet会变为普通隐藏。<br>"
                          "</p>")
        .arg(settingsFile);
#endif
}

void Widget::on_pBtn_MustRead_clicked()
{
    QMessageBox::about(nullptr, QStringLiteral("注意"), mustReadText());
}

void Widget::on_pBtn_RemoveSheet_clicked()
{
    resetProgress();
    // The deletion cannot be undone: nothing happens, not even the old lists' deletion, unless
    // the user says Yes.
    if (!asker->ask(this, QStringLiteral("Message:"),
                    QStringLiteral("该功能将删除勾选的指定Sheet,操作不可逆,建议先备份,是否继续？")))
        return;
    jobs::JobOptions& options = jobs::jobOptions();
    readRunKind(options, ui->pBtn_RemoveSheet);
    options.sourcePath = ui->lEdt_SourcePath->text();
    readSheetChoice(options);
    options.openLists = true;

    if (!jobs::prepareRun(options)) {
        statusLine->setText(jobs::folderMissingMessage());
        return;
    }

    SetSetting("sourcePath", options.sourcePath.toLocal8Bit());
    SaveSettings(SaveMode::CreateOrTruncate);

    statusLine->setText(QString());
    enterBusyState(ui->pBtn_RemoveSheet);
    startJob(&Widget::pBtn_RemoveSheet_HasClicked, &jobs::ThreadObject::RemoveSheet);
}

void Widget::closeEvent(QCloseEvent* event)
{
    // Closing during a run quits only once the run has stopped, after the user agreed.
    if (!mayQuitNow()) {
        event->ignore();
        return;
    }
    // A visible tray icon may keep the application running once its last window has gone;
    // closing the window ends the program all the same.
    event->accept();
    QCoreApplication::quit();
}

} // namespace corvane::app
