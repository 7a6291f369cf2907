// k614ctl's dispatch: the parsed command line to the command it names.
#pragma once

#include "cli/ctl_args.h"
#include "cli/ctl_io.h"
#include "cli/ctl_ops.h"

// Runs args.command with the system's operations and the two output streams; the process's exit code
// (cli/exit_codes.h). No command: the tool's help on err and EXIT_USAGE.
int runCtlCommand(const CtlArgs &args, const CtlOps &ops, const CtlIo &io);
