// Receive path, the program's side: the line's codes applied to the live readings, parameters and trend.
#include "app/code_dispatch.h"

#include <atomic>

#include "base/live_readings.h"
#include "base/settings.h"
#include "link/link_events.h"
#include "link/shared_field.h"
#include "params/parameter_set.h"
#include "trend/trend_history.h"

ReceiveState receiveState;

// One bit per entry of PARAMETER_FIELDS: received since beginUploadAnswer or,
// later, since the first code of the answer now arriving.
static std::atomic<std::uint32_t> uploadFieldsSeen;
static constexpr std::uint32_t ALL_UPLOAD_FIELDS = (1u << PARAMETER_COUNT) - 1;
static_assert(PARAMETER_COUNT < 32);

// The last byte of unitText is kept for the terminator: a device that sends more
// characters than fit loses the surplus, and the text always stays terminated.
static constexpr std::int32_t UNIT_TEXT_LAST = static_cast<std::int32_t>(UNIT_TEXT_SIZE) - 1;

// Every valid frame is a sign of life, whatever it carries.
static void consumeCode(void *, DeviceCode code)
{
    sharedStore(liveReadings.linkAliveTicks, LINK_ALIVE_RELOAD);
    dispatchCode(code);
}

void receiveBytes(const std::uint8_t *bytes, int count)
{
    assembleFrames(&receiveState.assembly, bytes, count, consumeCode, nullptr);
}

static void storeUnitTextByte(char c)
{
    ReceiveState &rx = receiveState;
    const bool terminator = c == 0;
    if (rx.unitTextIndex < UNIT_TEXT_LAST || (terminator && rx.unitTextIndex == UNIT_TEXT_LAST)) {
        sharedStore(deviceParameters.unitText[rx.unitTextIndex], c);
    } else if (terminator) {
        sharedStore(deviceParameters.unitText[UNIT_TEXT_LAST], 0);
    }
    if (rx.unitTextIndex <= UNIT_TEXT_LAST)
        ++rx.unitTextIndex;
}

static void dispatchMeasurement(DeviceCode code)
{
    sharedStore(liveReadings.measurement, code);
    ReceiveState &rx = receiveState;
    ++rx.sampleCounter;
    if (rx.sampleCounter >= samplesPerColumn[currentRollMode()]) {
        rx.sampleCounter = 0;
        appendSample(code);
    }
}

static void dispatchPeak(std::int32_t &peak, std::int32_t value)
{
    sharedStore(peak, value);
    sharedStore(liveReadings.peaksChanged, 1);
}

void dispatchCode(DeviceCode code)
{
    if (code <= MEASUREMENT_LAST) {
        dispatchMeasurement(code);
    } else if (code < MAX_PEAK_BASE) {
        dispatchPeak(liveReadings.minPeak, code - MIN_PEAK_BASE);
    } else if (code < DPDT_PEAK_BASE) {
        dispatchPeak(liveReadings.maxPeak, code - MAX_PEAK_BASE);
    } else if (code <= DPDT_PEAK_LAST) {
        dispatchPeak(liveReadings.dpdtPeak, code - DPDT_PEAK_BASE);
    } else if (code < PARAMETER_CODE_FIRST) {
        // not a code the device uses
    } else if (code <= PARAMETER_CODE_LAST) {
        const ParameterField *field = parameterFieldForCode(code);
        sharedStore(deviceParameters.*field->member, static_cast<std::uint16_t>(code - field->base));
        const std::uint32_t mark = 1u << (field - PARAMETER_FIELDS);
        if (field->base == UPLOAD_ANSWER_BASE) {
            // The answer to an upload request starts here. Its marks start
            // afresh: codes of an older answer still arriving (the unit text
            // poll's) hold that answer's values and must not help complete
            // this one. The stores above must be visible to whoever wakes
            // from the event.
            uploadFieldsSeen.store(mark, std::memory_order_release);
            signalUploadConfirm();
            receiveState.unitTextIndex = 0;
        } else {
            uploadFieldsSeen.fetch_or(mark, std::memory_order_release);
        }
    } else if ((code >= ALARM_LOW_FIRST && code <= ALARM_LOW_LAST) ||
               (code >= ALARM_HIGH_FIRST && code <= ALARM_HIGH_LAST)) {
        if (stopAtAlarmOn())
            sharedStore(liveReadings.alarmStopCountdown, 1);
    } else if (code == STATUS_DVDT) {
        sharedStore(liveReadings.dvdtSeen, 1);
    } else if (code >= UNIT_CHAR_BASE && code <= UNIT_CHAR_LAST) {
        const bool end = code == UNIT_TEXT_END;
        storeUnitTextByte(end ? '\0' : static_cast<char>(static_cast<std::uint8_t>(code - UNIT_CHAR_BASE)));
    }
}

void beginUploadAnswer()
{
    uploadFieldsSeen.store(0, std::memory_order_relaxed);
}

bool wholeUploadAnswerSeen()
{
    return uploadFieldsSeen.load(std::memory_order_acquire) == ALL_UPLOAD_FIELDS;
}

void resetReceiveState()
{
    beginUploadAnswer();
    receiveState = ReceiveState{};
}

