// Roll mode, Stop at Alarm, Reset buttons and the keyboard latch.
#include "app/keyboard.h"
#include "app/menu_commands.h"

#include <gtest/gtest.h>

#include <vector>

#include "app/resource.h"
#include "app_test_support.h"
#include "base/settings.h"
#include "trend/trend_history.h"

namespace {

bool checked[3000];

// What each save would have written: the record as it is when the file is written.
struct Saved {
    int rollMode;
    int stopAtAlarm;
    bool operator==(const Saved &) const = default;
};
std::vector<Saved> saves;

void check(int id, bool on)
{
    checked[id] = on;
}

void save()
{
    saves.push_back({monitorSettings.rollMode, monitorSettings.stopAtAlarm});
}

const ShellOps ops = {[](int) { return 0; }, [] {}, [](unsigned) { return false; }, check, [](const char *) {},
                      save, [] {}, [](bool) {}};

class MenuCommands : public ::testing::Test {
protected:
    void SetUp() override
    {
        resetAppState();
        for (bool &c : checked)
            c = false;
        saves.clear();
    }
};

TEST_F(MenuCommands, StartUpChecksTheRollModeAndStopAtAlarm)
{
    checkViewItems(ops);
    EXPECT_TRUE(checked[IDM_ROLL_30S]);
    EXPECT_FALSE(checked[IDM_STOP_AT_ALARM]);

    monitorSettings.rollMode = 2;
    monitorSettings.stopAtAlarm = 1;
    checkViewItems(ops);
    EXPECT_TRUE(checked[IDM_ROLL_60S]);
    EXPECT_TRUE(checked[IDM_STOP_AT_ALARM]);
}

TEST_F(MenuCommands, ARollChangeMovesTheCheckSavesAndDropsSamplesOfTheOldPace)
{
    checkViewItems(ops);
    EXPECT_FALSE(chooseRollMode(ops, 1));
    EXPECT_TRUE(saves.empty());

    // One sample drawn (three measurements at 30 s), then 37 waiting when the mode changes.
    for (int i = 0; i < 3; ++i)
        dispatchCode(50);
    ASSERT_TRUE(trendSamplePending());
    consumeTrendSample();
    for (int i = 0; i < 37 * 3; ++i)
        dispatchCode(60);
    ASSERT_TRUE(trendSamplePending());

    EXPECT_TRUE(chooseRollMode(ops, 0));
    EXPECT_EQ(monitorSettings.rollMode, 0);
    EXPECT_FALSE(checked[IDM_ROLL_30S]);
    EXPECT_TRUE(checked[IDM_ROLL_10S]);
    EXPECT_EQ(saves, (std::vector<Saved>{{0, 0}})) << "the new mode is saved";
    EXPECT_FALSE(trendSamplePending());
}

TEST_F(MenuCommands, StopAtAlarmTogglesSwitchAndCheckAndSavesEachTime)
{
    toggleStopAtAlarm(ops);
    EXPECT_EQ(monitorSettings.stopAtAlarm, 1);
    EXPECT_TRUE(checked[IDM_STOP_AT_ALARM]);
    toggleStopAtAlarm(ops);
    EXPECT_EQ(monitorSettings.stopAtAlarm, 0);
    EXPECT_FALSE(checked[IDM_STOP_AT_ALARM]);
    EXPECT_EQ(saves, (std::vector<Saved>{{1, 1}, {1, 0}})) << "each save holds the new switch";
}

TEST_F(MenuCommands, ResetButtonsSendTheirCommandsAndTheDpdtResetShowsZeroAtOnce)
{
    dispatchCode(633);
    liveReadings.peaksChanged = 0;
    resetPeak(ID_RESET_MAX_PEAK);
    resetPeak(ID_RESET_MIN_PEAK);
    EXPECT_EQ(liveReadings.dpdtPeak, 33);
    EXPECT_EQ(liveReadings.peaksChanged, 0);
    resetPeak(ID_RESET_DPDT_PEAK);
    EXPECT_EQ(sentCodes(), (std::vector<DeviceCode>{65053, 65054, 65055}));
    EXPECT_EQ(liveReadings.dpdtPeak, 0);
    EXPECT_EQ(liveReadings.peaksChanged, 1);
}

class Keyboard : public ::testing::Test {
protected:
    void SetUp() override { resetAppState(); }
};

TEST_F(Keyboard, HoldingSpaceSendsOneCode)
{
    for (int i = 0; i < 5; ++i)
        keyDown(KEY_SPACE);
    EXPECT_EQ(sentCodes(), std::vector<DeviceCode>{CMD_SPACE_KEY});
    keyUp();
    keyDown(KEY_SPACE);
    EXPECT_EQ(sentCodes(), std::vector<DeviceCode>{CMD_SPACE_KEY});
}

TEST_F(Keyboard, PauseTogglesTheFreezeOncePerPressWithAFullRedraw)
{
    keyDown(KEY_PAUSE);
    keyDown(KEY_PAUSE);
    EXPECT_EQ(uiState.trendFrozen, 1);
    EXPECT_EQ(uiState.fullRedrawRequested, 1);
    uiState.fullRedrawRequested = 0;
    keyUp();
    keyDown(KEY_PAUSE);
    EXPECT_EQ(uiState.trendFrozen, 0);
    EXPECT_EQ(uiState.fullRedrawRequested, 1);
    EXPECT_TRUE(sentCodes().empty());
}

TEST_F(Keyboard, AKeyPressedWhileAnotherIsHeldIsIgnored)
{
    keyDown('A');
    keyDown(KEY_SPACE);
    keyDown(KEY_PAUSE);
    EXPECT_TRUE(sentCodes().empty());
    EXPECT_EQ(uiState.trendFrozen, 0);
    keyUp();
    keyDown(KEY_SPACE);
    EXPECT_EQ(sentCodes(), std::vector<DeviceCode>{CMD_SPACE_KEY});
}

} // namespace
