// WM_TIMER of the main window: the three timers' window calls around their steps.
#include "app/main_window_win32.h"

#include "app/timer_steps.h"
#include "app/shell_messages.h"

static void onTick()
{
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
        runPollStep();
        break;
    default:
        break;
    }
}
