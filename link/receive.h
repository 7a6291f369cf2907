// Receive path: frame assembly from the port's bytes and dispatch of each code to the records.
#pragma once

#include <cstdint>

#include "link/device_code.h"

inline constexpr int ASSEMBLY_SIZE = 8;

// Reader thread only.
struct ReceiveState {
    std::uint8_t assemblyBuffer[ASSEMBLY_SIZE];
    int assemblyLength;          // next write position, 0..7
    std::int32_t sampleCounter;  // measurements since the last trend sample
    std::int32_t unitTextIndex;  // next write position in unitText
};

extern ReceiveState receiveState;

// Collects bytes into frames; every frame that passes the checksum reloads the
// link watchdog and is dispatched. Frames may span calls. count <= 0 does nothing.
void receiveBytes(const std::uint8_t *bytes, int count);

// Applies one received code to LiveReadings, deviceParameters or TrendHistory.
void dispatchCode(DeviceCode code);

// The device answers an upload request with limit1Mode first and the other
// parameters after it. The GUI thread clears the record before it asks; the
// reader thread marks each parameter as it is stored (release), so that once
// every one is marked (acquire) the whole answer is visible.
void beginUploadAnswer();
bool wholeUploadAnswerSeen();

// Back to the start-up state (tests only).
void resetReceiveState();
