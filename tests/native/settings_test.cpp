// MonitorSettings: default image and the fallback for values the program never writes.
#include <gtest/gtest.h>

#include <cstring>

#include "base/settings.h"

namespace {

TEST(Settings, DefaultsAreTheNewFileImage)
{
    std::memset(&monitorSettings, 0xAB, sizeof monitorSettings);
    setSettingsDefaults();
    const auto *b = reinterpret_cast<const std::uint8_t *>(&monitorSettings);
    for (std::size_t i = 0; i < SETTINGS_FILE_SIZE; ++i) {
        const std::uint8_t expected = (i == 0 || i == 260) ? 1 : 0;
        ASSERT_EQ(b[i], expected) << i;
    }
}

TEST(Settings, ValidValuesIncludingThePortFailedMarkAreKept)
{
    for (std::uint16_t port : {1, 8, 11, 18}) {
        MonitorSettings s{};
        s.comPort = port;
        s.rollMode = 2;
        s.stopAtAlarm = 1;
        s.reserved1[5] = 9;
        EXPECT_EQ(sanitizeSettings(&s), 0u);
        EXPECT_EQ(s.comPort, port);
        EXPECT_EQ(s.reserved1[5], 9);
    }
}

TEST(Settings, ImpossibleValuesFallBackToDefaults)
{
    for (std::uint16_t port : {0, 9, 10, 19, 0xFFFF}) {
        MonitorSettings s{};
        s.comPort = port;
        s.rollMode = 1;
        EXPECT_EQ(sanitizeSettings(&s), unsigned{SETTINGS_FIXED_COM_PORT}) << port;
        EXPECT_EQ(s.comPort, 1);
    }
    // The first roll mode and the first switch value the program never writes.
    MonitorSettings s{};
    s.comPort = 3;
    s.rollMode = ROLL_MODE_COUNT;
    s.stopAtAlarm = 2;
    EXPECT_EQ(sanitizeSettings(&s), unsigned{SETTINGS_FIXED_ROLL_MODE | SETTINGS_FIXED_STOP_AT_ALARM});
    EXPECT_EQ(s.rollMode, 1);
    EXPECT_EQ(s.stopAtAlarm, 0);
    s.rollMode = 0xFFFF;
    EXPECT_EQ(sanitizeSettings(&s), unsigned{SETTINGS_FIXED_ROLL_MODE});
    EXPECT_EQ(s.rollMode, 1);
}

TEST(Settings, RollModeAccessorNeverLeavesTheTables)
{
    setSettingsDefaults();
    for (std::uint16_t outside : {ROLL_MODE_COUNT, 400}) {
        monitorSettings.rollMode = outside;
        EXPECT_EQ(currentRollMode(), 1) << outside;
    }
    monitorSettings.rollMode = ROLL_MODE_COUNT - 1;
    EXPECT_EQ(currentRollMode(), ROLL_MODE_COUNT - 1);
}

} // namespace
