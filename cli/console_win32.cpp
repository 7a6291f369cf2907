// The console on Windows: Ctrl-C, Ctrl-Break and the console's close set the stop flag; _isatty for the status line.
#include "cli/console.h"

#include <windows.h>

#include <io.h>
#include <stdio.h>

// The handler runs on a thread of its own that the system starts; the log's
// reads wait at most a fraction of a second, then see the flag.
static volatile LONG stopRequested = 0;

static BOOL WINAPI console_onControl(DWORD type)
{
    switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
        InterlockedExchange(&stopRequested, 1);
        // A closing console ends the process once this returns: give the log
        // a moment to flush its file first.
        if (type == CTRL_CLOSE_EVENT)
            Sleep(500);
        return TRUE;
    default:
        return FALSE;
    }
}

void watchConsoleStop()
{
    SetConsoleCtrlHandler(console_onControl, TRUE);
}

bool consoleStopRequested()
{
    return InterlockedCompareExchange(&stopRequested, 0, 0) != 0;
}

bool stderrIsTerminal()
{
    return _isatty(_fileno(stderr)) != 0;
}
