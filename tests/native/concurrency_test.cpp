// Reader-side dispatch on one thread while another drains the trend, reads the readings and waits
// for upload answers, as the GUI thread does. Built with ThreadSanitizer in its own configuration.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "link/frame_codec.h"
#include "link/shared_field.h"
#include "test_state.h"

namespace {

TEST(Concurrency, ReaderDispatchAgainstGuiConsumers)
{
    resetCoreState();
    monitorSettings.rollMode = 0;
    constexpr int ROUNDS = 200;
    std::atomic<int> requested{0};
    std::atomic<bool> stop{false};

    std::thread reader([&] {
        int answered = 0;
        std::uint8_t frame[FRAME_SIZE];
        for (unsigned i = 0; !stop.load(std::memory_order_relaxed); ++i) {
            const DeviceCode stream[] = {static_cast<DeviceCode>(i % 200), static_cast<DeviceCode>(400 + i % 200),
                                         static_cast<DeviceCode>(200 + i % 200), static_cast<DeviceCode>(600 + i % 400),
                                         65014, STATUS_DVDT};
            for (DeviceCode c : stream) {
                encodeFrame(c, frame);
                // Four bytes at a time, like the port reads, so frames straddle blocks.
                receiveBytes(frame, 4);
                receiveBytes(frame + 4, 2);
            }
            const int want = requested.load(std::memory_order_acquire);
            if (want != answered) {
                // The device's answer: a parameter, then the upload code that confirms.
                for (DeviceCode c : {static_cast<DeviceCode>(3800 + want), DeviceCode{3000}, DeviceCode{65277},
                                     UNIT_TEXT_END}) {
                    encodeFrame(c, frame);
                    receiveBytes(frame, FRAME_SIZE);
                }
                answered = want;
            }
        }
    });

    int drawn = 0;
    for (int round = 1; round <= ROUNDS; ++round) {
        resetUploadConfirm();
        requested.store(round, std::memory_order_release);
        ASSERT_TRUE(waitUploadConfirm(5000)) << round;
        // Everything the reader stored before it signalled is visible now.
        ASSERT_EQ(sharedLoad(deviceParameters.p1Max), round);
        for (int i = 0; i < 50 && trendSamplePending(); ++i) {
            const TrendStep step = consumeTrendSample();
            ASSERT_GE(step.height, 0);
            ASSERT_LT(step.height, 400);
            ++drawn;
        }
        const int m = sharedLoad(liveReadings.measurement);
        ASSERT_TRUE(m >= -1 && m < 200);
        // The GUI thread's own writes to the shared readings.
        if (sharedLoad(liveReadings.linkAliveTicks) > 0)
            sharedStore(liveReadings.linkAliveTicks, sharedLoad(liveReadings.linkAliveTicks) - 1);
        sharedStore(liveReadings.peaksChanged, 0);
        sharedStore(liveReadings.dvdtSeen, 0);
        sharedStore(liveReadings.alarmStopCountdown, 0);
        char unit[UNIT_TEXT_SIZE + 1];
        copyUnitText(unit);
        if (round % 10 == 0) {
            clearUnitText();
            sharedStore(monitorSettings.stopAtAlarm, sharedLoad(monitorSettings.stopAtAlarm) ^ 1);
            sharedStore(monitorSettings.rollMode, round % 3);
            resyncTrend();
        }
    }
    stop.store(true);
    reader.join();
    EXPECT_GT(drawn, 0);
}

TEST(Concurrency, TheConfirmingCodesOwnValueIsVisibleToTheWaiterItWakes)
{
    // Each of 3000..3009 both carries limit1Mode and signals the confirmation:
    // its store must come before the signal.
    resetCoreState();
    constexpr int ROUNDS = 2000;
    constexpr int MODE_VALUES = 10; // 3000..3009
    // Round 0 starts from the cleared field: every round changes the value.
    const auto modeOfRound = [](int round) { return (round + 1) % MODE_VALUES; };
    std::atomic<int> requested{-1};
    std::atomic<bool> stop{false};

    std::thread reader([&] {
        int answered = -1;
        std::uint8_t frame[FRAME_SIZE];
        while (!stop.load(std::memory_order_relaxed)) {
            const int want = requested.load(std::memory_order_acquire);
            if (want == answered) {
                std::this_thread::yield();
                continue;
            }
            encodeFrame(static_cast<DeviceCode>(3000 + modeOfRound(want)), frame);
            receiveBytes(frame, FRAME_SIZE);
            answered = want;
        }
    });

    // The first round that goes wrong ends the loop; the reader is stopped before the verdict.
    int round = 0;
    bool woken = true;
    int expected = 0;
    int seen = 0;
    for (; round < ROUNDS && woken && seen == expected; ++round) {
        resetUploadConfirm();
        requested.store(round, std::memory_order_release);
        expected = modeOfRound(round);
        woken = waitUploadConfirm(5000);
        // A plain read: only the wait orders it after the reader's store, so
        // ThreadSanitizer reports a store made after the signal, and the value
        // read may be the previous round's.
        seen = deviceParameters.limit1Mode;
    }
    stop.store(true);
    reader.join();
    EXPECT_TRUE(woken) << "round " << round - 1;
    EXPECT_EQ(seen, expected) << "round " << round - 1;
}

} // namespace
