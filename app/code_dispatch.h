// The program's side of the receive path: each code from the line applied to its records.
#pragma once

#include <cstdint>

#include "link/device_code.h"
#include "link/frame_assembly.h"

// Reader thread only.
struct ReceiveState {
    FrameAssembly assembly;
    std::int32_t sampleCounter;  // measurements since the last trend sample
    std::int32_t unitTextIndex;  // next write position in unitText
};

extern ReceiveState receiveState;

// The port's bytes: every frame that passes the checksum reloads the link
// watchdog and is dispatched. Frames may span calls. count <= 0 does nothing.
void receiveBytes(const std::uint8_t *bytes, int count);

// Applies one received code to LiveReadings, deviceParameters or TrendHistory.
void dispatchCode(DeviceCode code);

// The device answers an upload request with limit1Mode first and the other
// parameters after it. The GUI thread clears the record before it asks; the
// reader thread marks each parameter as it is stored (release), so that once
// every one is marked (acquire) the whole answer is visible. An answer's first
// code (3000..3009) clears the marks before it marks itself: only the codes of
// the answer now arriving count towards a whole one.
void beginUploadAnswer();
bool wholeUploadAnswerSeen();

// Back to the start-up state (tests only).
void resetReceiveState();
