// Trend plot drawing on a device context: axes and labels, the whole history, the scrolling step.
#pragma once

#include <windows.h>

// Axes with arrowheads, ticks, full-width limit lines and labels. Does not erase.
void drawTrendAxes(HDC dc);
// The whole drawn history as one line, oldest at the left, with the blue end
// marker. Nothing before the first sample has been drawn.
void redrawTrend(HDC dc);
// Prepares the cursor column, then scrolls one pixel per pending sample and
// draws its segment.
void advanceTrend(HDC dc);
