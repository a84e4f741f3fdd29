// The subcommands of corvane-cli. Each operation adds its entry here.
#pragma once

#include "commandline.h"

#include <vector>

namespace corvane::cli {

std::vector<CommandSpec> jobCommands();

// Parses and runs; the exit status of the program.
int runCommandLine(const QStringList& arguments, QTextStream& out, QTextStream& err);

} // namespace corvane::cli
