// The console on POSIX: SIGINT and SIGTERM set the stop flag; isatty for the status line.
#include "cli/console.h"

#include <csignal>
#include <unistd.h>

static volatile std::sig_atomic_t stopSignalled = 0;

static void console_onSignal(int)
{
    stopSignalled = 1;
}

void watchConsoleStop()
{
    // Without SA_RESTART, so that a wait in poll() ends at once; the serial
    // line reads that as a time-out and the log looks at the flag.
    struct sigaction action = {};
    action.sa_handler = console_onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

bool consoleStopRequested()
{
    return stopSignalled != 0;
}

bool stderrIsTerminal()
{
    return isatty(STDERR_FILENO) == 1;
}
