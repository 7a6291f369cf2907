// Painting of the main window's client area: frames, trend, labels and live values.
#pragma once

#include <windows.h>

// Everything WM_PAINT draws between BeginPaint and EndPaint. clipBox is the
// bounding box of the update region: the labels and values are drawn only when
// it reaches outside the trend rectangle, the dV/dt cell only when it reaches
// that cell. Restores every object and attribute it changes.
void paintMainWindow(HDC dc, const RECT &clipBox);
