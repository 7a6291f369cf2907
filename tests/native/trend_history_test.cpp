// TrendHistory: first sample, wrap, resync after a roll change, and a writer lapping a frozen reader.
#include <gtest/gtest.h>

#include "test_state.h"

namespace {

class Trend : public ::testing::Test {
protected:
    void SetUp() override { resetCoreState(); }

    static void append(int measurement)
    {
        liveReadings.measurement = measurement;
        appendSample(measurement);
    }

    static int pending()
    {
        return (trendHistory.sampleWritePos.load() - trendHistory.drawPos + TREND_LENGTH) % TREND_LENGTH;
    }
};

TEST_F(Trend, FirstSampleIsStoredWithoutASegment)
{
    append(40);
    append(45);
    TrendStep first = consumeTrendSample();
    EXPECT_EQ(first.height, 80);
    EXPECT_FALSE(first.drawSegment);
    EXPECT_EQ(trendHistory.lastDrawnHeight, 80);
    EXPECT_FALSE(trendHistory.firstSamplePending);
    TrendStep second = consumeTrendSample();
    EXPECT_EQ(second.height, 90);
    EXPECT_TRUE(second.drawSegment);
    EXPECT_EQ(trendHistory.drawnHeights[1], 90);
    EXPECT_FALSE(trendSamplePending());
}

TEST_F(Trend, HeightsAreNotClamped)
{
    append(150);
    EXPECT_EQ(trendHistory.samples[0], 300);
}

TEST_F(Trend, WritePositionWrapsAfter499)
{
    trendHistory.sampleWritePos = 499;
    trendHistory.drawPos = 499;
    append(1);
    EXPECT_EQ(trendHistory.samples[499], 2);
    EXPECT_EQ(trendHistory.sampleWritePos.load(), 0);
    consumeTrendSample();
    EXPECT_EQ(trendHistory.drawPos, 0);
}

TEST_F(Trend, ResyncBeforeTheFirstDrawKeepsWaitingSamples)
{
    for (int i = 0; i < 5; ++i)
        append(i);
    resyncTrend();
    EXPECT_EQ(pending(), 5);
}

TEST_F(Trend, ResyncDropsExactlyThePendingSamples)
{
    append(10);
    consumeTrendSample();
    for (int i = 0; i < 37; ++i)
        append(20);
    EXPECT_EQ(pending(), 37);
    resyncTrend();
    EXPECT_EQ(pending(), 0);
    append(33);
    EXPECT_EQ(consumeTrendSample().height, 66);
    EXPECT_EQ(trendHistory.drawnHeights[0], 20); // the drawn history stays
    EXPECT_EQ(trendHistory.drawnHeights[1], 66);
}

TEST_F(Trend, AWriterLappingAFrozenPlotLeavesOnlyTheNewest)
{
    append(1);
    consumeTrendSample();
    for (int i = 0; i < 500; ++i)
        append(i % 100);
    EXPECT_FALSE(trendSamplePending());
    for (int i = 0; i < 20; ++i)
        append(50 + i);
    EXPECT_EQ(pending(), 20);
    EXPECT_EQ(consumeTrendSample().height, 100);
}

} // namespace
