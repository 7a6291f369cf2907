// Trend plot: GDI drawing of the axes, the history and the one-pixel scroll per sample.
#include "trend/trend_plot_win32.h"

#include "base/gdi_resources_win32.h"
#include "base/panel_layout.h"
#include "base/settings.h"
#include "trend/trend_geometry.h"
#include "trend/trend_history.h"

static constexpr COLORREF LIMIT_MARKER_COLOUR = 0x000000FF;
static constexpr COLORREF END_MARKER_COLOUR = 0x00FF0000;

static void line(HDC dc, int x0, int y0, int x1, int y1)
{
    MoveToEx(dc, x0, y0, nullptr);
    LineTo(dc, x1, y1);
}

static void text(HDC dc, int x, int y, const char *s)
{
    TextOutA(dc, x, y, s, lstrlenA(s));
}

void drawTrendAxes(HDC dc)
{
    HGDIOBJ oldPen = SelectObject(dc, gdiResources.axisPen);

    // x axis with its arrowhead at the right end
    line(dc, PLOT_LEFT, PLOT_BASELINE_Y, 878, 295);
    LineTo(dc, 873, 290);
    line(dc, 878, 295, 873, 300);
    // y axis with its arrowhead at the top
    line(dc, Y_AXIS_X, 300, Y_AXIS_X, 85);
    LineTo(dc, 873, 90);
    line(dc, Y_AXIS_X, 85, 863, 90);

    for (const ScaleTick &tick : SCALE_TICKS)
        line(dc, Y_AXIS_X, tick.y, 871, tick.y);
    for (int x : TIME_TICK_X)
        line(dc, x, PLOT_BASELINE_Y, x, 298);

    const TrendLimitLines limits = trendLimitLines();
    if (limits.count > 0) {
        SelectObject(dc, gdiResources.limitPen);
        for (int i = 0; i < limits.count; ++i)
            line(dc, PLOT_LEFT, limits.y[i], Y_AXIS_X, limits.y[i]);
    }

    HGDIOBJ oldFont = SelectObject(dc, gdiResources.axisFont);
    const UINT oldAlign = SetTextAlign(dc, TA_BOTTOM | TA_LEFT);
    const COLORREF oldBk = SetBkColor(dc, PANEL_COLOUR);
    text(dc, 873, 85, "P[kW%]");
    for (const ScaleTick &tick : SCALE_TICKS)
        text(dc, SCALE_LABEL_X, tick.labelY, tick.label);
    SetTextAlign(dc, TA_TOP | TA_LEFT);
    text(dc, Y_AXIS_X, 300, "t[s]");
    SetTextAlign(dc, TA_TOP | TA_CENTER);
    const int mode = currentRollMode();
    for (int row = 0; row < TIME_TICK_COUNT; ++row)
        text(dc, TIME_TICK_X[row], TIME_LABEL_Y, timeAxisLabels[row][mode]);

    SetBkColor(dc, oldBk);
    SetTextAlign(dc, oldAlign);
    SelectObject(dc, oldPen);
    SelectObject(dc, oldFont);
}

void redrawTrend(HDC dc)
{
    const TrendHistory &t = trendHistory;
    if (t.firstSamplePending)
        return;
    HGDIOBJ oldPen = SelectObject(dc, gdiResources.tracePen);
    int i = t.drawnWritePos; // oldest
    MoveToEx(dc, PLOT_LEFT, trendY(t.drawnHeights[i]), nullptr);
    for (int x = PLOT_LEFT + 1; x < PLOT_LEFT + TREND_LENGTH; ++x) {
        i = i + 1 == TREND_LENGTH ? 0 : i + 1;
        LineTo(dc, x, trendY(t.drawnHeights[i]));
    }
    const int newest = t.drawnWritePos == 0 ? TREND_LENGTH - 1 : t.drawnWritePos - 1;
    SetPixel(dc, PLOT_NEWEST_X - 1, trendY(t.drawnHeights[newest]), END_MARKER_COLOUR);
    SelectObject(dc, oldPen);
}

void advanceTrend(HDC dc)
{
    // The cursor column is prepared once and copied into every new column: it
    // starts as background with a red pixel at each shown limit, so the limit
    // lines grow in from the right and follow setpoint changes.
    HGDIOBJ oldPen = SelectObject(dc, gdiResources.erasePen);
    line(dc, CURSOR_X, PLOT_TOP_Y, CURSOR_X, PLOT_BASELINE_Y);
    const TrendLimitLines limits = trendLimitLines();
    for (int i = 0; i < limits.count; ++i)
        SetPixel(dc, CURSOR_X, limits.y[i], LIMIT_MARKER_COLOUR);

    SelectObject(dc, gdiResources.tracePen);
    while (trendSamplePending()) {
        BitBlt(dc, PLOT_LEFT, PLOT_TOP_Y, SCROLL_WIDTH, SCROLL_HEIGHT, dc, SCROLL_SRC_X, PLOT_TOP_Y, SRCCOPY);
        MoveToEx(dc, PLOT_NEWEST_X - 1, trendY(trendHistory.lastDrawnHeight), nullptr);
        const TrendStep step = consumeTrendSample();
        if (step.drawSegment)
            LineTo(dc, PLOT_NEWEST_X, trendY(step.height));
    }
    SelectObject(dc, oldPen);
}
