// The device's codes applied to k614ctl's record: the upload answer's fields and unit text, peaks, rows and events.
#include "cli/line_record.h"

#include <cstring>

#include "link/frame_assembly.h"

static constexpr std::uint32_t ALL_FIELDS = (1u << PARAMETER_COUNT) - 1;
static_assert(PARAMETER_COUNT < 32);
// The last byte of the unit text stays its terminator, as in the program.
static constexpr int UNIT_TEXT_LAST = static_cast<int>(UNIT_TEXT_SIZE) - 1;

void resetLineRecord(LineRecord *record)
{
    std::memset(record, 0, sizeof *record);
    record->maxPeak = record->minPeak = record->dpdtPeak = NOT_REPORTED;
}

void beginAnswer(LineRecord *record)
{
    std::memset(&record->answer, 0, sizeof record->answer);
}

bool answerComplete(const UploadAnswer &answer)
{
    return answer.started && answer.fieldsSeen == ALL_FIELDS && answer.unitTextEnded;
}

bool isAlarmCode(DeviceCode code)
{
    return (code >= ALARM_LOW_FIRST && code <= ALARM_LOW_LAST) || (code >= ALARM_HIGH_FIRST && code <= ALARM_HIGH_LAST);
}

static void record_measurement(LineRecord *record, DeviceCode code)
{
    if (record->rowCount >= ROWS_MAX) {
        ++record->rowsDropped;
        return;
    }
    LogRow &row = record->rows[record->rowCount++];
    row.measurement = code;
    row.maxPeak = record->maxPeak;
    row.minPeak = record->minPeak;
    row.dpdtPeak = record->dpdtPeak;
    row.eventCount = record->eventCount;
    std::memcpy(row.events, record->events, sizeof row.events);
    record->eventCount = 0;
}

static void record_event(LineRecord *record, DeviceCode code)
{
    if (record->eventCount < ROW_EVENTS_MAX)
        record->events[record->eventCount++] = code;
    else
        ++record->eventsDropped;
}

static void record_parameter(UploadAnswer &answer, DeviceCode code)
{
    const ParameterField *field = parameterFieldForCode(code);
    if (field->base == UPLOAD_ANSWER_BASE) {
        // The answer starts here: what came before belongs to no answer of ours.
        std::memset(&answer, 0, sizeof answer);
        answer.started = true;
    }
    answer.set.*field->member = static_cast<std::uint16_t>(code - field->base);
    answer.fieldsSeen |= 1u << (field - PARAMETER_FIELDS);
}

static void record_unitChar(UploadAnswer &answer, DeviceCode code)
{
    if (!answer.started || answer.unitTextEnded)
        return;
    if (code == UNIT_TEXT_END) {
        answer.set.unitText[answer.unitTextIndex < UNIT_TEXT_LAST ? answer.unitTextIndex : UNIT_TEXT_LAST] = 0;
        answer.unitTextEnded = true;
        return;
    }
    // A longer text than fits loses its surplus.
    if (answer.unitTextIndex < UNIT_TEXT_LAST)
        answer.set.unitText[answer.unitTextIndex++] =
            static_cast<char>(static_cast<std::uint8_t>(code - UNIT_CHAR_BASE));
}

void recordCode(void *context, DeviceCode code)
{
    LineRecord *record = static_cast<LineRecord *>(context);
    ++record->codeCount;
    if (code <= MEASUREMENT_LAST)
        record_measurement(record, code);
    else if (code < MAX_PEAK_BASE)
        record->minPeak = code - MIN_PEAK_BASE;
    else if (code < DPDT_PEAK_BASE)
        record->maxPeak = code - MAX_PEAK_BASE;
    else if (code <= DPDT_PEAK_LAST)
        record->dpdtPeak = code - DPDT_PEAK_BASE;
    else if (code >= PARAMETER_CODE_FIRST && code <= PARAMETER_CODE_LAST)
        record_parameter(record->answer, code);
    else if (isAlarmCode(code) || code == STATUS_DVDT)
        record_event(record, code);
    else if (code >= UNIT_CHAR_BASE && code <= UNIT_CHAR_LAST)
        record_unitChar(record->answer, code);
}

void recordBytes(LineRecord *record, FrameAssembly *assembly, const std::uint8_t *bytes, int count)
{
    assembleFrames(assembly, bytes, count, recordCode, record);
}
