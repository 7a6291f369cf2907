// The Win32 upload confirmation event: parameters stored before the signal are seen after the wait.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "app/code_dispatch.h"
#include "link/frame_codec.h"
#include "link/link_events.h"
#include "link/link_events_win32.h"
#include "link/shared_field.h"
#include "params/parameter_set.h"

namespace {

TEST(LinkEventsWin32, UploadAnswerWakesTheWaiterWithItsParameters)
{
    std::memset(&deviceParameters, 0, sizeof deviceParameters);
    ASSERT_TRUE(createUploadConfirmEvent());
    std::atomic<int> requested{0};
    std::atomic<bool> stop{false};
    std::thread reader([&] {
        int answered = 0;
        while (!stop.load()) {
            const int want = requested.load(std::memory_order_acquire);
            if (want == answered) {
                Sleep(0);
                continue;
            }
            std::uint8_t frame[FRAME_SIZE];
            for (DeviceCode c : {static_cast<DeviceCode>(10000 + want), DeviceCode{3001}}) {
                encodeFrame(c, frame);
                receiveBytes(frame, FRAME_SIZE);
            }
            answered = want;
        }
    });
    for (int round = 1; round <= 100; ++round) {
        resetUploadConfirm();
        requested.store(round, std::memory_order_release);
        ASSERT_TRUE(waitUploadConfirm(5000));
        ASSERT_EQ(sharedLoad(deviceParameters.ts), round);
    }
    stop = true;
    reader.join();
    resetUploadConfirm();
    EXPECT_FALSE(waitUploadConfirm(50));
    destroyUploadConfirmEvent();
}

TEST(LinkEventsWin32, WithoutAnEventEveryWaitFailsAtOnce)
{
    destroyUploadConfirmEvent();
    const DWORD start = GetTickCount();
    EXPECT_FALSE(waitUploadConfirm(2000));
    EXPECT_LT(GetTickCount() - start, 1000u);
    signalUploadConfirm(); // harmless
    signalTxReady();
}

} // namespace
