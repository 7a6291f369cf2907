// TrendHistory: appending on the reader thread, consuming and resync on the GUI thread.
#include "trend/trend_history.h"

#include "link/shared_field.h"

TrendHistory trendHistory = {{}, {0}, 0, {}, 0, 0, true};

static std::uint16_t nextPos(std::uint16_t i)
{
    return static_cast<std::uint16_t>(i + 1 == TREND_LENGTH ? 0 : i + 1);
}

void appendSample(std::int32_t measurement)
{
    const std::uint16_t w = trendHistory.sampleWritePos.load(std::memory_order_relaxed);
    // The slot is written before the index that covers it is published. An
    // entry is stored whole, so a lapped, frozen reader never sees a torn value.
    sharedStore(trendHistory.samples[w], measurement * 2);
    trendHistory.sampleWritePos.store(nextPos(w), std::memory_order_release);
}

void resyncTrend()
{
    if (trendHistory.firstSamplePending)
        return;
    trendHistory.drawPos = trendHistory.sampleWritePos.load(std::memory_order_acquire);
}

bool trendSamplePending()
{
    return trendHistory.drawPos != trendHistory.sampleWritePos.load(std::memory_order_acquire);
}

TrendStep consumeTrendSample()
{
    const std::int32_t v = sharedLoad(trendHistory.samples[trendHistory.drawPos]);
    trendHistory.lastDrawnHeight = v;
    trendHistory.drawnHeights[trendHistory.drawnWritePos] = v;
    const bool segment = !trendHistory.firstSamplePending;
    trendHistory.firstSamplePending = false;
    trendHistory.drawPos = nextPos(trendHistory.drawPos);
    trendHistory.drawnWritePos = nextPos(trendHistory.drawnWritePos);
    return {v, segment};
}

void resetTrendHistory()
{
    for (int i = 0; i < TREND_LENGTH; ++i) {
        trendHistory.samples[i] = 0;
        trendHistory.drawnHeights[i] = 0;
    }
    trendHistory.sampleWritePos.store(0);
    trendHistory.drawPos = 0;
    trendHistory.drawnWritePos = 0;
    trendHistory.lastDrawnHeight = 0;
    trendHistory.firstSamplePending = true;
}
