// Where a run reports to: the window through the worker's signals, or the command line.
#pragma once

#include "automation/changerecord.h"

#include <QString>

namespace corvane::automation {

enum class ResultList
{
    OpenFailed,
    Matched,
    Unmatched
};

class RunSink
{
public:
    virtual ~RunSink() = default;

    // A status line: progress, notes, the missing-server message, summaries.
    virtual void status(const QString& text) = 0;
    // The run has finished its files; the front end may start another job.
    virtual void runEnded() = 0;
    // Workbooks done out of the workbooks the walk found.
    virtual void progress(int done, int total) = 0;
    // A workbook that could not be opened or saved, with the server's reason.
    virtual void workbookFailed(const QString& path, const QString& reason) = 0;
    // The server could not be started.
    virtual void serverFailed(const QString& reason) = 0;
    // Writes a non-empty result list (entries end in "\n") and shows it to the user.
    virtual void writeList(ResultList list, const QString& text) = 0;
    // One change the run made to the workbook in hand (or, in a preview, would have made),
    // sent as it is made.
    virtual void change(const ChangeRecord& record) { (void)record; }
    // How a workbook came out, once per workbook the walk found, after its changes.
    virtual void workbookOutcome(const WorkbookRecord& record) { (void)record; }
};

} // namespace corvane::automation
