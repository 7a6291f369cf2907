// Panel texts: value formats, the Unit line and the one-shot dV/dt indicator.
#include "app/panel_text.h"

#include <gtest/gtest.h>

#include <string>

#include "app_test_support.h"

namespace {

std::string measurementText(std::int32_t v)
{
    char out[PANEL_VALUE_SIZE];
    formatMeasurementText(v, out);
    return out;
}

std::string peakText(std::int32_t v)
{
    char out[PANEL_VALUE_SIZE];
    formatPeakText(v, out);
    return out;
}

std::string dpdtText(unsigned mode, std::int32_t v)
{
    char out[PANEL_VALUE_SIZE];
    formatDpdtPeakText(mode, v, out);
    return out;
}

std::string unitLine(const char *unit, std::int32_t measurement)
{
    char out[UNIT_LINE_SIZE];
    formatUnitLine(unit, measurement, out);
    return out;
}

TEST(PanelText, MeasurementIsTwoDigitsBelowHundredAndThreeFromHundredOn)
{
    EXPECT_EQ(measurementText(-1), "--");
    EXPECT_EQ(measurementText(0), "00");
    EXPECT_EQ(measurementText(5), "05");
    EXPECT_EQ(measurementText(99), "99");
    EXPECT_EQ(measurementText(100), "100");
    EXPECT_EQ(measurementText(150), "150");
    EXPECT_EQ(measurementText(199), "199");
}

TEST(PanelText, PeaksCarryTwoBlanksThatWipeAWiderOldValue)
{
    EXPECT_EQ(peakText(-1), "--");
    EXPECT_EQ(peakText(7), "  07");
    EXPECT_EQ(peakText(0), "  00");
    EXPECT_EQ(peakText(150), "  150");
}

TEST(PanelText, DpdtPeakShowsDashesWhileTheFunctionIsOff)
{
    EXPECT_EQ(dpdtText(0, -1), "  --");
    EXPECT_EQ(dpdtText(0, 42), "  --");
    EXPECT_EQ(dpdtText(1, -1), "--");
    EXPECT_EQ(dpdtText(2, 0), "00");
    EXPECT_EQ(dpdtText(1, 7), "07");
    EXPECT_EQ(dpdtText(1, 399), "399");
}

TEST(PanelText, UnitLineNeedsBothAUnitTextAndAMeasurement)
{
    EXPECT_EQ(unitLine("MW", 57), "Unit: MW");
    EXPECT_EQ(unitLine("MW", -1), "Unit: - - -");
    EXPECT_EQ(unitLine("", 57), "Unit: - - -");
    EXPECT_EQ(unitLine("", -1), "Unit: - - -");
    // The longest unit text the device can leave (31 characters) fits whole.
    const std::string longest(31, 'x');
    EXPECT_EQ(unitLine(longest.c_str(), 0), "Unit: " + longest);
}

TEST(PanelText, HeaderStripLineOfTheScreenDumpEndsInBlanks)
{
    const auto strip = [](const char *unit, std::int32_t measurement) {
        char out[HEADER_STRIP_LINE_SIZE];
        formatHeaderStripLine(unit, measurement, out);
        return std::string(out);
    };
    EXPECT_EQ(strip("MW", 57), "Unit: MW" + std::string(25, ' '));
    EXPECT_EQ(strip("MW", -1), "Unit: - - -" + std::string(27, ' '));
    EXPECT_EQ(strip("", 57), "Unit: - - -" + std::string(27, ' '));
    const std::string longest(31, 'x');
    EXPECT_EQ(strip(longest.c_str(), 0), "Unit: " + longest + std::string(25, ' '));
}

class PanelRecords : public ::testing::Test {
protected:
    void SetUp() override { resetAppState(); }
};

TEST_F(PanelRecords, TextsBeforeAnyFrameAreAllDashes)
{
    PanelTexts t;
    readPanelTexts(&t);
    EXPECT_STREQ(t.unitLine, "Unit: - - -");
    EXPECT_STREQ(t.measurement, "--");
    EXPECT_STREQ(t.maxPeak, "--");
    EXPECT_STREQ(t.minPeak, "--");
    EXPECT_STREQ(t.dpdtPeak, "  --");
}

TEST_F(PanelRecords, TextsFollowTheReceivedCodes)
{
    for (DeviceCode c : {3000, 3021, 65277, 65287, 65213, 57, 407, 212, 633})
        dispatchCode(c);
    PanelTexts t;
    readPanelTexts(&t);
    EXPECT_STREQ(t.unitLine, "Unit: MW");
    EXPECT_STREQ(t.measurement, "57");
    EXPECT_STREQ(t.maxPeak, "  07");
    EXPECT_STREQ(t.minPeak, "  12");
    EXPECT_STREQ(t.dpdtPeak, "33");
}

TEST_F(PanelRecords, DvdtIsShownOnceAndOnlyByPaintsThatReachItsCell)
{
    dispatchCode(STATUS_DVDT);
    // A paint of the trend rectangle alone leaves the news for the next full paint.
    EXPECT_EQ(takeDvdtIndicator(345), nullptr);
    EXPECT_EQ(takeDvdtIndicator(260), nullptr);
    EXPECT_EQ(liveReadings.dvdtSeen, 1);

    EXPECT_STREQ(takeDvdtIndicator(0), "dV/dt");
    EXPECT_EQ(liveReadings.dvdtSeen, 0);
    EXPECT_EQ(liveReadings.peaksChanged, 1) << "the panel check must come back to blank it";
    EXPECT_STREQ(takeDvdtIndicator(259), "        ");
}

} // namespace
