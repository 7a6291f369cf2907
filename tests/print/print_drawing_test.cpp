// The printed report's pieces drawn into a memory bitmap, one logical unit per pixel.
//
// The trace, axes, ticks, limit lines and labels, the header and listing
// texts, and the drawing state each piece leaves behind.
#include "report/print_report_win32.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "base/gdi_resources_win32.h"
#include "base/live_readings.h"
#include "base/panel_layout.h"
#include "base/settings.h"
#include "gdi_test_support.h"
#include "params/parameter_set.h"
#include "report/printer_choice.h"
#include "report/printer_choice_win32.h"
#include "tests/native/test_state.h"
#include "trend/trend_history.h"

namespace {

constexpr RECT WHOLE = {0, 0, CLIENT_WIDTH, CLIENT_HEIGHT};
// A plot origin that keeps the plot and its labels inside the test bitmap.
constexpr int X0 = 100;
constexpr int Y0 = 340;
// The longest long-date format the system keeps, terminator included.
constexpr int LONG_DATE_FORMAT_SIZE = 81;

class PrintDrawing : public ::testing::Test {
protected:
    void SetUp() override
    {
        resetCoreState();
        createGdiResources();
        bmp = createTestBitmap(PANEL_COLOUR);
        // The pieces print on the context's own background colour.
        SetBkColor(bmp.dc, PANEL_COLOUR);
    }
    void TearDown() override
    {
        destroyTestBitmap(bmp);
        deleteGdiResources();
        for (HFONT f : fonts)
            if (f)
                DeleteObject(f);
    }

    // The report font as the page asks the mapper for it.
    HFONT reportFont(int height, int weight)
    {
        LOGFONTA font = {};
        font.lfHeight = height;
        font.lfWeight = weight;
        font.lfCharSet = DEFAULT_CHARSET;
        font.lfPitchAndFamily = FIXED_PITCH | FF_MODERN;
        std::strcpy(font.lfFaceName, "CourierNew");
        HFONT f = CreateFontIndirectA(&font);
        for (HFONT &slot : fonts)
            if (!slot) {
                slot = f;
                break;
            }
        return f;
    }

    static void fillHeights(std::int32_t h)
    {
        for (std::int32_t &v : trendHistory.drawnHeights)
            v = h;
        trendHistory.firstSamplePending = false;
    }

    TestBitmap bmp;
    HFONT fonts[3] = {};
};

TEST_F(PrintDrawing, AFullScaleTraceLiesThreeHundredUnitsAboveTheBaseline)
{
    fillHeights(200); // 100 kW%
    printTrend(bmp.dc, X0, Y0);
    for (int x = X0; x < X0 + 499; ++x)
        ASSERT_EQ(pixelAt(bmp, x, Y0 - 300), BLUE) << x;
    EXPECT_NE(pixelAt(bmp, X0 + 499, Y0 - 300), BLUE) << "a line leaves out its end point";
    EXPECT_EQ(countColour(bmp, WHOLE, BLUE), 499);

    // Before any sample: a flat line on the baseline, no end marker.
    resetTrendHistory();
    fillBitmap(bmp, PANEL_COLOUR);
    printTrend(bmp.dc, X0, Y0);
    EXPECT_EQ(countColour(bmp, {X0, Y0, X0 + 499, Y0 + 1}, BLUE), 499);
    EXPECT_EQ(countOtherThan(bmp, WHOLE, PANEL_COLOUR), 499);
}

TEST_F(PrintDrawing, TheTraceRunsFromTheOldestEntryInRingOrder)
{
    fillHeights(20); // 10 kW%: 30 units up
    trendHistory.drawnWritePos = 123;
    trendHistory.drawnHeights[123] = 100; // oldest: 150 up, at the left edge
    trendHistory.drawnHeights[122] = 100; // newest: 150 up, at the right end
    printTrend(bmp.dc, X0, Y0);
    EXPECT_EQ(pixelAt(bmp, X0, Y0 - 150), BLUE);
    EXPECT_EQ(pixelAt(bmp, X0 + 10, Y0 - 30), BLUE);
    EXPECT_EQ(pixelAt(bmp, X0 + 498, Y0 - 30), BLUE);
    // The last segment climbs from 30 to 150 units at the newest column and
    // stops short of its end point.
    EXPECT_EQ(pixelAt(bmp, X0 + 498, Y0 - 31), BLUE);
    EXPECT_EQ(pixelAt(bmp, X0 + 499, Y0 - 149), BLUE);
    EXPECT_NE(pixelAt(bmp, X0 + 499, Y0 - 150), BLUE);
    EXPECT_EQ(countColour(bmp, {X0 + 500, 0, CLIENT_WIDTH, CLIENT_HEIGHT}, BLUE), 0);
}

// The device reports up to 199 kW%; on paper the trace stops at the tip of
// the y axis's arrow instead of running over the header.
TEST_F(PrintDrawing, ReadingsAboveFullScaleAreCutAtTheArrowTip)
{
    fillHeights(398);
    for (int i : {100, 101})
        trendHistory.drawnHeights[i] = 0;
    const HRGN callers = CreateRectRgn(0, 0, CLIENT_WIDTH, CLIENT_HEIGHT);
    SelectClipRgn(bmp.dc, callers);
    printTrend(bmp.dc, X0, Y0);
    EXPECT_EQ(countColour(bmp, {0, 0, CLIENT_WIDTH, Y0 - 310}, BLUE), 0);
    EXPECT_GT(countColour(bmp, {X0 + 98, Y0 - 310, X0 + 104, Y0 - 309}, BLUE), 0) << "climbs reach the tip";
    EXPECT_EQ(pixelAt(bmp, X0 + 100, Y0), BLUE);

    const HRGN now = CreateRectRgn(0, 0, 0, 0);
    EXPECT_EQ(GetClipRgn(bmp.dc, now), 1);
    EXPECT_TRUE(EqualRgn(now, callers)) << "the caller's clip region comes back";
    SelectClipRgn(bmp.dc, nullptr);
    DeleteObject(now);
    DeleteObject(callers);
}

TEST_F(PrintDrawing, AxesArrowheadsAndTicksAtTheirPlaces)
{
    printTrendAxes(bmp.dc, X0, Y0);
    for (int x = X0; x <= X0 + 511; ++x)
        ASSERT_EQ(pixelAt(bmp, x, Y0), BLACK) << x;
    EXPECT_NE(pixelAt(bmp, X0 - 1, Y0), BLACK);
    for (int i = 1; i <= 4; ++i) {
        EXPECT_EQ(pixelAt(bmp, X0 + 511 - i, Y0 - i), BLACK) << i;
        EXPECT_EQ(pixelAt(bmp, X0 + 511 - i, Y0 + i), BLACK) << i;
        EXPECT_EQ(pixelAt(bmp, X0 + 501 + i, Y0 - 310 + i), BLACK) << i;
        EXPECT_EQ(pixelAt(bmp, X0 + 501 - i, Y0 - 310 + i), BLACK) << i;
    }
    EXPECT_NE(pixelAt(bmp, X0 + 506, Y0 + 5), BLACK);
    EXPECT_NE(pixelAt(bmp, X0 + 496, Y0 - 305), BLACK);
    for (int y = Y0 - 310; y < Y0 + 5; ++y)
        ASSERT_EQ(pixelAt(bmp, X0 + 501, y), BLACK) << y;
    for (int dy : {75, 150, 225, 300}) {
        EXPECT_EQ(pixelAt(bmp, X0 + 503, Y0 - dy), BLACK) << dy;
        EXPECT_NE(pixelAt(bmp, X0 + 504, Y0 - dy), BLACK) << dy;
        EXPECT_NE(pixelAt(bmp, X0 + 500, Y0 - dy), BLACK) << dy;
    }
    for (int dx : {335, 168, 0}) {
        EXPECT_EQ(pixelAt(bmp, X0 + dx, Y0 + 2), BLACK) << dx;
        EXPECT_NE(pixelAt(bmp, X0 + dx, Y0 + 3), BLACK) << dx;
        EXPECT_NE(pixelAt(bmp, X0 + dx + 1, Y0 + 2), BLACK) << dx;
    }
    EXPECT_EQ(countColour(bmp, WHOLE, RED), 0) << "no limit lines without a unit text";
}

TEST_F(PrintDrawing, LimitLinesOnlyWithAUnitTextEachWhileItsModeIsOn)
{
    deviceParameters.limit1Mode = 2;
    deviceParameters.limit1Setpoint = 80; // 240 up
    deviceParameters.limit2Mode = 1;
    deviceParameters.limit2Setpoint = 20; // 60 up
    printTrendAxes(bmp.dc, X0, Y0);
    EXPECT_EQ(countColour(bmp, WHOLE, RED), 0);

    std::strcpy(deviceParameters.unitText, "MW");
    printTrendAxes(bmp.dc, X0, Y0);
    for (int y : {Y0 - 240, Y0 - 60}) {
        EXPECT_EQ(countColour(bmp, {X0, y, X0 + 501, y + 1}, RED), 501) << y;
        EXPECT_NE(pixelAt(bmp, X0 + 501, y), RED) << "the y axis is not overdrawn";
    }
    EXPECT_EQ(countColour(bmp, WHOLE, RED), 2 * 501);

    fillBitmap(bmp, PANEL_COLOUR);
    deviceParameters.limit1Mode = 0;
    printTrendAxes(bmp.dc, X0, Y0);
    EXPECT_EQ(countColour(bmp, WHOLE, RED), 501);
    EXPECT_EQ(pixelAt(bmp, X0 + 10, Y0 - 60), RED);
}

TEST_F(PrintDrawing, AxisLabelsAndTheTimeLabelsOfEachRollMode)
{
    const char *expected[3][3] = {{"-3.3", "-6.6", "-10"}, {"-10", "-20", "-30"}, {"-20", "-40", "-60"}};
    const int tickDx[3] = {335, 168, 0};
    for (int mode = 0; mode < 3; ++mode) {
        monitorSettings.rollMode = static_cast<std::uint16_t>(mode);
        fillBitmap(bmp, PANEL_COLOUR);
        printTrendAxes(bmp.dc, X0, Y0);
        const HFONT f = gdiResources.axisFont;
        EXPECT_TRUE(showsText(bmp, {f, TA_BOTTOM | TA_CENTER, X0 + 501, Y0 - 315, "P[kW%]"}));
        EXPECT_TRUE(showsText(bmp, {f, TA_BOTTOM | TA_LEFT, X0 + 509, Y0 - 68, "25"}));
        EXPECT_TRUE(showsText(bmp, {f, TA_BOTTOM | TA_LEFT, X0 + 509, Y0 - 143, "50"}));
        EXPECT_TRUE(showsText(bmp, {f, TA_BOTTOM | TA_LEFT, X0 + 509, Y0 - 218, "75"}));
        EXPECT_TRUE(showsText(bmp, {f, TA_BOTTOM | TA_LEFT, X0 + 509, Y0 - 293, "100"}));
        EXPECT_TRUE(showsText(bmp, {f, TA_TOP | TA_LEFT, X0 + 501, Y0 + 5, "t[s]"}));
        for (int row = 0; row < 3; ++row) {
            EXPECT_TRUE(showsText(bmp, {f, TA_TOP | TA_CENTER, X0 + tickDx[row], Y0 + 8, expected[mode][row]}))
                << "mode " << mode << " row " << row;
            const RECT wide = {X0 + tickDx[row] - 25, Y0 + 8, X0 + tickDx[row] + 25, Y0 + 23};
            const char *other = expected[(mode + 1) % 3][row];
            EXPECT_FALSE(showsText(bmp, {f, TA_TOP | TA_CENTER, X0 + tickDx[row], Y0 + 8, other}, &wide))
                << "mode " << mode << " shows " << other;
        }
    }
}

TEST_F(PrintDrawing, HeaderLinesInTheReportFont)
{
    std::strcpy(deviceParameters.unitText, "MW");
    deviceParameters.dpdtMode = 1;
    liveReadings.maxPeak = 87;
    liveReadings.minPeak = -1;
    liveReadings.dpdtPeak = 140;

    // The date line is built here the same way; a minute may turn meanwhile.
    char dateLine[200] = "";
    for (int attempt = 0; attempt < 2; ++attempt) {
        char date[64] = "";
        char time[64] = "";
        GetDateFormatA(LOCALE_USER_DEFAULT, DATE_LONGDATE, nullptr, nullptr, date, 64);
        GetTimeFormatA(LOCALE_USER_DEFAULT, TIME_NOSECONDS, nullptr, nullptr, time, 64);
        std::snprintf(dateLine, sizeof dateLine, "Date: %s, %s", date, time);
        fillBitmap(bmp, PANEL_COLOUR);
        printReportHeader(bmp.dc);
        if (showsText(bmp, {reportFont(10, 400), TA_TOP | TA_LEFT, 40, 65, dateLine}))
            break;
    }
    EXPECT_TRUE(showsText(bmp, {reportFont(10, 400), TA_TOP | TA_LEFT, 40, 65, dateLine})) << dateLine;
    EXPECT_TRUE(showsText(bmp, {reportFont(15, 700), TA_TOP | TA_LEFT, 40, 35, "Unit:  MW"}));
    EXPECT_TRUE(showsText(bmp, {reportFont(10, 400), TA_TOP | TA_LEFT, 40, 85,
                                "Peak values:  Max Peak [kW%]: 87,   Min Peak [kW%]: -1,   dPdt Peak [kW%]: 140"}));
}

// A user's long-date format whose result does not fit the 64-character part:
// the system gives up on it and the line shows the plain date instead.
TEST_F(PrintDrawing, ADateTheSystemCannotFitPrintsInItsPlainForm)
{
    char saved[LONG_DATE_FORMAT_SIZE] = "";
    ASSERT_GT(GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SLONGDATE, saved, sizeof saved), 0);
    const char tenDayNames[] = "dddd dddd dddd dddd dddd dddd dddd dddd dddd dddd"; // 69 characters or more
    ASSERT_TRUE(SetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SLONGDATE, tenDayNames));
    char probe[64];
    EXPECT_EQ(GetDateFormatA(LOCALE_USER_DEFAULT, DATE_LONGDATE, nullptr, nullptr, probe, sizeof probe), 0);

    char dateLine[200] = "";
    bool shown = false;
    for (int attempt = 0; attempt < 2 && !shown; ++attempt) { // a minute may turn meanwhile
        SYSTEMTIME now;
        GetLocalTime(&now);
        char time[64] = "";
        GetTimeFormatA(LOCALE_USER_DEFAULT, TIME_NOSECONDS, &now, nullptr, time, sizeof time);
        std::snprintf(dateLine, sizeof dateLine, "Date: %04u-%02u-%02u, %s", now.wYear, now.wMonth, now.wDay, time);
        fillBitmap(bmp, PANEL_COLOUR);
        printReportHeader(bmp.dc);
        shown = showsText(bmp, {reportFont(10, 400), TA_TOP | TA_LEFT, 40, 65, dateLine});
    }
    SetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SLONGDATE, saved);
    EXPECT_TRUE(shown) << dateLine;
}

TEST_F(PrintDrawing, ListingTitlesAndLinesBottomLeftAtTheirPlaces)
{
    deviceParameters.limit1Mode = 2;
    deviceParameters.limit1Setpoint = 80;
    deviceParameters.zero = 2;
    const int x0 = 20;
    const int y0 = 60;
    printParameterList(bmp.dc, x0, y0);
    const UINT at = TA_BOTTOM | TA_LEFT;
    EXPECT_TRUE(showsText(bmp, {reportFont(15, 700), at, x0 + 20, y0 + 15, "Parameters"}));
    HFONT section = reportFont(10, 700);
    EXPECT_TRUE(showsText(bmp, {section, at, x0 + 20, y0 + 35, "Limit 1"}));
    EXPECT_TRUE(showsText(bmp, {section, at, x0 + 160, y0 + 215, "Output"}));
    HFONT body = reportFont(10, 400);
    EXPECT_TRUE(showsText(bmp, {body, at, x0 + 20, y0 + 50, "Limit      : Max."}));
    EXPECT_TRUE(showsText(bmp, {body, at, x0 + 20, y0 + 65, "Setpoint   : 80%"}));
    EXPECT_TRUE(showsText(bmp, {body, at, x0 + 20, y0 + 290, "dUdt       : --"}));
    EXPECT_TRUE(showsText(bmp, {body, at, x0 + 160, y0 + 50, "Ts         : 0.00s"}));
    EXPECT_TRUE(showsText(bmp, {body, at, x0 + 160, y0 + 275, "Zero       : External"}));
}

TEST_F(PrintDrawing, EveryPieceLeavesTheDrawingStateAsItFoundIt)
{
    std::strcpy(deviceParameters.unitText, "MW");
    deviceParameters.limit1Mode = 1;
    SetTextAlign(bmp.dc, TA_RIGHT | TA_BASELINE);
    const DcState before = dcState(bmp.dc);
    printReportHeader(bmp.dc);
    EXPECT_TRUE(dcState(bmp.dc) == before) << "header";
    printTrendAxes(bmp.dc, X0, Y0);
    EXPECT_TRUE(dcState(bmp.dc) == before) << "axes";
    printTrend(bmp.dc, X0, Y0);
    EXPECT_TRUE(dcState(bmp.dc) == before) << "trace";
    printParameterList(bmp.dc, 20, 60);
    EXPECT_TRUE(dcState(bmp.dc) == before) << "listing";
}

TEST_F(PrintDrawing, AJobThatCannotStartReturnsACodeAndDrawsNothing)
{
    fillHeights(200);
    PrintStep step = PrintStep::none;
    const long result = printReport(bmp.dc, "K614 Configuration tool", &step);
    EXPECT_NE(result, 0);
    EXPECT_EQ(step, PrintStep::startDocument);
    EXPECT_EQ(countOtherThan(bmp, WHOLE, PANEL_COLOUR), 0);
    EXPECT_EQ(GetMapMode(bmp.dc), MM_TEXT);
}

// Wine reports the NT family, so the default-printer way is only reached by
// asking for it: on the real calls it ends with a landscape printer context,
// or with ERR_NO_PRINTER when the enumeration yields no default printer (as
// wine's does), never with a context to nothing.
TEST(PrinterChoiceCalls, TheDefaultPrinterWayEndsCleanlyOnTheSystemsCalls)
{
    PrinterOps ops = systemPrinterOps();
    ops.windows9xFamily = [] { return true; };
    PrinterDc dc = nullptr;
    const long result = choosePrinter(ops, nullptr, &dc);
    if (result == 0) {
        ASSERT_NE(dc, nullptr);
        HDC printer = static_cast<HDC>(dc);
        EXPECT_GE(GetDeviceCaps(printer, HORZRES), GetDeviceCaps(printer, VERTRES));
        DeleteDC(printer);
    } else {
        EXPECT_EQ(result, ERR_NO_PRINTER);
        EXPECT_EQ(dc, nullptr);
    }
}

} // namespace
