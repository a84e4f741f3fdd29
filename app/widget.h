// The program's only window: every option of every bulk operation in one form, grouped by
// operation, with the status line at the bottom.
#pragma once

#include "app/asker.h"
#include "jobs/joboptions.h"
#include "jobs/threadobject.h"

#include <QPointer>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QWidget>

#include <memory>
#include <utility>
#include <vector>

class QCheckBox;
class QProgressBar;
class QPushButton;
class QThread;

namespace Ui {
class Widget;
}

namespace corvane::app {

class ElidedStatus;
class ResultsWindow;
class SystemTray;

// What the folder field shows for a folder chosen in the dialog: the path with a final
// separator, in native separators, so the result lists land inside the folder.
QString folderFieldText(const QString& chosenFolder);

// The folder a folder or picture dialog opens in: the one `fieldPath` names (for a file, the
// folder it lies in), else `lastChosen`, else the home folder. A folder that is gone is
// replaced by its nearest existing parent; a relative path counts as none.
QString dialogStartFolder(const QString& fieldPath, bool fieldNamesFile, const QString& lastChosen);

// The text of the 使用必读 box: what applies on the platform the program was built for.
QString mustReadText();

class Widget : public QWidget
{
    Q_OBJECT

public:
    explicit Widget(QWidget* parent = nullptr);
    ~Widget() override;

    // Replaces the message boxes of the launches (tests answer them themselves).
    void setAsker(std::unique_ptr<Asker> newAsker);

    // Whether a job runs (from its launch until its end signal).
    bool isRunning() const { return running; }

    // The window that shows the last run's outcomes and changes; null before the first run.
    ResultsWindow* resultsWindow() const { return results; }

signals:
    void pBtn_ReplaceExcelText_HasClicked();
    void pBtn_CellFillText_HasClicked();
    void pBtn_PicInsert_HasClicked();
    void pBtn_RemoveSheet_HasClicked();

public slots:
    void ShowWindow();
    void SystemTrayActivated(QSystemTrayIcon::ActivationReason reason);

private slots:
    void on_tabWidget_tabBarClicked(int index);
    void on_pBtn_SourcePath_clicked();
    void on_pBtn_ReplaceExcelText_clicked();
    void on_ShowDisposingFile(QString filePath);
    void on_pBtn_CellFillText_clicked();
    void on_pBtn_CellChangeText_clicked();
    void on_pBtn_CellFillFormula_clicked();
    void on_pBtn_CellChangeFormula_clicked();
    void on_pBtn_DeleteRow_clicked();
    void on_pBtn_DeleteColumn_clicked();
    void on_pBtn_AddColumn_clicked();
    void on_pBtn_AddRow_clicked();
    void on_Set_pBtn_Enable();
    void on_pBtn_PicPath_clicked();
    void on_pBtn_PicInsert_clicked();
    void on_cBox_AppointedSheet_clicked();
    void on_cBox_FindRange_clicked();
    void on_cBox_AppointCell_clicked();
    void on_pBtn_MustRead_clicked();
    void on_pBtn_RemoveSheet_clicked();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    std::unique_ptr<::Ui::Widget> ui;
    int screenWidth = 0;
    int screenHeight = 0;
    int windowHeight = 0;
    int windowWidth = 0;
    using RequestSignal = void (Widget::*)();
    using WorkerSlot = void (jobs::ThreadObject::*)();

    void readSheetChoice(jobs::JobOptions& options) const;
    // The row "同时替换：" under the find and replace row: one box per place, ticked as the
    // settings file remembers them; a click writes the choice there.
    std::vector<std::pair<QCheckBox*, automation::ReplacePlace>> alsoReplaceBoxes() const;
    automation::ReplacePlaces alsoReplacePlaces() const;
    void setUpAlsoReplace();
    // The search or the appointed cells, as the cell and picture launches take them.
    void readCellLocating(jobs::JobOptions& options) const;
    // `startedBy` gets the focus back when the run ends.
    void enterBusyState(QPushButton* startedBy);
    void resetProgress();
    // The launch the eight cell buttons share, once the button has set its mode flag.
    void launchCellJob(QPushButton* startedBy);
    // What each cell button does first: clear the eight mode flags, then set its own.
    static void setCellMode(bool jobs::JobOptions::*mode);
    // The first step of every launch: whether it is a preview (the box, unless the results
    // window asked for the real run) and where its report goes. `startedBy` is the button the
    // real run clicks again.
    void readRunKind(jobs::JobOptions& options, QPushButton* startedBy);
    // Replaces the worker pair, connects it and sends the request: the last steps of a launch.
    void startJob(RequestSignal request, WorkerSlot slot);
    // Opens (or refreshes) the results window with the report a run has finished.
    void showResults(const QString& reportPath);
    // The results window's "run for real": the last launch once more, with the preview box
    // ignored, through all its questions and refusals.
    void runForReal();
    void showProgress(int done, int total);
    // The remembered size, grown where the form needs more.
    QSize wantedSize() const;
    // Resizes and moves the window to `topLeft` with the wanted size, as far as the screen's
    // free area allows.
    void placeOnScreen(const QPoint& topLeft);
    void fitTextsIntoTheForm();
    // "停止": the run ends after the workbook in hand.
    void stopRun();
    // The tray's quit entry: during a run, only once the user agreed to stop it.
    void quitRequested();
    // In the tab bar's corner: "修改前备份" with its undo button, and the stop button, enabled
    // only while a run is going.
    void addRunControls();
    // Puts back the workbooks of the newest backup after the user agreed.
    void undoLastBackup();
    // True when nothing runs. During a run asks whether to stop it and quit: on Yes the run
    // is stopped and the program quits once it has ended; either way false for now.
    bool mayQuitNow();

    std::unique_ptr<QThread> workerThread;
    std::unique_ptr<jobs::ThreadObject> worker;
    std::unique_ptr<Asker> asker;
    QProgressBar* progressBar = nullptr;
    ElidedStatus* statusLine = nullptr;
    QPointer<QPushButton> runButton;
    QPointer<QWidget> focusWhileBusy;
    QString lastSourceFolder;
    QString lastPictureFolder;
    SystemTray* trayIcon = nullptr;
    QPushButton* stopButton = nullptr;
    QCheckBox* backupBox = nullptr;
    QPushButton* undoButton = nullptr;
    bool running = false;
    bool quitWhenRunEnds = false;
    ResultsWindow* results = nullptr;
    QTemporaryDir reportFolder;
    int reportsMade = 0;
    QString launchedReport; // the report of the last launch
    bool launchedPreview = false;
    QString shownReport; // the report the results window reads
    QString lastStatus;
    QPointer<QPushButton> lastStartButton;
    bool realRunAsked = false;
};

} // namespace corvane::app
