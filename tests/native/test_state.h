// Puts every process-wide record of the core back to its start-up state between tests.
#pragma once

#include <cstring>

#include "app/code_dispatch.h"
#include "base/live_readings.h"
#include "base/settings.h"
#include "link/link_events.h"
#include "link/transmit.h"
#include "params/parameter_set.h"
#include "trend/trend_history.h"

inline void resetCoreState()
{
    setSettingsDefaults();
    resetLiveReadings();
    resetReceiveState();
    resetTransmitPath();
    attachTransmitWriter(); // the tests take the writer's part with txRingTake
    resetTrendHistory();
    std::memset(&deviceParameters, 0, sizeof deviceParameters);
    std::memset(&requestedParameters, 0, sizeof requestedParameters);
    createUploadConfirmEvent();
    resetUploadConfirm();
}
