// The work of the three main-window timers (20, 300 and 1000 ms), apart from the window calls.
#pragma once

#include "base/settings.h"

// Timer ids equal their periods in milliseconds.
inline constexpr unsigned TIMER_TICK = 20;
inline constexpr unsigned TIMER_PANEL = 300;
inline constexpr unsigned TIMER_POLL = 1000;

// Ticks from the first alarm code to the trend freeze, by roll mode: 40 trend
// columns in every mode (40 x samplesPerColumn).
inline constexpr unsigned alarmStopTicks[ROLL_MODE_COUNT] = {40, 120, 240};

// How long the transfer check waits for the device's whole answer.
inline constexpr unsigned TRANSFER_CHECK_WAIT_MS = 2000;

enum class TransferCheck { None, Confirmed, Timeout, Mismatch };

struct TickOutcome {
    TransferCheck transfer;   // Timeout and Mismatch each want their message box
    bool readingsVoided;      // the whole client area must repaint
};

// TIMER_TICK up to (not including) the invalidation of the trend rectangle,
// which the caller does on every tick: alarm stop, then one of pacing, transfer
// check, link watchdog, void readings. The transfer check blocks up to 2 s.
TickOutcome runTickStep();

// TIMER_PANEL: true when the whole client area must repaint: the measurement,
// a peak, dV/dt or the unit text changed.
bool runPanelCheck();

// TIMER_POLL: asks for the parameters and unit text while the link is alive and
// no unit text is known; true when the request went out.
bool runPollStep();
