// The printed trend plot's geometry (axes, ticks, labels, limit lines) and its trace heights.
//
// The origin is the plot's lower-left corner, the baseline at the oldest
// column; offsets are logical units, negative dy upward. One unit per column,
// 3 units per kW% (100 kW% is 300 units above the baseline).
#pragma once

#include <cstdint>

#include "params/parameter_set.h"
#include "trend/trend_geometry.h"
#include "trend/trend_history.h"

struct PlotOffset {
    int dx, dy;
};

struct PlotSegment {
    PlotOffset from, to;
};

// An axis: one polyline (the axis, then the first stroke of its arrowhead) and
// the arrowhead's second stroke.
struct PrintedAxis {
    PlotOffset polyline[3];
    PlotSegment secondStroke;
};
inline constexpr PrintedAxis PRINTED_AXES[2] = {
    {{{0, 0}, {511, 0}, {506, -5}}, {{511, 0}, {506, 5}}},              // x, arrow at the right
    {{{501, 5}, {501, -310}, {506, -305}}, {{501, -310}, {496, -305}}}, // y, arrow at the top
};

inline constexpr int PRINTED_Y_AXIS_DX = 501;
inline constexpr int PRINTED_SCALE_TICK_END_DX = 504;
inline constexpr int PRINTED_SCALE_TICK_DY[4] = {-75, -150, -225, -300};
inline constexpr int PRINTED_TIME_TICK_END_DY = 3;
// Right to left: the rows of timeAxisLabels belong to these ticks in this order.
inline constexpr int PRINTED_TIME_TICK_DX[TIME_TICK_COUNT] = {335, 168, 0};
inline constexpr int PRINTED_TIME_LABEL_DY = 8; // top-centre

struct PlotLabel {
    PlotOffset at;
    const char *text;
};
inline constexpr PlotLabel PRINTED_POWER_LABEL = {{501, -315}, "P[kW%]"}; // bottom-centre
inline constexpr PlotLabel PRINTED_SCALE_LABELS[4] = {                    // bottom-left
    {{509, -68}, "25"}, {{509, -143}, "50"}, {{509, -218}, "75"}, {{509, -293}, "100"}};
inline constexpr PlotLabel PRINTED_TIME_LABEL = {{501, 5}, "t[s]"}; // top-left

inline constexpr int PRINTED_UNITS_PER_PERCENT = 3;

// The trace is clipped to the plot's own area: from the baseline up to the tip
// of the y axis's arrow (310 units, about 103 kW%), across the trace's 500
// columns. The device reports up to 199 kW% (597 units), which would otherwise
// run over the header lines or off the page. The area reaches one unit beyond
// the baseline and the first and last columns, so that the pen's width on the
// page keeps every trace of 0..100 kW% whole. `end` is exclusive.
struct PlotArea {
    PlotOffset start, end;
};
inline constexpr PlotArea PRINTED_TRACE_AREA = {{-1, -310}, {TREND_LENGTH + 1, 2}};
inline constexpr int PRINTED_LIMIT_LINE_END_DX = 501;

// Limit lines, each only while its mode is not Off, and none at all while the
// set holds no unit text (its setpoints are then not the device's).
struct PrintedLimitLines {
    int count;
    int dy[2]; // Limit 1 first when both are drawn
};
PrintedLimitLines printedLimitLines(const ParameterSet &p);

// A stored height (2 per kW%) as printed: h / 2 (truncated) + h, 3 units per kW%.
int printedTraceOffset(std::int32_t height);
// The printed offset of the column-th oldest entry of drawnHeights (0..499),
// in ring order from drawnWritePos.
int printedColumnOffset(int column);
