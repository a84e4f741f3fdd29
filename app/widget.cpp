#include "app/widget.h"

#include "app/settingsstore.h"
#include "app/startup.h"
#include "app/systemtray.h"
#include "jobs/backup.h"
#include "jobs/launch.h"
#include "jobs/picturejob.h"
#include "jobs/runmonitor.h"
#include "platform/screen.h"
#include "ui_widget.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QIcon>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QThread>
#include <QVBoxLayout>

// The resource list is compiled into a static library; without an explicit reference the
// linker would drop it and the icon would be missing.
static void initCorvaneResources()
{
    Q_INIT_RESOURCE(corvane);
}

namespace corvane::app {
namespace {

const QString kIconPath = QStringLiteral(":/images/qrt.ico");

QString stoppingMessage()
{
    return QStringLiteral("正在停止:当前文件处理完后结束…");
}

} // namespace

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
    ui->setupUi(this);

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
    // A missing or unknown value leaves the first choice, "auto".
    if (const auto server = automation::parseServerChoice(QString::fromLatin1(GetSetting("server"))))
        ui->comboBox_Server->setCurrentText(automation::serverChoiceName(*server));

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
    ui->lb_ShowDisposingFile->setText(text);
}

void Widget::stopRun()
{
    if (!running || !worker)
        return;
    worker->requestStop();
    stopButton->setEnabled(false);
    ui->lb_ShowDisposingFile->setText(stoppingMessage());
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

void Widget::enterBusyState()
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
}

void Widget::startJob(RequestSignal request, WorkerSlot slot)
{
    // Every launch takes the server choice along and remembers it, as it does the folder. A file
    // without the line means "auto", so it gains one only once the user has chosen another.
    jobs::JobOptions& options = jobs::jobOptions();
    options.server = automation::parseServerChoice(ui->comboBox_Server->currentText())
                         .value_or(automation::ServerChoice::Auto);
    if (options.server != automation::ServerChoice::Auto || !GetSetting("server").isEmpty()) {
        SetSetting("server", automation::serverChoiceName(options.server).toLatin1());
        SaveSettings(SaveMode::UpdateExisting);
    }
    // The same for the backup: the line appears once the box was ticked.
    const bool backup = backupBox->isChecked();
    options.backupFolder = backup ? jobs::newBackupFolder() : QString();
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
    running = true;
    quitWhenRunEnds = false;
    stopButton->setEnabled(true);
    undoButton->setEnabled(false);
    emit(this->*request)();
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

void Widget::ShowWindow()
{
    showNormal();
    resize(windowWidth, windowHeight);
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
    resize(windowWidth, windowHeight);
    move((screenWidth - width()) / 2, (screenHeight - height()) / 2);
    showNormal();
}

void Widget::on_pBtn_SourcePath_clicked()
{
    const QString chosen =
        QFileDialog::getExistingDirectory(this, QStringLiteral("选择文件夹"), QStringLiteral("."),
                                          QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
    if (chosen.isEmpty())
        return;
    ui->lEdt_SourcePath->setText(folderFieldText(chosen));
}

void Widget::on_pBtn_ReplaceExcelText_clicked()
{
    jobs::JobOptions& options = jobs::jobOptions();
    options.justShow = ui->cBox_JustShow->checkState() == Qt::Checked;
    options.sourcePath = ui->lEdt_SourcePath->text();
    options.findText = ui->lEdt_FindText->text();
    options.replaceText = ui->lEdt_ReplaceExcelText->text();
    readSheetChoice(options);
    options.openLists = true;

    if (!jobs::prepareRun(options)) {
        ui->lb_ShowDisposingFile->setText(jobs::folderMissingMessage());
        return;
    }

    SetSetting("sourcePath", options.sourcePath.toLocal8Bit());
    SaveSettings(SaveMode::CreateOrTruncate);

    ui->lb_ShowDisposingFile->setText(QString());
    enterBusyState();
    startJob(&Widget::pBtn_ReplaceExcelText_HasClicked, &jobs::ThreadObject::ReplaceExcelText);
}

void Widget::on_ShowDisposingFile(QString filePath)
{
    ui->lb_ShowDisposingFile->setText(filePath);
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

void Widget::launchCellJob()
{
    // A running spreadsheet application could hold the workbooks open that the job rewrites.
    if (!confirmedServerSweep(*asker))
        return;

    jobs::JobOptions& options = jobs::jobOptions();
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
        ui->lb_ShowDisposingFile->setText(jobs::folderMissingMessage());
        return;
    }
    if (jobs::nothingToLocate(options)) {
        asker->inform(QStringLiteral("注意"), jobs::nothingToLocateMessage());
        return;
    }

    SetSetting("sourcePath", options.sourcePath.toLocal8Bit());
    SaveSettings(SaveMode::UpdateExisting);

    ui->lb_ShowDisposingFile->setText(QString());
    enterBusyState();
    options.insertDownOrRight = ui->cBox_DownOrRightInsert->checkState() == Qt::Checked;
    startJob(&Widget::pBtn_CellFillText_HasClicked, &jobs::ThreadObject::CellFillText);
}

void Widget::on_pBtn_CellFillText_clicked()
{
    setCellMode(&jobs::JobOptions::fillTextMode);
    launchCellJob();
}

void Widget::on_pBtn_CellChangeText_clicked()
{
    // Replacing inside a cell only makes sense when the find text may be part of it.
    ui->cBox_TextFullMatch->setChecked(false);
    setCellMode(&jobs::JobOptions::changeTextMode);
    launchCellJob();
}

void Widget::on_pBtn_CellFillFormula_clicked()
{
    setCellMode(&jobs::JobOptions::fillFormulaMode);
    launchCellJob();
}

void Widget::on_pBtn_CellChangeFormula_clicked()
{
    ui->cBox_TextFullMatch->setChecked(false);
    setCellMode(&jobs::JobOptions::changeFormulaMode);
    launchCellJob();
}

void Widget::on_pBtn_DeleteRow_clicked()
{
    setCellMode(&jobs::JobOptions::deleteRowMode);
    launchCellJob();
}

void Widget::on_pBtn_DeleteColumn_clicked()
{
    setCellMode(&jobs::JobOptions::deleteColumnMode);
    launchCellJob();
}

// The two add buttons stay hidden; their handlers work all the same.
void Widget::on_pBtn_AddColumn_clicked()
{
    setCellMode(&jobs::JobOptions::addColumnMode);
    launchCellJob();
}

void Widget::on_pBtn_AddRow_clicked()
{
    setCellMode(&jobs::JobOptions::addRowMode);
    launchCellJob();
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
    const QString chosen =
        QFileDialog::getOpenFileName(nullptr, QStringLiteral("选择Excel文件"), QStringLiteral("."), filter);
    if (!chosen.isEmpty())
        ui->lEdt_PicPath->setText(chosen);
}

void Widget::on_pBtn_PicInsert_clicked()
{
    // A running spreadsheet application could hold the workbooks open that the job changes.
    if (!confirmedServerSweep(*asker))
        return;

    jobs::JobOptions& options = jobs::jobOptions();
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
        ui->lb_ShowDisposingFile->setText(jobs::folderMissingMessage());
        return;
    }
    if (jobs::picturePathWrong(options)) {
        ui->lb_ShowDisposingFile->setText(jobs::picturePathWrongMessage());
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

    ui->lb_ShowDisposingFile->setText(QString());
    enterBusyState();
    if (jobs::wantsTransparentCopy(options)) {
        // The copy is made here, before the worker starts; the window waits for it.
        ui->lb_ShowDisposingFile->setText(jobs::convertingPictureMessage());
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

void Widget::on_pBtn_MustRead_clicked()
{
    QMessageBox::about(
        nullptr, QStringLiteral("注意"),
        QStringLiteral("<p style=\"font-size:16px;line-height:20px;\">"
                       "1. 本软件无需安装，解压后运行即可，但请勿解压到需要管理员权限的系统文件夹，"
                       "否则无法保存设置，无法正常升级。<br><br>"
                       "2. 如有需管理员权限的设置，请使用“以管理员身份运行“(鼠标指向软件exe文件点击右键即可"
                       "选择)，否则无法保存设置。<br><br>"
                       "3. 软件请在微软Windows7或以上系统运行，不支持xp系统。<br><br>"
                       "4. 软件需要对电脑文件进行修改操作，如果360等软件询问是否允许，请选择总是运行，"
                       "并勾选不再询问。<br>"
                       "</p>"));
}

void Widget::on_pBtn_RemoveSheet_clicked()
{
    // The deletion cannot be undone: nothing happens, not even the old lists' deletion, unless
    // the user says Yes.
    if (!asker->ask(this, QStringLiteral("Message:"),
                    QStringLiteral("该功能将删除勾选的指定Sheet,操作不可逆,建议先备份,是否继续？")))
        return;
    jobs::JobOptions& options = jobs::jobOptions();
    options.sourcePath = ui->lEdt_SourcePath->text();
    readSheetChoice(options);
    options.openLists = true;

    if (!jobs::prepareRun(options)) {
        ui->lb_ShowDisposingFile->setText(jobs::folderMissingMessage());
        return;
    }

    SetSetting("sourcePath", options.sourcePath.toLocal8Bit());
    SaveSettings(SaveMode::CreateOrTruncate);

    ui->lb_ShowDisposingFile->setText(QString());
    enterBusyState();
    startJob(&Widget::pBtn_RemoveSheet_HasClicked, &jobs::ThreadObject::RemoveSheet);
}

void Widget::closeEvent(QCloseEvent* event)
{
    // Closing during a run quits only once the run has stopped, after the user agreed.
    if (!mayQuitNow()) {
        event->ignore();
        return;
    }
}

} // namespace corvane::app
