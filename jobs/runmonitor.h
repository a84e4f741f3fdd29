// Reports of a run beyond the status line: progress for the window's bar, and failures with
// their reasons for the command line. Kept apart from ThreadObject so that the worker's own
// signals stay the two the window relies on.
#pragma once

#include <QObject>
#include <QString>

namespace corvane::jobs {

class RunMonitor : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

signals:
    // Workbooks done out of the workbooks found.
    void progressed(int done, int total);
    // A workbook that could not be opened or saved.
    void fileFailed(QString path, QString reason);
    // A result list that could not be written.
    void listFailed(QString path, QString reason);
    // No server could be started.
    void serverFailed(QString reason);
    // The operation stopped the run before its end (an invalid find range); no summary and no
    // result list follow.
    void runCutShort();
    // A stop was requested and taken up: the run summed up and listed the workbooks done.
    void runStopped();
    // The change report could not be created (the run did not start) or not written whole.
    void reportFailed(QString path, QString reason);
    // The run is over and its change report, at `path`, is complete.
    void reportWritten(QString path);
};

} // namespace corvane::jobs
