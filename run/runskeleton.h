// The run every bulk operation shares: walk the folder, start the server, open each workbook,
// hand the selected sheets to the operation, save, close, quit and report.
#pragma once

#include "run/operation.h"
#include "run/runcontrol.h"
#include "run/runsink.h"
#include "automation/serverfactory.h"

#include <QString>

namespace corvane::automation {

struct RunSettings
{
    QString sourcePath;
    bool onlyFirstSheet = false;
    bool appointedSheet = false;
    QString appointedSheetName; // read only while appointedSheet is set
    // A preview: the same work through the same server calls, but no workbook is saved, no
    // result list written and nothing in the folder touched; the summaries say so.
    bool dryRun = false;
    // How many workbooks may be open and worked on at once; 0 for as many as the machine has
    // cores. Whatever the number, the run reports as if it took them up one after another in
    // walk order, and what goes to an office is still worked on one at a time.
    int jobs = 1;
};

// The number of workbooks worked on at once for `jobs` as RunSettings takes it.
int effectiveJobs(int jobs);

enum class RunEnd
{
    Completed,     // every workbook was taken up; summaries and lists were sent
    ServerMissing, // the server could not be started; nothing was processed
    CutShort,      // the operation stopped the run; no summary, no lists
    Stopped        // a stop was requested: the workbooks done so far were summed up and listed
};

// Shown when no server could be started.
QString serverMissingMessage();

// Put before each summary of a stopped run: `done` workbooks of `total` were taken up.
QString stoppedNote(int done, int total);
// Put before each summary of a preview.
QString previewNote();

RunEnd runOperation(const RunSettings& settings, const ServerFactory& makeServer, Operation& operation,
                    RunSink& sink, const RunControl& control = {});

} // namespace corvane::automation
