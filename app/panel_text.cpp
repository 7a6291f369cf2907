// Panel texts: value formats, the Unit line and the one-shot dV/dt indicator.
#include "app/panel_text.h"

#include <cstdio>

#include "base/live_readings.h"
#include "base/panel_layout.h"
#include "link/shared_field.h"
#include "params/parameter_set.h"

static constexpr char NO_DATA[] = "--";

void formatMeasurementText(std::int32_t measurement, char out[PANEL_VALUE_SIZE])
{
    if (measurement == -1)
        std::snprintf(out, PANEL_VALUE_SIZE, "%s", NO_DATA);
    else if (measurement < 100)
        std::snprintf(out, PANEL_VALUE_SIZE, "%02d", static_cast<int>(measurement));
    else
        std::snprintf(out, PANEL_VALUE_SIZE, "%3d", static_cast<int>(measurement));
}

void formatPeakText(std::int32_t peak, char out[PANEL_VALUE_SIZE])
{
    if (peak == -1)
        std::snprintf(out, PANEL_VALUE_SIZE, "%s", NO_DATA);
    else
        std::snprintf(out, PANEL_VALUE_SIZE, "  %02d", static_cast<int>(peak));
}

void formatDpdtPeakText(unsigned dpdtMode, std::int32_t peak, char out[PANEL_VALUE_SIZE])
{
    if (dpdtMode == 0)
        std::snprintf(out, PANEL_VALUE_SIZE, "  %s", NO_DATA);
    else if (peak == -1)
        std::snprintf(out, PANEL_VALUE_SIZE, "%s", NO_DATA);
    else
        std::snprintf(out, PANEL_VALUE_SIZE, "%02d", static_cast<int>(peak));
}

// The header strip's blanks after the unit text and after the dashes.
static constexpr int HEADER_BLANKS_AFTER_UNIT = 25;
static constexpr int HEADER_BLANKS_AFTER_DASHES = 27;

static void unitLine(const char *unitText, std::int32_t measurement, int blanksAfterUnit, int blanksAfterDashes,
                     char *out, std::size_t size)
{
    // A unit text left over from a device that has gone quiet is not shown.
    if (unitText[0] != 0 && measurement != -1)
        std::snprintf(out, size, "%s%s%*s", "Unit: ", unitText, blanksAfterUnit, "");
    else
        std::snprintf(out, size, "%s- - -%*s", "Unit: ", blanksAfterDashes, "");
}

void formatUnitLine(const char *unitText, std::int32_t measurement, char out[UNIT_LINE_SIZE])
{
    unitLine(unitText, measurement, 0, 0, out, UNIT_LINE_SIZE);
}

void formatHeaderStripLine(const char *unitText, std::int32_t measurement, char out[HEADER_STRIP_LINE_SIZE])
{
    unitLine(unitText, measurement, HEADER_BLANKS_AFTER_UNIT, HEADER_BLANKS_AFTER_DASHES, out,
             HEADER_STRIP_LINE_SIZE);
}

void readPanelTexts(PanelTexts *out)
{
    const std::int32_t measurement = sharedLoad(liveReadings.measurement);
    char unit[UNIT_TEXT_SIZE + 1];
    copyUnitText(unit);
    formatUnitLine(unit, measurement, out->unitLine);
    formatMeasurementText(measurement, out->measurement);
    formatPeakText(sharedLoad(liveReadings.maxPeak), out->maxPeak);
    formatPeakText(sharedLoad(liveReadings.minPeak), out->minPeak);
    formatDpdtPeakText(sharedLoad(deviceParameters.dpdtMode), sharedLoad(liveReadings.dpdtPeak), out->dpdtPeak);
}

void readHeaderStripLine(char out[HEADER_STRIP_LINE_SIZE])
{
    char unit[UNIT_TEXT_SIZE + 1];
    copyUnitText(unit);
    formatHeaderStripLine(unit, sharedLoad(liveReadings.measurement), out);
}

const char *takeDvdtIndicator(int clipLeft)
{
    // The indicator's cell ends at its right-aligned x; paints that start right of it
    // (the trend rectangle every 20 ms) cannot show it.
    if (clipLeft >= DVDT_INDICATOR_AT.x)
        return nullptr;
    if (sharedLoad(liveReadings.dvdtSeen) == 0)
        return DVDT_BLANK;
    sharedStore(liveReadings.dvdtSeen, 0);
    // The next panel check repaints, and the blanks replace the indicator.
    sharedStore(liveReadings.peaksChanged, 1);
    return DVDT_TEXT;
}
