// LiveReadings: the device's latest measurement, peaks and link state, shared by reader and GUI thread.
#pragma once

#include <cstdint>

// Every field is read and written whole (sharedLoad / sharedStore) by both
// threads; -1 in a value means that nothing has been received for it.
struct LiveReadings {
    std::int32_t measurement;       // 0..199 kW%
    std::int32_t maxPeak;           // 0..199 kW%
    std::int32_t minPeak;           // 0..199 kW%
    std::int32_t dpdtPeak;          // 0..399 kW%
    std::uint8_t linkAliveTicks;    // 20 ms ticks left before the link counts as lost
    std::int32_t peaksChanged;      // a peak arrived: repaint at the next panel check
    std::int32_t dvdtSeen;          // the device reported dV/dt
    std::uint8_t alarmStopCountdown; // 0 idle; counts up to the trend freeze
};

inline constexpr std::uint8_t LINK_ALIVE_START = 20;
inline constexpr std::uint8_t LINK_ALIVE_RELOAD = 15;

extern LiveReadings liveReadings;

// Back to the start-up state (tests only).
void resetLiveReadings();
