// Shared set-up for the application shell tests: clean records and the codes put on the wire.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "app/code_dispatch.h"
#include "app/ui_state.h"
#include "base/live_readings.h"
#include "link/frame_codec.h"
#include "link/transmit.h"
#include "params/parameter_set.h"
#include "tests/native/test_state.h"

inline void resetAppState()
{
    resetCoreState();
    resetUiState();
}

// Everything waiting in the byte ring, decoded as the device would.
inline std::vector<DeviceCode> sentCodes()
{
    std::vector<DeviceCode> codes;
    std::uint8_t buf[TX_RING_SIZE];
    const int n = txRingTake(buf);
    EXPECT_EQ(n % static_cast<int>(FRAME_SIZE), 0);
    for (int i = 0; i + 6 <= n; i += 6) {
        std::uint8_t collected[8] = {buf[i], buf[i + 1], buf[i + 2], buf[i + 3], buf[i + 4], 0};
        EXPECT_TRUE(checksumValid(collected));
        codes.push_back(decodeFrame(collected));
    }
    return codes;
}

inline void setUnitText(const char *text)
{
    std::memset(deviceParameters.unitText, 0, sizeof deviceParameters.unitText);
    std::strncpy(deviceParameters.unitText, text, sizeof deviceParameters.unitText - 1);
}
