// k614ctl's commands: each takes its parsed arguments, the system's operations and the two output streams,
// and returns the process's exit code (cli/exit_codes.h).
#pragma once

#include <cstdint>
#include <cstdio>

#include "cli/ctl_args.h"
#include "cli/ctl_ops.h"

struct CtlIo {
    std::FILE *out; // listings, JSON, CSV rows without --csv
    std::FILE *err; // one line per error, the log's status line
};

// The whole answer to an upload request, from the request on.
inline constexpr int ANSWER_WAIT_MS = 3000;
// The device takes one code per 20 ms.
inline constexpr int CODE_SPACING_MS = 20;

int runCtlCommand(const CtlArgs &args, const CtlOps &ops, const CtlIo &io);

int runRead(const CtlArgs &args, const CtlOps &ops, const CtlIo &io);
int runWrite(const CtlArgs &args, const CtlOps &ops, const CtlIo &io);
int runShow(const CtlArgs &args, const CtlIo &io);
int runDiff(const CtlArgs &args, const CtlIo &io);
int runLog(const CtlArgs &args, const CtlOps &ops, const CtlIo &io); // log_command.cpp
// publish_command.cpp (Linux), publish_unavailable.cpp (Windows)
int runPublish(const CtlArgs &args, const CtlOps &ops, const CtlIo &io);

// One line on err saying why the port did not open; the exit code for it.
int openPortError(SerialOpenResult result, const char *port, const CtlIo &io);
