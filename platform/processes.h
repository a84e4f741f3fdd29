// Process list services: finding and ending processes by their executable's file name.
#pragma once

#include <QString>

namespace corvane::platform {

// Counts running processes whose executable file name equals `name` exactly (byte for byte,
// case-sensitive). Processes that have already exited but are not yet reaped do not count.
// An empty name, or a process list that cannot be read, counts 0.
int CountProcessesByName(const QString& name);

// Asks the first such process (lowest process id) to end: SIGTERM here, TerminateProcess on
// Windows. True when a process of that name was found, even if the request was refused;
// false when none was found, the name is empty or the list cannot be read.
bool TerminateProcessByName(const QString& name);

} // namespace corvane::platform
