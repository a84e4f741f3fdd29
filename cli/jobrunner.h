// Runs one job for the command line: fills the common options, makes the launch's checks,
// then runs the worker's slot on this thread and prints what the window would show.
#pragma once

#include "commandline.h"

#include "jobs/joboptions.h"
#include "jobs/threadobject.h"

#include <functional>

class QTextStream;

namespace corvane::cli {

using WorkerSlot = void (jobs::ThreadObject::*)();

// A launch's own refusals, as the window makes them: each returns the message to print, or ""
// to go on. `beforeLists` runs before the old result lists are deleted, `afterFolder` after
// the folder test.
struct LaunchChecks
{
    std::function<QString(const jobs::JobOptions&)> beforeLists;
    std::function<QString(const jobs::JobOptions&)> afterFolder;
    // Runs after every check passed, just before the job (the picture's transparent copy).
    std::function<void(jobs::JobOptions&)> beforeRun;
};

// `fill` writes the command's own fields. Returns the exit status.
int runJob(const ParsedOptions& options, QTextStream& out, QTextStream& err,
           const std::function<void(jobs::JobOptions&)>& fill, WorkerSlot slot,
           const LaunchChecks& checks = {});

} // namespace corvane::cli
