// The run every bulk operation shares: walk the folder, start the server, open each workbook,
// hand the selected sheets to the operation, save, close, quit and report.
#pragma once

#include "operation.h"
#include "runsink.h"
#include "serverfactory.h"

#include <QString>

namespace corvane::automation {

struct RunSettings
{
    QString sourcePath;
    bool onlyFirstSheet = false;
    bool appointedSheet = false;
    QString appointedSheetName; // read only while appointedSheet is set
};

enum class RunEnd
{
    Completed,     // every workbook was taken up; summaries and lists were sent
    ServerMissing, // the server could not be started; nothing was processed
    CutShort       // the operation stopped the run; no summary, no lists
};

// Shown when no server could be started.
QString serverMissingMessage();

RunEnd runOperation(const RunSettings& settings, const ServerFactory& makeServer, Operation& operation,
                    RunSink& sink);

} // namespace corvane::automation
