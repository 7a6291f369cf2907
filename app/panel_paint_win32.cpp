// Main window paint: frame refresh, full redraw, trend step, labels and values.
#include "app/panel_paint_win32.h"

#include "app/panel_text.h"
#include "app/ui_state.h"
#include "base/gdi_resources_win32.h"
#include "base/panel_layout.h"
#include "trend/trend_plot_win32.h"

static void frame(HDC dc, const PanelRect &r)
{
    Rectangle(dc, r.left, r.top, r.right, r.bottom);
}

static void text(HDC dc, PanelPoint at, const char *s)
{
    TextOutA(dc, at.x, at.y, s, lstrlenA(s));
}

// The dV/dt cell (right/bottom aligned). The blanks that follow the indicator
// are narrower than "dV/dt" in many proportional faces, so the whole cell of
// the wider text is filled with the background as the text goes out.
static void dvdtIndicator(HDC dc, const char *s)
{
    SIZE shown = {};
    SIZE widest = {};
    GetTextExtentPoint32A(dc, s, lstrlenA(s), &shown);
    GetTextExtentPoint32A(dc, DVDT_TEXT, lstrlenA(DVDT_TEXT), &widest);
    const LONG width = shown.cx > widest.cx ? shown.cx : widest.cx;
    const LONG height = shown.cy > widest.cy ? shown.cy : widest.cy;
    const PanelPoint at = DVDT_INDICATOR_AT;
    const RECT cell = {at.x - width, at.y - height, at.x, at.y};
    ExtTextOutA(dc, at.x, at.y, ETO_OPAQUE, &cell, s, static_cast<UINT>(lstrlenA(s)), nullptr);
}

// Every label and value lies outside the trend rectangle: left of it, or above
// it for the Unit line. A paint whose update box lies inside the rectangle (the
// trend step every 20 ms) can show none of their pixels, so it leaves them out.
// Under wine each font selected into a window context costs the X11 driver a
// look-up of the X resources (a read of ~/.Xdefaults when the server holds
// none), so on that path this is most of what the paint would add to the trend.
static bool reachesPanelTexts(const RECT &clipBox)
{
    const PanelRect &trend = TREND_FRAME;
    return clipBox.left < trend.left || clipBox.top < trend.top || clipBox.right > trend.right ||
           clipBox.bottom > trend.bottom;
}

static void panelTexts(HDC dc, const RECT &clipBox)
{
    PanelTexts texts;
    readPanelTexts(&texts);

    HGDIOBJ oldFont = SelectObject(dc, gdiResources.labelFont);
    const UINT oldAlign = SetTextAlign(dc, TA_RIGHT | TA_BOTTOM);
    const COLORREF oldBk = SetBkColor(dc, PANEL_COLOUR);
    for (const PanelLabel &label : PANEL_LABELS)
        text(dc, label.at, label.text);
    if (const char *dvdt = takeDvdtIndicator(clipBox.left))
        dvdtIndicator(dc, dvdt);

    SetTextAlign(dc, TA_LEFT | TA_BOTTOM);
    SelectObject(dc, gdiResources.valueFont);
    text(dc, UNIT_LINE_AT, texts.unitLine);

    SetTextAlign(dc, TA_RIGHT | TA_BOTTOM);
    SelectObject(dc, gdiResources.measurementFont);
    text(dc, MEASUREMENT_AT, texts.measurement);

    SelectObject(dc, gdiResources.valueFont);
    text(dc, DPDT_PEAK_AT, texts.dpdtPeak);
    text(dc, MAX_PEAK_AT, texts.maxPeak);
    text(dc, MIN_PEAK_AT, texts.minPeak);

    SetTextAlign(dc, oldAlign);
    SetBkColor(dc, oldBk);
    SelectObject(dc, oldFont);
}

void paintMainWindow(HDC dc, const RECT &clipBox)
{
    // Filled with the brush and outlined with the context's default black pen.
    if (uiState.frameRedrawRequested) {
        HGDIOBJ oldBrush = SelectObject(dc, gdiResources.panelBrush);
        frame(dc, VALUE_FRAME);
        frame(dc, HEADER_FRAME);
        SelectObject(dc, oldBrush);
        uiState.frameRedrawRequested = 0;
    }
    if (uiState.fullRedrawRequested) {
        HGDIOBJ oldBrush = SelectObject(dc, gdiResources.panelBrush);
        frame(dc, VALUE_FRAME);
        frame(dc, TREND_FRAME);
        frame(dc, HEADER_FRAME);
        SelectObject(dc, oldBrush);
        uiState.fullRedrawRequested = 0;
        drawTrendAxes(dc);
        redrawTrend(dc);
    }
    if (uiState.trendFrozen)
        redrawTrend(dc);
    else
        advanceTrend(dc);
    if (reachesPanelTexts(clipBox))
        panelTexts(dc, clipBox);
}
