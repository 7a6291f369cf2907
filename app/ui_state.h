// UiState: the main window's own state flags, read and written on the GUI thread only.
#pragma once

#include <cstdint>

#include "params/parameter_layout.h"

struct UiState {
    std::int32_t trendFrozen;            // the trend stands still and shows its stored history
    std::int32_t fullRedrawRequested;    // next paint: all three frames, axes and the whole trend
    std::int32_t frameRedrawRequested;   // next paint: value panel and header frames
    std::int32_t keyDownLatch;           // a key is held down (auto-repeat is ignored)
    std::int32_t transferConfirmPending; // a queued parameter transfer waits for its check
    std::int32_t lastPaintedMeasurement; // measurement seen by the last panel check
    std::int32_t lastPaintedDpdtPeak;    // dPdt peak seen by the last panel check, -1 while dashes show
    char lastPaintedUnitText[UNIT_TEXT_SIZE + 1]; // unit text seen by the last panel check, "" while unknown
};

extern UiState uiState;

// Back to the start-up state (tests only).
void resetUiState();
