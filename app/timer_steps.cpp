// Timer steps: alarm stop, code pacing, transfer check, link watchdog, panel check and unit text poll.
#include "app/timer_steps.h"

#include <cstdint>
#include <cstring>

#include "app/reply_check.h"
#include "app/ui_state.h"
#include "base/live_readings.h"
#include "base/settings.h"
#include "link/link_events.h"
#include "link/shared_field.h"
#include "link/transmit.h"
#include "params/parameter_set.h"

static void advanceAlarmStop()
{
    const unsigned count = sharedLoad(liveReadings.alarmStopCountdown);
    if (count == 0)
        return;
    // The reader thread may restart the count (store 1) at any moment; a
    // restart lost here is repeated by the device's next alarm code.
    if (count + 1 >= alarmStopTicks[currentRollMode()]) {
        sharedStore(liveReadings.alarmStopCountdown, 0);
        uiState.trendFrozen = 1;
        uiState.fullRedrawRequested = 1;
    } else {
        sharedStore(liveReadings.alarmStopCountdown, count + 1);
    }
}

static TransferCheck checkTransfer()
{
    // Cleared first: the message boxes below run a message loop, and the ticks
    // that arrive meanwhile must not start a second check.
    uiState.transferConfirmPending = 0;
    // Only the device's whole answer confirms: fields it did not re-report
    // still hold the values sent, and would all seem to match.
    if (!awaitUploadAnswer(TRANSFER_CHECK_WAIT_MS))
        return TransferCheck::Timeout;
    return verifyParameters() ? TransferCheck::Confirmed : TransferCheck::Mismatch;
}

static bool superviseLink()
{
    const unsigned ticks = sharedLoad(liveReadings.linkAliveTicks);
    if (ticks != 0) {
        sharedStore(liveReadings.linkAliveTicks, ticks - 1);
        return false;
    }
    if (sharedLoad(liveReadings.measurement) == -1)
        return false;
    sharedStore(liveReadings.measurement, -1);
    sharedStore(liveReadings.maxPeak, -1);
    sharedStore(liveReadings.minPeak, -1);
    sharedStore(liveReadings.dpdtPeak, -1);
    clearUnitText();
    uiState.frameRedrawRequested = 1;
    return true;
}

TickOutcome runTickStep()
{
    TickOutcome outcome = {TransferCheck::None, false};
    advanceAlarmStop();
    // A code that finds the byte ring full is held and counts as this tick's code.
    if (sendQueuedCode() != QueuedSend::Empty)
        return outcome;
    if (uiState.transferConfirmPending)
        outcome.transfer = checkTransfer();
    else
        outcome.readingsVoided = superviseLink();
    return outcome;
}

// The measurement and the dPdt peak are drawn right-aligned without leading
// blanks, from three digits down to "--".
static constexpr std::int32_t FIRST_THREE_DIGIT_VALUE = 100;

static bool losesDigits(std::int32_t painted, std::int32_t now)
{
    return painted >= FIRST_THREE_DIGIT_VALUE && now < FIRST_THREE_DIGIT_VALUE;
}

// The dPdt peak as its text shows it: the dashes while the function is off.
static std::int32_t shownDpdtPeak()
{
    if (sharedLoad(deviceParameters.dpdtMode) == 0)
        return -1;
    return sharedLoad(liveReadings.dpdtPeak);
}

bool runPanelCheck()
{
    const std::int32_t measurement = sharedLoad(liveReadings.measurement);
    // The unit text arrives (or goes) on its own, usually after the first
    // measurement: with a steady reading nothing else would repaint the header.
    char unitText[UNIT_TEXT_SIZE + 1];
    copyUnitText(unitText);
    const bool unitChanged = std::strcmp(unitText, uiState.lastPaintedUnitText) != 0;
    if (measurement == uiState.lastPaintedMeasurement && sharedLoad(liveReadings.peaksChanged) == 0 &&
        sharedLoad(liveReadings.dvdtSeen) == 0 && !unitChanged)
        return false;
    std::memcpy(uiState.lastPaintedUnitText, unitText, sizeof unitText);
    // From three digits to fewer: the refilled panel leaves no stale digit.
    const std::int32_t dpdtPeak = shownDpdtPeak();
    if (losesDigits(uiState.lastPaintedMeasurement, measurement) ||
        losesDigits(uiState.lastPaintedDpdtPeak, dpdtPeak))
        uiState.frameRedrawRequested = 1;
    sharedStore(liveReadings.peaksChanged, 0);
    uiState.lastPaintedMeasurement = measurement;
    uiState.lastPaintedDpdtPeak = dpdtPeak;
    return true;
}

bool runPollStep()
{
    if (sharedLoad(liveReadings.linkAliveTicks) == 0 || unitTextKnown())
        return false;
    requestUpload();
    return true;
}
