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

// `fill` writes the command's own fields. Returns the exit status.
int runJob(const ParsedOptions& options, QTextStream& out, QTextStream& err,
           const std::function<void(jobs::JobOptions&)>& fill, WorkerSlot slot);

} // namespace corvane::cli
