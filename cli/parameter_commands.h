// k614ctl's parameter commands: read, write with verify, show and diff. Each takes its parsed arguments, the
// system's operations (where it uses the port) and the two output streams, and returns the process's exit code
// (cli/exit_codes.h).
#pragma once

#include "cli/ctl_args.h"
#include "cli/ctl_io.h"
#include "cli/ctl_ops.h"

int runRead(const CtlArgs &args, const CtlOps &ops, const CtlIo &io);
int runWrite(const CtlArgs &args, const CtlOps &ops, const CtlIo &io);
int runShow(const CtlArgs &args, const CtlIo &io);
int runDiff(const CtlArgs &args, const CtlIo &io);
