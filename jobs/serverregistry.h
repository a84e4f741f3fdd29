// The server factory of the process. The program's entry points install the one that knows
// the backends; every run calls it on its worker thread.
#pragma once

#include "automation/serverfactory.h"

namespace corvane::jobs {

void installServerFactory(automation::ServerFactory factory);
// Empty until a factory is installed; a run without one reports the missing server.
automation::ServerFactory installedServerFactory();

} // namespace corvane::jobs
