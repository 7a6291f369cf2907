// The texts of the live value panel, made from the readings and the device's parameters.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr std::size_t PANEL_VALUE_SIZE = 16;
inline constexpr std::size_t UNIT_LINE_SIZE = 48;

inline constexpr char DVDT_TEXT[] = "dV/dt";
// Eight blanks cover the indicator's cell once it has been shown.
inline constexpr char DVDT_BLANK[] = "        ";

struct PanelTexts {
    char unitLine[UNIT_LINE_SIZE];
    char measurement[PANEL_VALUE_SIZE];
    char maxPeak[PANEL_VALUE_SIZE];
    char minPeak[PANEL_VALUE_SIZE];
    char dpdtPeak[PANEL_VALUE_SIZE];
};

// "--" for -1, "%02d" below 100, "%3d" from 100 on.
void formatMeasurementText(std::int32_t measurement, char out[PANEL_VALUE_SIZE]);
// "--" for -1, else "  %02d": the two blanks wipe a wider old value.
void formatPeakText(std::int32_t peak, char out[PANEL_VALUE_SIZE]);
// "  --" while the dPdt function is off, whatever the peak; else as a measurement below 100.
void formatDpdtPeakText(unsigned dpdtMode, std::int32_t peak, char out[PANEL_VALUE_SIZE]);
// "Unit: <text>" when a unit text is known and a measurement is there, else "Unit: - - -".
void formatUnitLine(const char *unitText, std::int32_t measurement, char out[UNIT_LINE_SIZE]);

// The Unit line as the screen dump draws it into the header strip: trailing
// blanks (25 after a unit text, 27 after the dashes) wipe out whatever longer
// text an earlier unit left there. Room for "Unit: ", the longest unit text
// (31 characters), 25 blanks and the terminator.
inline constexpr std::size_t HEADER_STRIP_LINE_SIZE = 64;
void formatHeaderStripLine(const char *unitText, std::int32_t measurement, char out[HEADER_STRIP_LINE_SIZE]);

// All five texts from liveReadings and deviceParameters as they are now.
void readPanelTexts(PanelTexts *out);
// The header strip's Unit line from liveReadings and deviceParameters as they are now.
void readHeaderStripLine(char out[HEADER_STRIP_LINE_SIZE]);

// The dV/dt cell of a paint whose update box starts at clipLeft: nullptr when the
// paint does not reach the cell (a trend-only paint must not consume the news);
// otherwise "dV/dt" once per report (it then asks the panel check to blank it
// again) or the blanks.
const char *takeDvdtIndicator(int clipLeft);
