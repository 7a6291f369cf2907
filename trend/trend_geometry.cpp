// Trend limit lines from the device's parameters.
#include "trend/trend_geometry.h"

#include "link/shared_field.h"
#include "params/parameter_set.h"

TrendLimitLines trendLimitLines()
{
    TrendLimitLines lines = {0, {0, 0}};
    // Without a unit text the setpoints are left-overs or zeros, not the device's.
    if (!unitTextKnown())
        return lines;
    if (sharedLoad(deviceParameters.limit1Mode) != 0)
        lines.y[lines.count++] = trendY(2 * static_cast<int>(sharedLoad(deviceParameters.limit1Setpoint)));
    if (sharedLoad(deviceParameters.limit2Mode) != 0)
        lines.y[lines.count++] = trendY(2 * static_cast<int>(sharedLoad(deviceParameters.limit2Setpoint)));
    return lines;
}
