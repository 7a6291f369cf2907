// Trend geometry: limit lines only with a known unit text, their heights, and the time labels.
#include "trend/trend_geometry.h"

#include <gtest/gtest.h>

#include "app_test_support.h"

namespace {

class TrendGeometry : public ::testing::Test {
protected:
    void SetUp() override
    {
        resetAppState();
        deviceParameters.limit1Mode = 2;
        deviceParameters.limit1Setpoint = 80;
        deviceParameters.limit2Mode = 1;
        deviceParameters.limit2Setpoint = 20;
    }
};

TEST_F(TrendGeometry, NoLimitLinesWithoutAUnitText)
{
    EXPECT_EQ(trendLimitLines().count, 0);
}

TEST_F(TrendGeometry, LimitLinesSitTwoPixelsPerPerCentAboveTheBaseline)
{
    setUnitText("MW");
    TrendLimitLines lines = trendLimitLines();
    ASSERT_EQ(lines.count, 2);
    EXPECT_EQ(lines.y[0], 135);
    EXPECT_EQ(lines.y[1], 255);

    deviceParameters.limit1Mode = 0;
    deviceParameters.limit2Setpoint = 130; // above the scale, not clamped
    lines = trendLimitLines();
    ASSERT_EQ(lines.count, 1);
    EXPECT_EQ(lines.y[0], 35);
}

TEST(TimeAxisLabels, EachRollModeSpansItsSeconds)
{
    EXPECT_STREQ(timeAxisLabels[0][0], "-3.3");
    EXPECT_STREQ(timeAxisLabels[2][0], "-10");
    EXPECT_STREQ(timeAxisLabels[0][1], "-10");
    EXPECT_STREQ(timeAxisLabels[1][1], "-20");
    EXPECT_STREQ(timeAxisLabels[2][1], "-30");
    EXPECT_STREQ(timeAxisLabels[2][2], "-60");
    EXPECT_EQ(TIME_TICK_X[0], 702);
    EXPECT_EQ(TIME_TICK_X[2], PLOT_LEFT);
}

} // namespace
