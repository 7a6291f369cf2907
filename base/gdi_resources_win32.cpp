// GdiResources: creation and deletion of the shared drawing objects.
#include "base/gdi_resources_win32.h"

#include "base/panel_layout.h"

GdiResources gdiResources;

static HFONT createPanelFont(int height, int weight)
{
    // One logical font for all four; only the cell height and weight differ.
    LOGFONTA font = {};
    font.lfHeight = height;
    font.lfWeight = weight;
    font.lfCharSet = DEFAULT_CHARSET;
    font.lfPitchAndFamily = VARIABLE_PITCH | FF_DONTCARE;
    return CreateFontIndirectA(&font);
}

void createGdiResources()
{
    gdiResources.labelFont = createPanelFont(20, 400);
    gdiResources.measurementFont = createPanelFont(40, 700);
    gdiResources.valueFont = createPanelFont(25, 700);
    gdiResources.axisFont = createPanelFont(15, 400);
    gdiResources.panelBrush = CreateSolidBrush(PANEL_COLOUR);
    gdiResources.tracePen = CreatePen(PS_SOLID, 1, 0x00FF0000);
    gdiResources.axisPen = CreatePen(PS_SOLID, 1, 0x00000000);
    gdiResources.limitPen = CreatePen(PS_SOLID, 1, 0x000000FF);
    gdiResources.erasePen = CreatePen(PS_SOLID, 1, PANEL_COLOUR);
}

void deleteGdiResources()
{
    HGDIOBJ objects[] = {gdiResources.labelFont, gdiResources.measurementFont, gdiResources.valueFont,
                         gdiResources.axisFont,  gdiResources.panelBrush,      gdiResources.tracePen,
                         gdiResources.axisPen,   gdiResources.limitPen,        gdiResources.erasePen};
    for (HGDIOBJ object : objects) {
        if (object)
            DeleteObject(object);
    }
    gdiResources = GdiResources{};
}
