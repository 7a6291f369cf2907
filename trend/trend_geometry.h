// Trend plot geometry: plot columns, scale, tick positions, time-axis labels and limit-line heights.
#pragma once

#include <cstdint>

#include "base/settings.h"

// Client pixels of the main window.
inline constexpr int PLOT_LEFT = 365;       // oldest column
inline constexpr int PLOT_NEWEST_X = 866;   // newest column
inline constexpr int CURSOR_X = 867;        // column prepared for each new sample
inline constexpr int PLOT_BASELINE_Y = 295; // 0 kW%
inline constexpr int PLOT_TOP_Y = 95;       // 100 kW%
inline constexpr int Y_AXIS_X = 868;

// The block moved one pixel left per sample: x 366..867, y 95..295.
inline constexpr int SCROLL_SRC_X = 366;
inline constexpr int SCROLL_WIDTH = 502;
inline constexpr int SCROLL_HEIGHT = 201;

// Scale ticks at 25, 50, 75 and 100 kW%, with their labels (bottom-left).
struct ScaleTick {
    int y;
    const char *label;
    int labelY;
};
inline constexpr ScaleTick SCALE_TICKS[4] = {
    {245, "25", 252}, {195, "50", 202}, {145, "75", 152}, {95, "100", 102}};
inline constexpr int SCALE_LABEL_X = 876;

// Time ticks, right to left, and their labels per roll mode (one row per tick,
// one column per rollMode; each text fits a 6-byte field).
inline constexpr int TIME_TICK_COUNT = 3;
inline constexpr int TIME_LABEL_SIZE = 6;
inline constexpr int TIME_TICK_X[TIME_TICK_COUNT] = {702, 535, 365};
inline constexpr int TIME_LABEL_Y = 303;
inline constexpr char timeAxisLabels[TIME_TICK_COUNT][ROLL_MODE_COUNT][TIME_LABEL_SIZE] = {
    {"-3.3", "-10", "-20"},
    {"-6.6", "-20", "-40"},
    {"-10", "-30", "-60"},
};

// y of a drawn height (2 pixels per kW%); never clamped.
inline constexpr int trendY(std::int32_t height)
{
    return PLOT_BASELINE_Y - height;
}

// Limits are drawn only once the device has reported its unit text, and each
// only while its mode is not Off.
struct TrendLimitLines {
    int count;
    int y[2]; // Limit 1 first when both are shown
};
TrendLimitLines trendLimitLines();
