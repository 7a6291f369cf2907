// The printed trend plot: limit line heights and the printed offsets of the stored trend columns.
#include "report/printed_plot.h"

#include "trend/trend_history.h"

PrintedLimitLines printedLimitLines(const ParameterSet &p)
{
    PrintedLimitLines lines = {0, {0, 0}};
    if (p.unitText[0] == 0)
        return lines;
    if (p.limit1Mode != 0)
        lines.dy[lines.count++] = -PRINTED_UNITS_PER_PERCENT * p.limit1Setpoint;
    if (p.limit2Mode != 0)
        lines.dy[lines.count++] = -PRINTED_UNITS_PER_PERCENT * p.limit2Setpoint;
    return lines;
}

int printedTraceOffset(std::int32_t height)
{
    return height / 2 + height;
}

int printedColumnOffset(int column)
{
    // drawnHeights and drawnWritePos belong to the GUI thread, which prints.
    const int i = (trendHistory.drawnWritePos + column) % TREND_LENGTH;
    return printedTraceOffset(trendHistory.drawnHeights[i]);
}
