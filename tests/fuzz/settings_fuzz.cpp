// libFuzzer target: any K614Mon.cnf content as read at start-up, then every use of its values as a table index.
//
// As readSettingsFile: the bytes that arrive (at most 280) replace the start
// of the default record, and the record is sanitised. The accessors are
// called on the raw record too, since they promise a valid index whatever it
// holds. One byte after the 280 (when there is one) picks the harness's
// choices: whether the port opens, a port and a roll mode the user picks.
#include <cstdint>
#include <cstring>

#include "app/menu_commands.h"
#include "app/port_commands.h"
#include "app/resource.h"
#include "app/timer_steps.h"
#include "app/ui_state.h"
#include "fuzz_input.h"
#include "trend/trend_geometry.h"
#include "tests/native/test_state.h"

namespace {

bool portOpens;
int lastOpened;

int openPort(int port)
{
    check(port >= 1 && port <= PORT_COUNT);
    lastOpened = port;
    return portOpens ? 1 : 0;
}

void setMenuCheck(int id, bool)
{
    const bool comItem = id >= IDM_COM1 && id < IDM_COM1 + PORT_COUNT;
    const bool rollItem = id >= IDM_ROLL_10S && id <= IDM_ROLL_60S;
    check(comItem || rollItem || id == IDM_STOP_AT_ALARM);
}

void closePort() {}
bool replyCheck(unsigned) { return false; }
void showWarning(const char *) {}
void saveSettings() {}
void postPortOpened() {}
void setBusyCursor(bool) {}

ShellOps shellOps()
{
    ShellOps ops{};
    ops.openPort = openPort;
    ops.closePort = closePort;
    ops.replyCheck = replyCheck;
    ops.setMenuCheck = setMenuCheck;
    ops.showWarning = showWarning;
    ops.saveSettings = saveSettings;
    ops.postPortOpened = postPortOpened;
    ops.setBusyCursor = setBusyCursor;
    return ops;
}

bool validPort(unsigned p)
{
    return (p >= 1 && p <= PORT_COUNT) || (p > PORT_FAILED_MARK && p <= PORT_FAILED_MARK + PORT_COUNT);
}

// Every table indexed by the roll mode, at the index the accessor gives.
void useRollTables()
{
    const int mode = currentRollMode();
    check(mode >= 0 && mode < ROLL_MODE_COUNT);
    check(alarmStopTicks[mode] == 40u * static_cast<unsigned>(samplesPerColumn[mode]));
    for (const auto &labels : timeAxisLabels)
        check(std::memchr(labels[mode], 0, sizeof labels[mode]) != nullptr);
    const int id = rollMenuId(mode);
    check(id >= IDM_ROLL_10S && id <= IDM_ROLL_60S);
}

void usePortHelpers()
{
    const int port = unmarkedComPort();
    check(port >= 1 && port <= PORT_COUNT);
    check(portFailedMarkSet() == (monitorSettings.comPort > PORT_FAILED_MARK));
    check(comMenuId(port) == IDM_COM1 + port - 1);
}

// The reader's and the tick's uses: a trend sample per samplesPerColumn
// measurements, and the freeze alarmStopTicks ticks after an alarm.
void runReaderAndTicks()
{
    const int mode = currentRollMode();
    resetReceiveState();
    resetTrendHistory();
    resetLiveReadings();
    resetUiState();
    for (int i = 0; i < samplesPerColumn[mode]; ++i) {
        check(trendHistory.sampleWritePos.load() == 0);
        dispatchCode(50);
    }
    check(trendHistory.sampleWritePos.load() == 1);

    dispatchCode(ALARM_LOW_FIRST);
    check(liveReadings.alarmStopCountdown == (stopAtAlarmOn() ? 1 : 0));
    const unsigned ticks = alarmStopTicks[mode];
    for (unsigned t = 1; t < ticks; ++t) {
        check(uiState.trendFrozen == 0);
        liveReadings.linkAliveTicks = LINK_ALIVE_START; // a device that keeps talking
        runTickStep();
    }
    check(uiState.trendFrozen == (stopAtAlarmOn() ? 1 : 0));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    resetCoreState();
    resetUiState();
    const std::size_t arrived = size < SETTINGS_FILE_SIZE ? size : SETTINGS_FILE_SIZE;
    std::memcpy(&monitorSettings, data, arrived);
    const MonitorSettings raw = monitorSettings;
    const std::uint8_t choice = size > SETTINGS_FILE_SIZE ? data[SETTINGS_FILE_SIZE] : 0;

    // Before sanitising (a record changed behind the program's back).
    useRollTables();
    check(stopAtAlarmOn() == (raw.stopAtAlarm != 0));

    // Each invalid value, and only that, falls back to its default.
    const bool portOk = validPort(raw.comPort);
    const bool rollOk = raw.rollMode < ROLL_MODE_COUNT;
    const bool stopOk = raw.stopAtAlarm <= 1;
    const unsigned fixed = sanitizeSettings(&monitorSettings);
    check(fixed == ((portOk ? 0 : SETTINGS_FIXED_COM_PORT) | (rollOk ? 0 : SETTINGS_FIXED_ROLL_MODE) |
                    (stopOk ? 0 : SETTINGS_FIXED_STOP_AT_ALARM)));
    check(monitorSettings.comPort == (portOk ? raw.comPort : 1));
    check(monitorSettings.rollMode == (rollOk ? raw.rollMode : 1));
    check(monitorSettings.stopAtAlarm == (stopOk ? raw.stopAtAlarm : 0));
    check(std::memcmp(monitorSettings.reserved1, raw.reserved1, sizeof raw.reserved1) == 0);
    check(std::memcmp(monitorSettings.reserved2, raw.reserved2, sizeof raw.reserved2) == 0);
    MonitorSettings again = monitorSettings;
    check(sanitizeSettings(&again) == 0);

    check(currentRollMode() == monitorSettings.rollMode);
    check(stopAtAlarmOn() == (monitorSettings.stopAtAlarm == 1));
    useRollTables();
    usePortHelpers();

    // Start-up: the stored port is opened (never as COM11..COM18) and checked.
    const ShellOps ops = shellOps();
    portOpens = (choice & 1) != 0;
    const int stored = unmarkedComPort();
    lastOpened = 0;
    openStartupPort(ops);
    check(lastOpened == stored);
    check(monitorSettings.comPort == stored + (portOpens ? 0 : PORT_FAILED_MARK));
    checkViewItems(ops);
    usePortHelpers();

    // The user picks a port and a roll mode.
    portOpens = (choice & 2) != 0;
    choosePort(ops, 1 + (choice >> 2) % PORT_COUNT);
    check(validPort(monitorSettings.comPort));
    usePortHelpers();
    chooseRollMode(ops, (choice >> 5) % ROLL_MODE_COUNT);
    useRollTables();

    runReaderAndTicks();
    return 0;
}
