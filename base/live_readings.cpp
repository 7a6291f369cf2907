// LiveReadings: the shared record of the device's latest readings and its start-up state.
#include "base/live_readings.h"

LiveReadings liveReadings = {-1, -1, -1, -1, LINK_ALIVE_START, 0, 0, 0};

void resetLiveReadings()
{
    liveReadings = LiveReadings{-1, -1, -1, -1, LINK_ALIVE_START, 0, 0, 0};
}
