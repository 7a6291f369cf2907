// MonitorSettings: defaults, sanitising of values read from disk, and safe accessors.
#include "base/settings.h"

#include <cstring>

#include "link/shared_field.h"

MonitorSettings monitorSettings;

void setSettingsDefaults()
{
    std::memset(&monitorSettings, 0, sizeof monitorSettings);
    monitorSettings.comPort = 1;
    monitorSettings.rollMode = 1;
    monitorSettings.stopAtAlarm = 0;
}

unsigned sanitizeSettings(MonitorSettings *s)
{
    unsigned fixed = 0;
    const unsigned port = s->comPort;
    const bool plain = port >= 1 && port <= 8;
    const bool marked = port >= 1 + PORT_FAILED_MARK && port <= 8 + PORT_FAILED_MARK;
    if (!plain && !marked) {
        s->comPort = 1;
        fixed |= SETTINGS_FIXED_COM_PORT;
    }
    if (s->rollMode >= ROLL_MODE_COUNT) {
        s->rollMode = 1;
        fixed |= SETTINGS_FIXED_ROLL_MODE;
    }
    if (s->stopAtAlarm > 1) {
        s->stopAtAlarm = 0;
        fixed |= SETTINGS_FIXED_STOP_AT_ALARM;
    }
    return fixed;
}

int currentRollMode()
{
    const unsigned mode = sharedLoad(monitorSettings.rollMode);
    return mode < ROLL_MODE_COUNT ? static_cast<int>(mode) : 1;
}

bool stopAtAlarmOn()
{
    return sharedLoad(monitorSettings.stopAtAlarm) != 0;
}
