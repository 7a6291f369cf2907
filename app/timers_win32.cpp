// WM_TIMER of the main window: the three timers' window calls around their steps.
#include "app/main_window_win32.h"

#include "app/port_commands.h"
#include "app/timer_steps.h"
#include "base/shell_messages.h"
#include "link/port_win32.h"

static void onTick()
{
    // The reader gives up on a line that fails every read (a pulled cable) and
    // then only waits to be stopped; the connection is the GUI thread's to close.
    closeFailedLine(windowShellOps(), portReadFailed());
    const TickOutcome outcome = runTickStep();
    if (outcome.transfer == TransferCheck::Timeout)
        MessageBoxA(mainWindow, MSG_CONFIRM_TIMEOUT, captionText, MB_OK | MB_ICONERROR);
    else if (outcome.transfer == TransferCheck::Mismatch)
        MessageBoxA(mainWindow, MSG_NOT_TRANSFERRED, captionText, MB_OK | MB_ICONERROR);
    if (outcome.readingsVoided)
        InvalidateRect(mainWindow, nullptr, FALSE);
    // Every tick, whatever ran above: this is what makes the trend advance.
    InvalidateRect(mainWindow, &trendUpdateRect, FALSE);
}

void handleTimer(WPARAM id)
{
    switch (id) {
    case TIMER_TICK:
        onTick();
        break;
    case TIMER_PANEL:
        if (runPanelCheck())
            InvalidateRect(mainWindow, nullptr, FALSE);
        break;
    case TIMER_POLL:
        // Before the poll: a port reopened here has no live link yet, and its
        // posted command asks the device anyway.
        reopenFailedLine(windowShellOps());
        runPollStep();
        break;
    default:
        break;
    }
}
