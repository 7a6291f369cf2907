// Roll mode, "Stop at &Alarm" and the three "Reset" buttons.
#pragma once

#include "app/shell_ops.h"

// Roll menu item of a mode (0..2).
int rollMenuId(int mode);
// Check marks of WM_CREATE besides the port: roll mode, and Stop at Alarm when on.
void checkViewItems(const ShellOps &ops);

// "&10s", "&30s", "&60s": true when the mode changed; the caller then repaints
// the whole window with erasing, which brings the new time labels.
bool chooseRollMode(const ShellOps &ops, int mode);
// "Stop at &Alarm": toggles the switch, its check mark, and saves.
void toggleStopAtAlarm(const ShellOps &ops);
// Reset buttons 10, 11, 12: sends the reset command; the dPdt reset also shows
// 00 at once instead of waiting for the device's next dPdt peak.
void resetPeak(int buttonId);
