// The worker: one bulk operation per request, run on the job's own thread. It reports only
// through its two signals (and its monitor's); it never touches a widget.
#pragma once

#include "run/runcontrol.h"
#include "run/runskeleton.h"

#include <QObject>
#include <QString>

#include <atomic>

namespace corvane::jobs {

class RunMonitor;

class ThreadObject : public QObject
{
    Q_OBJECT

public:
    explicit ThreadObject(QObject* parent = nullptr);

    // Lives with the worker (it is its child) and moves to its thread with it.
    RunMonitor* monitor() const { return m_monitor; }

    // Callable from any thread while a slot runs: the run ends after the workbook in hand,
    // with its summary and its lists for the workbooks done so far.
    void requestStop() { m_stop.request(); }
    // Callable from any thread: the run still writes its lists but does not open them (the
    // program is about to end).
    void keepListsClosed() { m_listsKeptClosed.store(true); }
    bool listsKeptClosed() const { return m_listsKeptClosed.load(); }

signals:
    void ShowDisposingFile(QString filePath);
    void Set_pBtn_Enable();

public slots:
    // Find and replace over every workbook below the folder, from jobOptions().
    void ReplaceExcelText();
    // Deletes the first or the appointed sheet of every workbook below the folder.
    void RemoveSheet();
    // The cell job that the set mode flag of jobOptions() names; clears the eight mode flags
    // before it ends the busy state, also when the run is cut short.
    void CellFillText();
    // Inserts the picture of jobOptions() at the located cells of every workbook below the
    // folder, deleting the drawing objects above them first when asked.
    void PicInsert();

private:
    // Runs one operation with this worker's stop request; tells the monitor how it ended.
    automation::RunEnd run(automation::Operation& operation, automation::RunSink& sink);

    RunMonitor* m_monitor;
    automation::StopRequest m_stop;
    std::atomic<bool> m_listsKeptClosed{false};
};

} // namespace corvane::jobs
