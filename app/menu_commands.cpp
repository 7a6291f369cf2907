// Menu commands that change the view: roll mode, stop at alarm, peak resets.
#include "app/menu_commands.h"

#include "app/resource.h"
#include "base/live_readings.h"
#include "base/settings.h"
#include "link/device_code.h"
#include "link/shared_field.h"
#include "link/transmit.h"
#include "trend/trend_history.h"

int rollMenuId(int mode)
{
    return IDM_ROLL_10S + mode;
}

void checkViewItems(const ShellOps &ops)
{
    ops.setMenuCheck(rollMenuId(currentRollMode()), true);
    if (stopAtAlarmOn())
        ops.setMenuCheck(IDM_STOP_AT_ALARM, true);
}

bool chooseRollMode(const ShellOps &ops, int mode)
{
    const int current = currentRollMode();
    if (mode == current)
        return false;
    ops.setMenuCheck(rollMenuId(current), false);
    ops.setMenuCheck(rollMenuId(mode), true);
    sharedStore(monitorSettings.rollMode, mode);
    ops.saveSettings();
    // The samples still waiting were collected under the old mode's pace.
    resyncTrend();
    return true;
}

void toggleStopAtAlarm(const ShellOps &ops)
{
    const unsigned on = sharedLoad(monitorSettings.stopAtAlarm) ^ 1u;
    sharedStore(monitorSettings.stopAtAlarm, on);
    ops.setMenuCheck(IDM_STOP_AT_ALARM, (on & 1u) != 0);
    ops.saveSettings();
}

void resetPeak(int buttonId)
{
    switch (buttonId) {
    case ID_RESET_MAX_PEAK:
        sendCode(CMD_RESET_MAX_PEAK);
        break;
    case ID_RESET_MIN_PEAK:
        sendCode(CMD_RESET_MIN_PEAK);
        break;
    case ID_RESET_DPDT_PEAK:
        sendCode(CMD_RESET_DPDT_PEAK);
        sharedStore(liveReadings.dpdtPeak, 0);
        sharedStore(liveReadings.peaksChanged, 1);
        break;
    default:
        break;
    }
}
