// k614ctl log: one CSV row per measurement until Ctrl-C, --duration or a lost line.
#pragma once

#include "cli/ctl_args.h"
#include "cli/ctl_io.h"
#include "cli/ctl_ops.h"

int runLog(const CtlArgs &args, const CtlOps &ops, const CtlIo &io);
