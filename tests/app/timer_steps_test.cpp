// Timer steps: alarm stop delay, pacing, transfer check, link watchdog, panel check and unit text poll.
#include "app/timer_steps.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "app_test_support.h"
#include "base/settings.h"
#include "link/link_events.h"
#include "link/link_events_std.h"
#include "link/shared_field.h"

namespace {

// The first `count` codes of the device's answer: limit1Mode, then the rest
// in send order (limit1Mode leads PARAMETER_FIELDS).
void sendAnswerCodes(const ParameterSet &set, int first, int count)
{
    for (int i = first; i < count; ++i)
        dispatchCode(static_cast<DeviceCode>(PARAMETER_FIELDS[i].base + set.*PARAMETER_FIELDS[i].member));
}

// The device's whole answer, limit1Mode first; the rest follows after a pause.
void answerUpload(const ParameterSet &set, int pauseMs)
{
    sendAnswerCodes(set, 0, 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
    sendAnswerCodes(set, 1, PARAMETER_COUNT);
}

// The device's side: returns once the upload request is on the line.
void awaitUploadRequest()
{
    for (int waited = 0; waited < 5000; ++waited) {
        for (DeviceCode c : sentCodes())
            if (c == CMD_REQUEST_UPLOAD)
                return;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ADD_FAILURE() << "no upload request";
}

class TimerSteps : public ::testing::Test {
protected:
    void SetUp() override { resetAppState(); }

    // Ticks until the trend freezes; 0 when it has not after limit ticks.
    static int ticksUntilFrozen(int limit)
    {
        for (int i = 1; i <= limit; ++i) {
            runTickStep();
            if (uiState.trendFrozen)
                return i;
        }
        return 0;
    }
};

TEST_F(TimerSteps, AlarmFreezesTheTrendAfterTheRollModesTickCount)
{
    const int expected[3] = {39, 119, 239}; // the count starts at 1 and freezes on reaching 40/120/240
    for (int mode = 0; mode < 3; ++mode) {
        resetAppState();
        monitorSettings.stopAtAlarm = 1;
        monitorSettings.rollMode = static_cast<std::uint16_t>(mode);
        dispatchCode(65014);
        EXPECT_EQ(ticksUntilFrozen(300), expected[mode]) << "roll mode " << mode;
        EXPECT_EQ(uiState.fullRedrawRequested, 1);
        EXPECT_EQ(liveReadings.alarmStopCountdown, 0);
    }
}

TEST_F(TimerSteps, AlarmStopIsOffWithoutTheSwitchAndRestartsOnANewAlarm)
{
    monitorSettings.rollMode = 0;
    dispatchCode(65014);
    EXPECT_EQ(ticksUntilFrozen(100), 0);

    monitorSettings.stopAtAlarm = 1;
    dispatchCode(65049);
    for (int i = 0; i < 30; ++i)
        runTickStep();
    dispatchCode(65024); // the count starts again from 1
    EXPECT_EQ(ticksUntilFrozen(100), 39);
}

TEST_F(TimerSteps, AnOutOfRangeRollModeStillGivesAFiniteDelay)
{
    monitorSettings.rollMode = 7;
    monitorSettings.stopAtAlarm = 1;
    dispatchCode(65014);
    EXPECT_EQ(ticksUntilFrozen(300), 119);
}

TEST_F(TimerSteps, OneQueuedCodeLeavesPerTickAndTheWatchdogWaits)
{
    for (int i = 0; i < 3; ++i)
        queueCode(3100, i);
    for (int i = 0; i < 3; ++i) {
        runTickStep();
        EXPECT_EQ(sentCodes(), std::vector<DeviceCode>{static_cast<DeviceCode>(3100 + i)});
    }
    EXPECT_EQ(liveReadings.linkAliveTicks, LINK_ALIVE_START) << "ticks that sent a code do not count down";
    runTickStep();
    EXPECT_TRUE(sentCodes().empty());
    EXPECT_EQ(liveReadings.linkAliveTicks, LINK_ALIVE_START - 1);
}

TEST_F(TimerSteps, ACodeThatFindsTheRingFullIsHeldForTheNextTick)
{
    // Five frames fill the 31-byte ring (nobody drains it: no port).
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(sendCode(65053));
    queueCode(3200, 5);
    queueCode(3200, 6);
    const TickOutcome held = runTickStep();
    EXPECT_EQ(held.transfer, TransferCheck::None);
    EXPECT_EQ(codeQueueCount(), 2);
    EXPECT_EQ(liveReadings.linkAliveTicks, LINK_ALIVE_START) << "a held code still uses the tick";

    EXPECT_EQ(sentCodes().size(), 5u); // the writer catches up
    runTickStep();
    runTickStep();
    EXPECT_EQ(sentCodes(), (std::vector<DeviceCode>{3205, 3206}));
}

TEST_F(TimerSteps, TransferCheckWaitsOnlyAfterTheQueueHasDrained)
{
    queueCode(3100, 80);
    uiState.transferConfirmPending = 1;
    runTickStep();
    EXPECT_EQ(sentCodes(), std::vector<DeviceCode>{3180});
    EXPECT_EQ(uiState.transferConfirmPending, 1);

    // The device answers the upload request while the tick waits: limit1Mode
    // first, the changed setpoint only later.
    requestedParameters.limit1Setpoint = 80;
    std::thread device([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        answerUpload(requestedParameters, 30);
    });
    const TickOutcome outcome = runTickStep();
    device.join();
    EXPECT_EQ(outcome.transfer, TransferCheck::Confirmed);
    EXPECT_EQ(uiState.transferConfirmPending, 0);
    EXPECT_EQ(sentCodes(), std::vector<DeviceCode>{CMD_REQUEST_UPLOAD});
    EXPECT_EQ(liveReadings.linkAliveTicks, LINK_ALIVE_START) << "the checking tick is no watchdog tick";
    EXPECT_FALSE(uploadConfirmSignalled()) << "the confirmation is reset after the check";
}

TEST_F(TimerSteps, TransferCheckReportsADifferenceOnce)
{
    uiState.transferConfirmPending = 1;
    requestedParameters.limit2Setpoint = 50;
    std::thread device([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        answerUpload(ParameterSet{}, 0); // the device kept limit2Setpoint 0
    });
    EXPECT_EQ(runTickStep().transfer, TransferCheck::Mismatch);
    device.join();
    EXPECT_EQ(runTickStep().transfer, TransferCheck::None);
}

TEST_F(TimerSteps, AnAnswerWithoutTheWholeSetIsAConfirmationTimeOut)
{
    // After a Load deviceParameters holds the file's set, limit1Setpoint 45;
    // the device kept 80. Fields it does not re-report would all seem to match.
    const struct {
        const char *what;
        int codes;
    } cases[] = {{"answer cut short", 6}, {"one stray code, no answer", 1}};
    for (const auto &c : cases) {
        resetAppState();
        deviceParameters.limit1Mode = 1;
        deviceParameters.limit1Setpoint = 45;
        snapshotParameters();
        uiState.transferConfirmPending = 1;
        ParameterSet device = deviceParameters;
        device.limit1Setpoint = 80;
        std::thread line([&] {
            awaitUploadRequest();
            sendAnswerCodes(device, 0, c.codes);
        });
        EXPECT_EQ(runTickStep().transfer, TransferCheck::Timeout) << c.what;
        line.join();
        EXPECT_EQ(runTickStep().transfer, TransferCheck::None) << c.what << ": one message";
    }
}

TEST_F(TimerSteps, CodesOfAnOlderAnswerDoNotCompleteTheNewOne)
{
    // The unit text poll asked while the codes went out: the tail of its
    // answer, with the setpoint from before the transfer, is still arriving
    // when the check asks.
    ParameterSet before{};
    before.limit1Setpoint = 80;
    requestedParameters.limit1Setpoint = 45;
    uiState.transferConfirmPending = 1;
    std::thread line([&] {
        awaitUploadRequest();
        sendAnswerCodes(before, 1, PARAMETER_COUNT);
        answerUpload(requestedParameters, 30);
    });
    EXPECT_EQ(runTickStep().transfer, TransferCheck::Confirmed);
    line.join();
}

TEST_F(TimerSteps, TransferCheckCountsAStaleConfirmationAsNoAnswer)
{
    // A signal left over from an earlier answer is reset before the wait, so a
    // silent device ends in the time-out (after the full 2 s).
    signalUploadConfirm();
    uiState.transferConfirmPending = 1;
    EXPECT_EQ(runTickStep().transfer, TransferCheck::Timeout);
    EXPECT_EQ(uiState.transferConfirmPending, 0);
}

TEST_F(TimerSteps, WithoutTheEventEveryTransferCheckTimesOutAtOnce)
{
    destroyUploadConfirmEvent();
    uiState.transferConfirmPending = 1;
    EXPECT_EQ(runTickStep().transfer, TransferCheck::Timeout);
    EXPECT_EQ(runTickStep().transfer, TransferCheck::None);
}

TEST_F(TimerSteps, WithNoPortATransferEndsInOneTimeOutAndTheWatchdogGoesOn)
{
    // No connection: nothing drains the ring, yet the codes leave one per tick
    // (lost on the dead line) instead of waiting for whatever port opens next.
    detachTransmitWriter();
    destroyUploadConfirmEvent(); // the time-out at once instead of after 2 s
    ASSERT_TRUE(queueParameterSet());
    uiState.transferConfirmPending = 1;
    sharedStore(liveReadings.linkAliveTicks, 5);
    for (int i = 0; i < PARAMETER_COUNT; ++i)
        ASSERT_EQ(runTickStep().transfer, TransferCheck::None) << i;
    EXPECT_TRUE(codeQueueEmpty());
    EXPECT_EQ(liveReadings.linkAliveTicks, 5);
    EXPECT_EQ(runTickStep().transfer, TransferCheck::Timeout);
    EXPECT_EQ(runTickStep().transfer, TransferCheck::None);
    EXPECT_EQ(liveReadings.linkAliveTicks, 4);

    // A port opened later starts clean: nothing of that transfer reaches it.
    ASSERT_TRUE(queueParameterSet());
    sendQueuedCode();
    attachTransmitWriter();
    EXPECT_TRUE(codeQueueEmpty());
    EXPECT_TRUE(sentCodes().empty());
}

TEST_F(TimerSteps, SilentLinkCountsDownFifteenIdleTicksThenVoidsTheReadingsOnce)
{
    for (DeviceCode c : {3000, 65277, 65213, 57, 407, 212, 633})
        dispatchCode(c);
    liveReadings.linkAliveTicks = LINK_ALIVE_RELOAD; // as after a valid frame
    for (int i = 0; i < 15; ++i)
        EXPECT_FALSE(runTickStep().readingsVoided) << i;
    EXPECT_EQ(liveReadings.linkAliveTicks, 0);
    EXPECT_EQ(liveReadings.measurement, 57);

    EXPECT_TRUE(runTickStep().readingsVoided);
    EXPECT_EQ(liveReadings.measurement, -1);
    EXPECT_EQ(liveReadings.maxPeak, -1);
    EXPECT_EQ(liveReadings.minPeak, -1);
    EXPECT_EQ(liveReadings.dpdtPeak, -1);
    EXPECT_FALSE(unitTextKnown());
    EXPECT_EQ(uiState.frameRedrawRequested, 1);

    uiState.frameRedrawRequested = 0;
    EXPECT_FALSE(runTickStep().readingsVoided);
    EXPECT_EQ(uiState.frameRedrawRequested, 0);
}

TEST_F(TimerSteps, PanelCheckRepaintsOnlyOnNews)
{
    EXPECT_TRUE(runPanelCheck()) << "-1 differs from the initial 0";
    EXPECT_EQ(uiState.lastPaintedMeasurement, -1);
    EXPECT_FALSE(runPanelCheck());

    dispatchCode(57);
    EXPECT_TRUE(runPanelCheck());
    EXPECT_FALSE(runPanelCheck());

    dispatchCode(410);
    EXPECT_TRUE(runPanelCheck());
    EXPECT_EQ(liveReadings.peaksChanged, 0);
    EXPECT_FALSE(runPanelCheck());

    dispatchCode(STATUS_DVDT);
    EXPECT_TRUE(runPanelCheck());
    EXPECT_EQ(liveReadings.dvdtSeen, 1) << "left for the paint to show and clear";
    EXPECT_EQ(uiState.frameRedrawRequested, 0);
}

TEST_F(TimerSteps, PanelCheckRepaintsWhenOnlyTheUnitTextChanged)
{
    dispatchCode(57);
    runPanelCheck();
    ASSERT_FALSE(runPanelCheck());
    for (DeviceCode c : {3000, 65277, 65287, 65213}) // the answer brings "MW"
        dispatchCode(c);
    liveReadings.peaksChanged = 0;
    EXPECT_TRUE(runPanelCheck()) << "unit text arrived";
    EXPECT_FALSE(runPanelCheck());
    EXPECT_EQ(uiState.frameRedrawRequested, 0);
    clearUnitText();
    EXPECT_TRUE(runPanelCheck()) << "unit text lost";
    EXPECT_FALSE(runPanelCheck());
}

TEST_F(TimerSteps, PanelCheckAsksForAFrameRedrawWhenAValueLosesADigit)
{
    // The measurement and the dPdt peak are drawn without leading blanks.
    const struct {
        const char *what;
        DeviceCode before, after;
        int redraw;
    } rows[] = {
        {"measurement, three digits to three", 150, 100, 0},
        {"measurement, three digits to two", 100, 99, 1},
        {"dPdt peak, three digits to three", DPDT_PEAK_BASE + 150, DPDT_PEAK_BASE + 100, 0},
        {"dPdt peak, three digits to two", DPDT_PEAK_BASE + 100, DPDT_PEAK_BASE + 99, 1},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.what);
        resetAppState();
        deviceParameters.dpdtMode = 1;
        dispatchCode(57);
        dispatchCode(r.before);
        runPanelCheck();
        uiState.frameRedrawRequested = 0;
        dispatchCode(r.after);
        EXPECT_TRUE(runPanelCheck());
        EXPECT_EQ(uiState.frameRedrawRequested, r.redraw);
    }

    resetAppState();
    uiState.frameRedrawRequested = 0;
    dispatchCode(120);
    runPanelCheck();
    liveReadings.measurement = -1; // link lost: -1 counts as below 100
    EXPECT_TRUE(runPanelCheck());
    EXPECT_EQ(uiState.frameRedrawRequested, 1);
}

TEST_F(TimerSteps, PollAsksForTheUnitTextOnlyWhileTheLinkIsAliveAndTheTextMissing)
{
    EXPECT_TRUE(runPollStep()); // alive from start-up
    EXPECT_EQ(sentCodes(), std::vector<DeviceCode>{CMD_REQUEST_UPLOAD});

    setUnitText("MW");
    EXPECT_FALSE(runPollStep());
    EXPECT_TRUE(sentCodes().empty());

    setUnitText("");
    liveReadings.linkAliveTicks = 0;
    EXPECT_FALSE(runPollStep());
    EXPECT_TRUE(sentCodes().empty());
}

} // namespace
