// What k614ctl keeps of the codes the device sends: an upload answer being collected, and the log's rows.
#pragma once

#include <cstdint>

#include "link/device_code.h"
#include "link/frame_assembly.h"
#include "params/parameter_layout.h"

// A peak the device has not reported yet.
inline constexpr std::int32_t NOT_REPORTED = -1;
// Events (alarms, dV/dt) kept for one row; more between two measurements are counted and dropped.
inline constexpr int ROW_EVENTS_MAX = 8;
// Rows collected from one read: at least one per three bytes read (the
// shortest frame is two bytes and its CR), with room to spare.
inline constexpr int LINE_READ_SIZE = 96;
inline constexpr int ROWS_MAX = LINE_READ_SIZE / 3 + 2;

struct UploadAnswer {
    ParameterSet set; // as the device reported it; reserved bytes zero
    std::uint32_t fieldsSeen; // one bit per PARAMETER_FIELDS entry
    int unitTextIndex;
    bool started;       // limit1Mode's code opened it
    bool unitTextEnded; // UNIT_TEXT_END came after the start
};

struct LogRow {
    std::int32_t measurement;
    std::int32_t maxPeak, minPeak, dpdtPeak; // as last reported, or NOT_REPORTED
    DeviceCode events[ROW_EVENTS_MAX];       // alarm codes and STATUS_DVDT since the row before
    int eventCount;
};

struct LineRecord {
    UploadAnswer answer;
    std::int32_t maxPeak, minPeak, dpdtPeak;
    DeviceCode events[ROW_EVENTS_MAX]; // waiting for the next measurement's row
    int eventCount;
    unsigned eventsDropped;
    LogRow rows[ROWS_MAX]; // measurements since the caller last emptied it
    int rowCount;
    unsigned rowsDropped;
    unsigned codeCount; // valid frames ever: a sign of life, whatever they carry
};

// Empties the record: no answer, no peaks, no rows.
void resetLineRecord(LineRecord *record);
// Forgets any earlier answer: call before sending the upload request.
void beginAnswer(LineRecord *record);
// All 23 fields and the unit text's end have come since the answer started.
bool answerComplete(const UploadAnswer &answer);

// The CodeConsumer for assembleFrames; context is the LineRecord.
void recordCode(void *context, DeviceCode code);
// Collects bytes from the line into frames and records their codes.
void recordBytes(LineRecord *record, FrameAssembly *assembly, const std::uint8_t *bytes, int count);

bool isAlarmCode(DeviceCode code);
