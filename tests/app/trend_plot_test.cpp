// Trend plot drawn into a memory bitmap: axes, labels, limit lines, cursor column, scrolling and full redraw.
#include "trend/trend_plot_win32.h"

#include <gtest/gtest.h>

#include <cstring>

#include "app/ui_state.h"
#include "base/gdi_resources_win32.h"
#include "base/live_readings.h"
#include "base/panel_layout.h"
#include "base/settings.h"
#include "gdi_test_support.h"
#include "tests/native/test_state.h"
#include "trend/trend_geometry.h"
#include "trend/trend_history.h"

namespace {

constexpr RECT WHOLE = {0, 0, CLIENT_WIDTH, CLIENT_HEIGHT};

class TrendPlot : public ::testing::Test {
protected:
    void SetUp() override
    {
        resetCoreState();
        resetUiState();
        createGdiResources();
        bmp = createTestBitmap(PANEL_COLOUR);
    }
    void TearDown() override
    {
        destroyTestBitmap(bmp);
        deleteGdiResources();
    }

    static void setLimits()
    {
        std::strcpy(deviceParameters.unitText, "MW");
        deviceParameters.limit1Mode = 2;
        deviceParameters.limit1Setpoint = 80; // y 135
        deviceParameters.limit2Mode = 1;
        deviceParameters.limit2Setpoint = 20; // y 255
    }

    static void appendMeasurement(int kwPercent)
    {
        liveReadings.measurement = kwPercent;
        appendSample(kwPercent);
    }

    DrawnText axisText(UINT align, int x, int y, const char *text) const
    {
        return {gdiResources.axisFont, align, x, y, text};
    }

    TestBitmap bmp;
};

TEST_F(TrendPlot, AxesArrowheadsAndTicks)
{
    drawTrendAxes(bmp.dc);
    // x axis from 365 to 877, the end point 878 left to the arrowhead
    for (int x = 365; x <= 878; ++x)
        EXPECT_EQ(pixelAt(bmp, x, 295), BLACK) << x;
    EXPECT_NE(pixelAt(bmp, 364, 295), BLACK);
    // arrowheads: each short line stops one pixel before its end point
    for (int i = 1; i <= 4; ++i) {
        EXPECT_EQ(pixelAt(bmp, 878 - i, 295 - i), BLACK);
        EXPECT_EQ(pixelAt(bmp, 878 - i, 295 + i), BLACK);
        EXPECT_EQ(pixelAt(bmp, 868 + i, 85 + i), BLACK);
        EXPECT_EQ(pixelAt(bmp, 868 - i, 85 + i), BLACK);
    }
    EXPECT_NE(pixelAt(bmp, 873, 90), BLACK);
    EXPECT_NE(pixelAt(bmp, 863, 90), BLACK);
    for (int y = 85; y < 300; ++y) // (868, 300) lies in the cell of "t[s]"
        EXPECT_EQ(pixelAt(bmp, 868, y), BLACK) << y;
    for (int y : {245, 195, 145, 95}) {
        EXPECT_EQ(pixelAt(bmp, 870, y), BLACK) << y;
        EXPECT_NE(pixelAt(bmp, 871, y), BLACK) << y;
        EXPECT_NE(pixelAt(bmp, 867, y), BLACK) << y;
    }
    for (int x : {702, 535, 365}) {
        EXPECT_EQ(pixelAt(bmp, x, 297), BLACK) << x;
        EXPECT_NE(pixelAt(bmp, x, 298), BLACK) << x;
        EXPECT_NE(pixelAt(bmp, x + 1, 297), BLACK) << x;
    }
    EXPECT_EQ(countColour(bmp, WHOLE, RED), 0) << "no limits without a unit text";
}

TEST_F(TrendPlot, ScaleLabelsAndTheTimeLabelsOfEachRollMode)
{
    for (int mode = 0; mode < 3; ++mode) {
        monitorSettings.rollMode = static_cast<std::uint16_t>(mode);
        fillBitmap(bmp, PANEL_COLOUR);
        drawTrendAxes(bmp.dc);
        EXPECT_TRUE(showsText(bmp, axisText(TA_BOTTOM | TA_LEFT, 873, 85, "P[kW%]")));
        EXPECT_TRUE(showsText(bmp, axisText(TA_BOTTOM | TA_LEFT, 876, 252, "25")));
        EXPECT_TRUE(showsText(bmp, axisText(TA_BOTTOM | TA_LEFT, 876, 202, "50")));
        EXPECT_TRUE(showsText(bmp, axisText(TA_BOTTOM | TA_LEFT, 876, 152, "75")));
        EXPECT_TRUE(showsText(bmp, axisText(TA_BOTTOM | TA_LEFT, 876, 102, "100")));
        EXPECT_TRUE(showsText(bmp, axisText(TA_TOP | TA_LEFT, 868, 300, "t[s]")));
        const char *expected[3][3] = {{"-3.3", "-6.6", "-10"}, {"-10", "-20", "-30"}, {"-20", "-40", "-60"}};
        const int x[3] = {702, 535, 365};
        for (int row = 0; row < 3; ++row) {
            EXPECT_TRUE(showsText(bmp, axisText(TA_TOP | TA_CENTER, x[row], 303, expected[mode][row])))
                << "mode " << mode << " tick " << x[row];
            // The comparison tells the modes apart.
            const char *other = expected[(mode + 1) % 3][row];
            const DrawnText wrong = axisText(TA_TOP | TA_CENTER, x[row], 303, other);
            const RECT wide = {x[row] - 25, 303, x[row] + 25, 318};
            EXPECT_FALSE(showsText(bmp, wrong, &wide)) << "mode " << mode << " shows " << other;
        }
    }
}

TEST_F(TrendPlot, LimitLinesSpanThePlotOnlyWithAUnitText)
{
    setLimits();
    drawTrendAxes(bmp.dc);
    for (int x = 365; x <= 867; ++x) {
        EXPECT_EQ(pixelAt(bmp, x, 135), RED) << x;
        EXPECT_EQ(pixelAt(bmp, x, 255), RED) << x;
    }
    EXPECT_EQ(pixelAt(bmp, 868, 135), BLACK) << "the y axis stays whole";
    EXPECT_EQ(countColour(bmp, WHOLE, RED), 2 * 503);

    deviceParameters.limit2Mode = 0;
    fillBitmap(bmp, PANEL_COLOUR);
    drawTrendAxes(bmp.dc);
    EXPECT_EQ(countColour(bmp, WHOLE, RED), 503);

    deviceParameters.unitText[0] = 0;
    fillBitmap(bmp, PANEL_COLOUR);
    drawTrendAxes(bmp.dc);
    EXPECT_EQ(countColour(bmp, WHOLE, RED), 0);
}

TEST_F(TrendPlot, CursorColumnIsClearedWithRedPixelsAtTheLimits)
{
    fillBitmap(bmp, WHITE);
    setLimits();
    advanceTrend(bmp.dc);
    EXPECT_EQ(pixelAt(bmp, 867, 94), WHITE);
    EXPECT_EQ(pixelAt(bmp, 867, 295), WHITE) << "the x-axis pixel is left alone";
    for (int y = 95; y < 295; ++y) {
        const COLORREF expected = (y == 135 || y == 255) ? RED : PANEL_COLOUR;
        EXPECT_EQ(pixelAt(bmp, 867, y), expected) << y;
    }

    deviceParameters.unitText[0] = 0;
    fillBitmap(bmp, WHITE);
    advanceTrend(bmp.dc);
    EXPECT_EQ(countColour(bmp, WHOLE, RED), 0);
}

TEST_F(TrendPlot, TheFirstSampleHasNoSegmentAndTheSecondJoinsIt)
{
    appendMeasurement(50); // height 100, y 195
    advanceTrend(bmp.dc);
    EXPECT_EQ(countColour(bmp, WHOLE, BLUE), 0);
    EXPECT_EQ(trendHistory.lastDrawnHeight, 100);

    appendMeasurement(60); // height 120, y 175
    advanceTrend(bmp.dc);
    EXPECT_EQ(pixelAt(bmp, 865, 195), BLUE);
    EXPECT_NE(pixelAt(bmp, 866, 175), BLUE) << "the end point is not drawn";
    EXPECT_EQ(pixelAt(bmp, 866, 176), BLUE);
    const RECT segment = {865, 176, 867, 196};
    EXPECT_EQ(countColour(bmp, WHOLE, BLUE), countColour(bmp, segment, BLUE));
}

TEST_F(TrendPlot, EachSampleScrollsThePlotOnePixelLeft)
{
    appendMeasurement(0); // first sample, no segment
    advanceTrend(bmp.dc);
    SetPixel(bmp.dc, 600, 200, GREEN);
    SetPixel(bmp.dc, 700, 95, GREEN);
    SetPixel(bmp.dc, 700, 295, GREEN);
    SetPixel(bmp.dc, 600, 94, GREEN); // above the scrolled block
    SetPixel(bmp.dc, 600, 296, GREEN); // below it

    for (int i = 0; i < 3; ++i)
        appendMeasurement(0);
    advanceTrend(bmp.dc);
    EXPECT_EQ(pixelAt(bmp, 597, 200), GREEN);
    EXPECT_EQ(pixelAt(bmp, 697, 95), GREEN);
    EXPECT_EQ(pixelAt(bmp, 697, 295), GREEN) << "the x-axis row scrolls with the plot";
    EXPECT_NE(pixelAt(bmp, 600, 200), GREEN);
    EXPECT_EQ(pixelAt(bmp, 600, 94), GREEN);
    EXPECT_EQ(pixelAt(bmp, 600, 296), GREEN);
    EXPECT_EQ(countColour(bmp, WHOLE, GREEN), 5);
    // three flat segments at the baseline, one pixel each, scrolled in turn
    EXPECT_EQ(pixelAt(bmp, 863, 295), BLUE);
    EXPECT_EQ(pixelAt(bmp, 864, 295), BLUE);
    EXPECT_EQ(pixelAt(bmp, 865, 295), BLUE);
    EXPECT_NE(pixelAt(bmp, 866, 295), BLUE);
    EXPECT_FALSE(trendSamplePending());
}

TEST_F(TrendPlot, NewColumnsCarryTheLimitMarkersLeftward)
{
    setLimits();
    appendMeasurement(0);
    for (int i = 0; i < 4; ++i)
        appendMeasurement(0);
    advanceTrend(bmp.dc);
    // columns 862..866 are copies of the prepared cursor column
    for (int x = 862; x <= 866; ++x) {
        EXPECT_EQ(pixelAt(bmp, x, 135), RED) << x;
        EXPECT_EQ(pixelAt(bmp, x, 255), RED) << x;
    }
    EXPECT_NE(pixelAt(bmp, 861, 135), RED);
}

TEST_F(TrendPlot, SamplesWaitingForOnePaintAreDrawnInRingOrder)
{
    // Five heights stored across the end of the sample ring (498, 499, 0, 1, 2):
    // the first is drawn alone, the other four wait for one paint.
    const int percent[] = {20, 70, 35, 90, 50};
    constexpr int WAITING = 4;
    const auto drawAlone = [&](TestBitmap &b) {
        trendHistory.sampleWritePos.store(TREND_LENGTH - 2);
        trendHistory.drawPos = TREND_LENGTH - 2;
        appendMeasurement(percent[0]);
        advanceTrend(b.dc);
    };
    drawAlone(bmp);
    for (int k = 1; k <= WAITING; ++k)
        appendMeasurement(percent[k]);
    advanceTrend(bmp.dc);
    EXPECT_FALSE(trendSamplePending());
    EXPECT_EQ(trendHistory.drawPos, WAITING - 1);

    // Segment k starts at the height of sample k - 1, one column further left
    // for each sample drawn after it; the newest runs toward x 866.
    for (int k = 1; k <= WAITING; ++k) {
        const int x = PLOT_NEWEST_X - 1 - (WAITING - k);
        EXPECT_EQ(pixelAt(bmp, x, trendY(2 * percent[k - 1])), BLUE) << "segment " << k;
    }
    EXPECT_EQ(pixelAt(bmp, PLOT_NEWEST_X, trendY(2 * percent[WAITING]) - 1), BLUE);

    // The same picture as when each sample has a paint of its own.
    resetCoreState();
    TestBitmap onePerPaint = createTestBitmap(PANEL_COLOUR);
    drawAlone(onePerPaint);
    for (int k = 1; k <= WAITING; ++k) {
        appendMeasurement(percent[k]);
        advanceTrend(onePerPaint.dc);
    }
    GdiFlush();
    EXPECT_EQ(std::memcmp(bmp.pixels, onePerPaint.pixels, sizeof *bmp.pixels * bmp.width * bmp.height), 0);
    destroyTestBitmap(onePerPaint);
}

TEST_F(TrendPlot, HeightsAboveThePlotAreDrawnOutsideTheScrolledBlock)
{
    for (int i = 0; i < 3; ++i) {
        appendMeasurement(130); // height 260, y 35
        advanceTrend(bmp.dc);
    }
    EXPECT_EQ(pixelAt(bmp, 865, 35), BLUE);
    EXPECT_NE(pixelAt(bmp, 864, 35), BLUE) << "pixels above y 95 do not scroll";
    EXPECT_NE(pixelAt(bmp, 866, 35), BLUE);
    EXPECT_EQ(countColour(bmp, WHOLE, BLUE), 1);
}

TEST_F(TrendPlot, FullRedrawDrawsTheRingOldestFirstWithTheEndMarker)
{
    redrawTrend(bmp.dc);
    EXPECT_EQ(countColour(bmp, WHOLE, BLUE), 0) << "nothing before the first sample";

    trendHistory.firstSamplePending = false;
    for (int i = 0; i < TREND_LENGTH; ++i)
        trendHistory.drawnHeights[i] = 100;
    trendHistory.drawnHeights[9] = 150;  // newest when drawnWritePos is 10
    trendHistory.drawnHeights[10] = 40;  // oldest
    trendHistory.drawnWritePos = 10;
    redrawTrend(bmp.dc);
    EXPECT_EQ(pixelAt(bmp, 365, 255), BLUE);
    EXPECT_EQ(pixelAt(bmp, 500, 195), BLUE);
    EXPECT_EQ(pixelAt(bmp, 863, 195), BLUE);
    EXPECT_NE(pixelAt(bmp, 864, 195), BLUE) << "the polyline ends before x 864";
    EXPECT_EQ(pixelAt(bmp, 865, 145), BLUE) << "end marker at the newest height";
    EXPECT_EQ(countColour(bmp, {865, 0, CLIENT_WIDTH, CLIENT_HEIGHT}, BLUE), 1);

    fillBitmap(bmp, PANEL_COLOUR);
    trendHistory.drawnWritePos = 0;
    trendHistory.drawnHeights[499] = 200;
    redrawTrend(bmp.dc);
    EXPECT_EQ(pixelAt(bmp, 865, 95), BLUE) << "drawnWritePos 0: the newest is entry 499";
}

TEST_F(TrendPlot, EveryOperationRestoresTheDrawingState)
{
    setLimits();
    SetTextAlign(bmp.dc, TA_BASELINE | TA_RIGHT);
    SetBkColor(bmp.dc, RGB(1, 2, 3));
    const DcState before = dcState(bmp.dc);

    drawTrendAxes(bmp.dc);
    EXPECT_TRUE(dcState(bmp.dc) == before) << "drawTrendAxes";
    for (int i = 0; i < 5; ++i)
        appendMeasurement(10 * i);
    advanceTrend(bmp.dc);
    EXPECT_TRUE(dcState(bmp.dc) == before) << "advanceTrend";
    redrawTrend(bmp.dc);
    EXPECT_TRUE(dcState(bmp.dc) == before) << "redrawTrend";
}

} // namespace
