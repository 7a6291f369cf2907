// The real operations behind k614ctl's commands: k614serial's line, the system clocks, the console, the file.
#include <chrono>
#include <thread>

#include "cli/console.h"
#include "cli/ctl_ops.h"

// The one line a k614ctl process has open at a time.
static SerialLine openLine;

static SerialOpenResult system_open(void *, const char *port)
{
    return openSerialLine(port, &openLine);
}

static int system_read(void *, std::uint8_t *buffer, int size, int timeoutMs)
{
    return readSerialLine(&openLine, buffer, size, timeoutMs);
}

static bool system_write(void *, const std::uint8_t *bytes, int count)
{
    return writeSerialLine(&openLine, bytes, count);
}

static void system_close(void *)
{
    closeSerialLine(&openLine);
}

static std::int64_t system_monotonicMs(void *)
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

static std::int64_t system_utcMs(void *)
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

static void system_pause(void *, int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

static void system_watchStop(void *)
{
    watchConsoleStop();
}

static bool system_stopRequested(void *)
{
    return consoleStopRequested();
}

static bool system_errIsTerminal(void *)
{
    return stderrIsTerminal();
}

// The one output file a k614ctl process writes at a time.
static ReplacingFile outputFile;

static const CtlOps SYSTEM_OPS = {
    nullptr,      system_open,  system_read,      system_write,         system_close,         system_monotonicMs,
    system_utcMs, system_pause, system_watchStop, system_stopRequested, system_errIsTerminal,
    replacingFileOps(&outputFile),
};

const CtlOps *systemCtlOps()
{
    return &SYSTEM_OPS;
}
