// The worker: one bulk operation per request, run on the job's own thread. It reports only
// through its two signals (and its monitor's); it never touches a widget.
#pragma once

#include <QObject>
#include <QString>

namespace corvane::jobs {

class RunMonitor;

class ThreadObject : public QObject
{
    Q_OBJECT

public:
    explicit ThreadObject(QObject* parent = nullptr);

    // Lives with the worker (it is its child) and moves to its thread with it.
    RunMonitor* monitor() const { return m_monitor; }

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
    RunMonitor* m_monitor;
};

} // namespace corvane::jobs
