// GdiResources: the fonts, brush and pens shared by the main window's drawing.
#pragma once

#include <windows.h>

struct GdiResources {
    HFONT labelFont;       // 20 / 400: panel labels, dV/dt indicator
    HFONT measurementFont; // 40 / 700: the measurement
    HFONT valueFont;       // 25 / 700: peaks and the Unit line
    HFONT axisFont;        // 15 / 400: trend labels
    HBRUSH panelBrush;     // panelColour: the three frames
    HPEN tracePen;         // blue: trend trace
    HPEN axisPen;          // black: axes and ticks
    HPEN limitPen;         // red: limit lines
    HPEN erasePen;         // panelColour: the trend cursor column
};

extern GdiResources gdiResources;

// Created with the main window, in field order; deleted in the same order.
void createGdiResources();
void deleteGdiResources();
