// What every k614ctl command shares: its two output streams, the device's answer times, and the port error's line.
#pragma once

#include <cstdio>

#include "link/serial_line.h"

struct CtlIo {
    std::FILE *out; // listings, JSON, CSV rows without --csv
    std::FILE *err; // one line per error, the log's status line
};

// The whole answer to an upload request, from the request on.
inline constexpr int ANSWER_WAIT_MS = 3000;
// The device takes one code per 20 ms.
inline constexpr int CODE_SPACING_MS = 20;

// One line on err saying why the port did not open; the exit code for it.
int openPortError(SerialOpenResult result, const char *port, const CtlIo &io);
