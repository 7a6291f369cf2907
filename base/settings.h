// MonitorSettings: the program's own three settings, whose 280-byte image is the file "K614Mon.cnf".
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr std::size_t SETTINGS_FILE_SIZE = 280;
inline constexpr char SETTINGS_FILE_NAME[] = "K614Mon.cnf";
inline constexpr std::uint16_t PORT_FAILED_MARK = 10;
inline constexpr int ROLL_MODE_COUNT = 3;

struct MonitorSettings {
    std::uint16_t comPort;  // 1..8; 11..18 while the port chosen last could not be opened
    std::uint8_t reserved1[258];
    std::uint16_t rollMode;    // 0 = 10 s, 1 = 30 s, 2 = 60 s
    std::uint16_t stopAtAlarm; // 0 off, 1 on
    std::uint8_t reserved2[16];
};

static_assert(sizeof(MonitorSettings) == SETTINGS_FILE_SIZE);
static_assert(offsetof(MonitorSettings, rollMode) == 260);
static_assert(offsetof(MonitorSettings, stopAtAlarm) == 262);

extern MonitorSettings monitorSettings;

// comPort 1, rollMode 1 (30 s), stopAtAlarm 0, reserved bytes 0.
void setSettingsDefaults();

// Which fields sanitizeSettings put back to their defaults.
enum : unsigned { SETTINGS_FIXED_COM_PORT = 1, SETTINGS_FIXED_ROLL_MODE = 2, SETTINGS_FIXED_STOP_AT_ALARM = 4 };

// A settings file is raw bytes from disk: values the program could not have
// written (a port outside 1..8 and 11..18, a roll mode outside 0..2, a
// stop-at-alarm switch other than 0 or 1) fall back to their defaults, so that
// no table is ever indexed out of range. Reserved bytes are left alone.
unsigned sanitizeSettings(MonitorSettings *s);

// The roll mode as a table index, 0..2 whatever the record holds
// (read on the reader thread too).
int currentRollMode();
bool stopAtAlarmOn();
