// The operations k614ctl's commands need from the system: the serial line, the clocks, Ctrl-C, the terminal, the output file.
//
// The commands decide everything else themselves, so a scripted fake of this
// table drives them in tests without a port or a real clock.
#pragma once

#include <cstdint>

#include "fileio/replacing_file.h"
#include "link/serial_line.h"

struct CtlOps {
    void *context;
    SerialOpenResult (*openLine)(void *context, const char *port);
    // As readSerialLine: 1..size bytes, 0 after timeoutMs (or a signal), SERIAL_READ_FAILED.
    int (*readLine)(void *context, std::uint8_t *buffer, int size, int timeoutMs);
    bool (*writeLine)(void *context, const std::uint8_t *bytes, int count);
    void (*closeLine)(void *context);
    std::int64_t (*monotonicMs)(void *context); // for waits and rates
    std::int64_t (*utcMs)(void *context);       // milliseconds since 1970-01-01T00:00:00Z
    void (*pauseMs)(void *context, int ms);
    // From this call on, Ctrl-C (and SIGTERM, or the console's close) sets a
    // flag instead of ending the process.
    void (*watchStopRequests)(void *context);
    bool (*stopRequested)(void *context);
    bool (*errIsTerminal)(void *context); // a live status line makes sense on stderr
    // The output file of `read -o`, replacing its target only once whole
    // (fileio/replacing_file.h); it has a context of its own.
    FileReplaceOps outputFile;
};

// The real system: k614serial, the system clocks and the process's console.
const CtlOps *systemCtlOps();

// The line open for one command; closed on every way out of it.
class ScopedLine {
public:
    ScopedLine(const CtlOps &ops, const char *port) : ops_(ops), result_(ops.openLine(ops.context, port)) {}
    ~ScopedLine()
    {
        if (result_ == SerialOpenResult::ok)
            ops_.closeLine(ops_.context);
    }
    ScopedLine(const ScopedLine &) = delete;
    ScopedLine &operator=(const ScopedLine &) = delete;
    SerialOpenResult result() const { return result_; }

private:
    const CtlOps &ops_;
    SerialOpenResult result_;
};
