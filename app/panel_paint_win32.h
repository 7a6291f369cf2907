// Painting of the main window's client area: frames, trend, labels and live values.
#pragma once

#include <windows.h>

// Everything WM_PAINT draws between BeginPaint and EndPaint. clipBox is the
// bounding box of the update region; the dV/dt cell is drawn only when the box
// reaches it. Restores every object and attribute it changes.
void paintMainWindow(HDC dc, const RECT &clipBox);
