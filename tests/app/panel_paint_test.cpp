// Main window paint on a memory bitmap: frames, labels and values in place, stale digits, dV/dt, fonts, state restored.
#include "app/panel_paint_win32.h"

#include <gtest/gtest.h>

#include <cstring>

#include "app/menu_commands.h"
#include "app/resource.h"
#include "app/timer_steps.h"
#include "app/ui_state.h"
#include "base/gdi_resources_win32.h"
#include "base/live_readings.h"
#include "base/panel_layout.h"
#include "gdi_test_support.h"
#include "params/parameter_set.h"
#include "tests/native/test_state.h"

namespace {

// The class background outside the frames (COLOR_GRAYTEXT on a classic scheme).
constexpr COLORREF WINDOW_GREY = RGB(128, 128, 128);
constexpr RECT WHOLE_CLIENT = {0, 0, CLIENT_WIDTH, CLIENT_HEIGHT};
constexpr RECT TREND_ONLY = {345, 60, 935, 325};

class PanelPaint : public ::testing::Test {
protected:
    void SetUp() override
    {
        resetCoreState();
        resetUiState();
        createGdiResources();
        bmp = createTestBitmap(WINDOW_GREY);
    }
    void TearDown() override
    {
        destroyTestBitmap(bmp);
        deleteGdiResources();
    }

    void paintAll()
    {
        uiState.fullRedrawRequested = 1;
        paintMainWindow(bmp.dc, WHOLE_CLIENT);
    }

    static DrawnText right(HFONT font, PanelPoint at, const char *text)
    {
        return {font, TA_RIGHT | TA_BOTTOM, at.x, at.y, text};
    }

    TestBitmap bmp;
};

TEST_F(PanelPaint, FullRedrawFillsTheThreeFramesOnTheWindowBackground)
{
    paintAll();
    for (const PanelRect &r : {HEADER_FRAME, VALUE_FRAME, TREND_FRAME}) {
        EXPECT_EQ(pixelAt(bmp, r.left, r.top), BLACK);
        EXPECT_EQ(pixelAt(bmp, r.right - 1, r.bottom - 1), BLACK);
        EXPECT_EQ(pixelAt(bmp, r.left + 2, r.bottom - 2), PANEL_COLOUR);
        EXPECT_EQ(pixelAt(bmp, r.right, r.bottom), WINDOW_GREY);
    }
    EXPECT_EQ(pixelAt(bmp, 340, 200), WINDOW_GREY) << "the gap between panel and trend";
    EXPECT_EQ(pixelAt(bmp, 10, 10), WINDOW_GREY);
    EXPECT_EQ(uiState.fullRedrawRequested, 0);
    EXPECT_EQ(pixelAt(bmp, 868, 200), BLACK) << "the axes come with a full redraw";
}

TEST_F(PanelPaint, BeforeAnyFrameEveryValueIsDashes)
{
    paintAll();
    const GdiResources &g = gdiResources;
    for (const PanelLabel &label : PANEL_LABELS)
        EXPECT_TRUE(showsText(bmp, right(g.labelFont, label.at, label.text))) << label.text;
    EXPECT_TRUE(showsText(bmp, {g.valueFont, TA_LEFT | TA_BOTTOM, 35, 45, "Unit: - - -"}));
    EXPECT_TRUE(showsText(bmp, right(g.measurementFont, MEASUREMENT_AT, "--")));
    EXPECT_TRUE(showsText(bmp, right(g.valueFont, MAX_PEAK_AT, "--")));
    EXPECT_TRUE(showsText(bmp, right(g.valueFont, MIN_PEAK_AT, "--")));
    EXPECT_TRUE(showsText(bmp, right(g.valueFont, DPDT_PEAK_AT, "  --")));
}

TEST_F(PanelPaint, ValuesAndUnitLineInTheirPlaces)
{
    std::strcpy(deviceParameters.unitText, "MW");
    deviceParameters.dpdtMode = 1;
    liveReadings.measurement = 5;
    liveReadings.maxPeak = 7;
    liveReadings.minPeak = 150;
    liveReadings.dpdtPeak = 33;
    paintAll();
    const GdiResources &g = gdiResources;
    EXPECT_TRUE(showsText(bmp, {g.valueFont, TA_LEFT | TA_BOTTOM, 35, 45, "Unit: MW"}));
    EXPECT_TRUE(showsText(bmp, right(g.measurementFont, MEASUREMENT_AT, "05")));
    EXPECT_TRUE(showsText(bmp, right(g.valueFont, MAX_PEAK_AT, "  07")));
    EXPECT_TRUE(showsText(bmp, right(g.valueFont, MIN_PEAK_AT, "  150")));
    EXPECT_TRUE(showsText(bmp, right(g.valueFont, DPDT_PEAK_AT, "33")));
    const RECT twoDigits = textCell(right(g.measurementFont, MEASUREMENT_AT, "05"));
    EXPECT_FALSE(showsText(bmp, right(g.measurementFont, MEASUREMENT_AT, "5"), &twoDigits));
}

TEST_F(PanelPaint, AFrameRedrawLeavesNoStaleDigitWhenTheValueShrinks)
{
    liveReadings.measurement = 150;
    paintAll();
    const RECT oldCell = textCell(right(gdiResources.measurementFont, MEASUREMENT_AT, "150"));
    const DrawnText now = right(gdiResources.measurementFont, MEASUREMENT_AT, "99");

    liveReadings.measurement = 99;
    paintMainWindow(bmp.dc, WHOLE_CLIENT);
    EXPECT_FALSE(showsText(bmp, now, &oldCell)) << "without the frame refresh the 1 stays";

    uiState.frameRedrawRequested = 1;
    paintMainWindow(bmp.dc, WHOLE_CLIENT);
    EXPECT_TRUE(showsText(bmp, now, &oldCell));
    EXPECT_EQ(uiState.frameRedrawRequested, 0);
}

TEST_F(PanelPaint, TheDpdtPeakLeavesNoStaleDigitWhenItShrinks)
{
    struct Shrink {
        const char *what;
        void (*apply)();
        const char *shown;
    };
    const Shrink shrinks[] = {
        {"Reset button", [] { resetPeak(ID_RESET_DPDT_PEAK); }, "00"},
        {"smaller peak from the device", [] { dispatchCode(DPDT_PEAK_BASE + 7); }, "07"},
        {"function switched off, then a measurement", [] { deviceParameters.dpdtMode = 0; dispatchCode(41); },
         "  --"},
    };
    const RECT oldCell = textCell(right(gdiResources.valueFont, DPDT_PEAK_AT, "150"));
    for (const Shrink &shrink : shrinks) {
        SCOPED_TRACE(shrink.what);
        resetCoreState();
        resetUiState();
        deviceParameters.dpdtMode = 1;
        dispatchCode(40);
        dispatchCode(DPDT_PEAK_BASE + 150);
        // The window's cycle: the panel check decides what the paint refills.
        ASSERT_TRUE(runPanelCheck());
        paintAll();
        ASSERT_TRUE(showsText(bmp, right(gdiResources.valueFont, DPDT_PEAK_AT, "150")));

        shrink.apply();
        ASSERT_TRUE(runPanelCheck());
        paintMainWindow(bmp.dc, WHOLE_CLIENT);
        EXPECT_TRUE(showsText(bmp, right(gdiResources.valueFont, DPDT_PEAK_AT, shrink.shown), &oldCell));
    }
}

TEST_F(PanelPaint, DvdtIsShownOnceByAPaintThatReachesItsCell)
{
    liveReadings.dvdtSeen = 1;
    paintAll();
    const DrawnText dvdt = right(gdiResources.labelFont, DVDT_INDICATOR_AT, "dV/dt");
    const RECT cell = textCell(dvdt);
    EXPECT_TRUE(showsText(bmp, dvdt));
    EXPECT_EQ(liveReadings.dvdtSeen, 0);
    EXPECT_EQ(liveReadings.peaksChanged, 1);

    // A paint of the trend rectangle alone must not consume the next report.
    liveReadings.dvdtSeen = 1;
    paintMainWindow(bmp.dc, TREND_ONLY);
    EXPECT_EQ(liveReadings.dvdtSeen, 1);

    liveReadings.dvdtSeen = 0;
    paintMainWindow(bmp.dc, WHOLE_CLIENT);
    EXPECT_EQ(countOtherThan(bmp, cell, PANEL_COLOUR), 0) << "the blanks replace it";
}

TEST_F(PanelPaint, FrozenTrendStandsStillWhileTheValuesGoOn)
{
    liveReadings.measurement = 40;
    for (int i = 0; i < 3; ++i)
        appendSample(40);
    paintAll();
    uiState.trendFrozen = 1;
    for (int i = 0; i < 3; ++i)
        appendSample(40);
    liveReadings.measurement = 41;
    paintMainWindow(bmp.dc, WHOLE_CLIENT);
    EXPECT_TRUE(trendSamplePending()) << "samples wait while frozen";
    EXPECT_TRUE(showsText(bmp, right(gdiResources.measurementFont, MEASUREMENT_AT, "41")));
}

TEST_F(PanelPaint, TheFourFontsHaveTheirHeightWeightAndPitch)
{
    struct FontRow {
        const char *name;
        HFONT font;
        LONG height;
        LONG weight;
    };
    const GdiResources &g = gdiResources;
    const FontRow rows[] = {
        {"label", g.labelFont, 20, FW_NORMAL},
        {"measurement", g.measurementFont, 40, FW_BOLD},
        {"value", g.valueFont, 25, FW_BOLD},
        {"axis", g.axisFont, 15, FW_NORMAL},
    };
    for (const FontRow &row : rows) {
        SCOPED_TRACE(row.name);
        LOGFONTA font{};
        ASSERT_EQ(GetObjectA(row.font, sizeof font, &font), static_cast<int>(sizeof font));
        EXPECT_EQ(font.lfHeight, row.height);
        EXPECT_EQ(font.lfWeight, row.weight);
        EXPECT_EQ(font.lfPitchAndFamily & 3, VARIABLE_PITCH);
    }
}

TEST_F(PanelPaint, PaintRestoresTheDrawingState)
{
    SetTextAlign(bmp.dc, TA_BASELINE | TA_CENTER);
    SetBkColor(bmp.dc, RGB(1, 2, 3));
    const DcState before = dcState(bmp.dc);
    liveReadings.dvdtSeen = 1;
    uiState.frameRedrawRequested = 1;
    paintAll();
    EXPECT_TRUE(dcState(bmp.dc) == before);
    uiState.trendFrozen = 1;
    paintMainWindow(bmp.dc, TREND_ONLY);
    EXPECT_TRUE(dcState(bmp.dc) == before);
}

} // namespace
