// TrendHistory: samples waiting to be drawn and the heights drawn in the plot, plus the roll-mode table.
#pragma once

#include <atomic>
#include <cstdint>

#include "base/settings.h"

inline constexpr int TREND_LENGTH = 500;

struct TrendHistory {
    std::int32_t samples[TREND_LENGTH];      // heights appended by the reader thread
    std::atomic<std::uint16_t> sampleWritePos; // published with release, read with acquire
    std::uint16_t drawPos;                   // oldest sample not yet drawn (GUI thread)
    std::int32_t drawnHeights[TREND_LENGTH]; // heights in the plot, oldest at drawnWritePos
    std::uint16_t drawnWritePos;
    std::int32_t lastDrawnHeight;
    bool firstSamplePending;                 // no sample drawn since start
};

extern TrendHistory trendHistory;

// Measurements per trend column, by roll mode (10, 30, 60 s over 500 columns).
inline constexpr int samplesPerColumn[ROLL_MODE_COUNT] = {1, 3, 6};

// Reader thread: stores twice the measurement as the next sample.
void appendSample(std::int32_t measurement);

// GUI thread, after a roll-mode change: the samples collected under the old
// mode are never drawn (unless nothing has been drawn yet).
void resyncTrend();

bool trendSamplePending();

// One consumed sample: its height and whether a segment joins it to the previous one.
struct TrendStep {
    std::int32_t height;
    bool drawSegment;
};
// Consumes the oldest pending sample into drawnHeights; call only while one is pending.
TrendStep consumeTrendSample();

// Back to the start-up state (tests only).
void resetTrendHistory();
