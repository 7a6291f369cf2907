// Printed report texts and geometry: header, listing, page layout, printed trace and limit lines.
#include "report/report_texts.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "report/printed_plot.h"
#include "report/report_layout.h"
#include "tests/native/test_state.h"
#include "trend/trend_history.h"

namespace {

std::string unitLine(const char *unit)
{
    char out[REPORT_TEXT_SIZE];
    formatReportUnitLine(unit, out, sizeof out);
    return out;
}

std::string peakLine(unsigned dpdtMode, int maxPeak, int minPeak, int dpdtPeak)
{
    char out[REPORT_TEXT_SIZE];
    formatReportPeakLine(dpdtMode, maxPeak, minPeak, dpdtPeak, out, sizeof out);
    return out;
}

TEST(ReportHeader, UnitDateAndBothFormsOfThePeakLine)
{
    EXPECT_EQ(unitLine("MW"), "Unit:  MW");
    EXPECT_EQ(unitLine(""), "Unit:  ") << "one more blank and nothing else";

    char date[REPORT_TEXT_SIZE];
    formatReportDateLine("Monday, 7 December 2026", "16:05", date, sizeof date);
    EXPECT_STREQ(date, "Date: Monday, 7 December 2026, 16:05");

    EXPECT_EQ(peakLine(1, 87, 12, 140),
              "Peak values:  Max Peak [kW%]: 87,   Min Peak [kW%]: 12,   dPdt Peak [kW%]: 140");
    EXPECT_EQ(peakLine(2, 87, 12, 140), peakLine(1, 87, 12, 140));
    EXPECT_EQ(peakLine(0, 87, 12, 140), "Peak values:  Max Peak [kW%]: 87,   Min Peak [kW%]: 12")
        << "no dPdt pair while the function is off";
    EXPECT_EQ(peakLine(1, -1, -1, -1),
              "Peak values:  Max Peak [kW%]: -1,   Min Peak [kW%]: -1,   dPdt Peak [kW%]: -1");
    EXPECT_EQ(peakLine(0, -1, -1, 5), "Peak values:  Max Peak [kW%]: -1,   Min Peak [kW%]: -1");

    // The longest header lines fit their buffer whole.
    const std::string part(REPORT_DATE_PART_SIZE - 1, 'x');
    formatReportDateLine(part.c_str(), part.c_str(), date, sizeof date);
    EXPECT_EQ(std::strlen(date), 6 + part.size() + 2 + part.size());
    EXPECT_EQ(peakLine(1, -2147483647 - 1, -2147483647 - 1, -2147483647 - 1).size(), 104u);
}

// The simulated device's factory set, Tr and Ts in hundredths.
ParameterSet factorySet()
{
    ParameterSet p = {};
    p.limit1Mode = 2;
    p.limit1Setpoint = 80;
    p.limit1Tr = 100;
    p.limit1AutoReset = 0;
    p.limit1Hysteresis = 5;
    p.limit2Mode = 1;
    p.limit2Setpoint = 20;
    p.limit2Tr = 200;
    p.limit2AutoReset = 1;
    p.limit2Hysteresis = 7;
    p.dpdtMode = 1;
    p.dpdtSetpoint = 30;
    p.dvdt = 10;
    p.timerRange = 0;
    p.ts = 500;
    p.outputPolarity = 0;
    p.iout = 1;
    p.ioutPolarity = 1;
    p.filter = 3;
    p.p1Max = 100;
    p.p1Min = 0;
    p.autoShutDown = 1;
    p.zero = 1;
    std::strcpy(p.unitText, "MW");
    return p;
}

struct Placed {
    int x, y;
    std::string text;
    bool operator==(const Placed &o) const { return x == o.x && y == o.y && text == o.text; }
};

std::ostream &operator<<(std::ostream &os, const Placed &p)
{
    return os << "(" << p.x << ", " << p.y << ") \"" << p.text << "\"";
}

std::vector<Placed> lines(const ParameterSet &p, ReportPoint origin = {0, 0})
{
    ReportLine out[LISTING_LINE_COUNT];
    listingLines(p, origin, out);
    std::vector<Placed> v;
    for (const ReportLine &l : out)
        v.push_back({l.at.x, l.at.y, l.text});
    return v;
}

std::string lineAt(const ParameterSet &p, int x, int y)
{
    for (const Placed &l : lines(p))
        if (l.x == x && l.y == y)
            return l.text;
    return "(no line)";
}

TEST(ReportListing, TwentyTwoLinesInTwoColumnsWithTitles)
{
    const std::vector<Placed> expected = {
        {170, 550, "Limit      : Max."},     {170, 565, "Setpoint   : 80%"},
        {170, 580, "Tr         : 1.00s"},    {170, 595, "Autoreset  : Off"},
        {170, 610, "Hysteresis : --"},       {170, 655, "Limit      : Min."},
        {170, 670, "Setpoint   : 20%"},      {170, 685, "Tr         : 2.00s"},
        {170, 700, "Autoreset  : On"},       {170, 715, "Hysteresis : 7%"},
        {170, 760, "Limit      : +dPdt"},    {170, 775, "Setpoint   : 30%"},
        {170, 790, "dUdt       : 10%"},      {310, 550, "Ts         : 5.00s"},
        {310, 595, "Iout       : 4-20mA"},   {310, 610, "Polarity   : Inv."},
        {310, 625, "Filter     : 10s"},      {310, 670, "P1Max      : 100%"},
        {310, 685, "P1Min      : 0%"},       {310, 730, "Polarity   : n.inv"},
        {310, 760, "Auto ShutDn: On"},       {310, 775, "Zero       : After Ts"},
    };
    EXPECT_EQ(lines(factorySet(), {150, 500}), expected);

    const ReportLabel title = listingTitle({20, 200});
    EXPECT_EQ((Placed{title.at.x, title.at.y, title.text}), (Placed{40, 215, "Parameters"}));
    ReportLabel sections[LISTING_SECTION_COUNT];
    listingSections({20, 200}, sections);
    const std::vector<Placed> expectedSections = {
        {40, 235, "Limit 1"}, {40, 340, "Limit 2"}, {40, 445, "dPdt"},    {180, 235, "Setup"},
        {180, 280, "Iout"},   {180, 355, "Zoom"},   {180, 415, "Output"},
    };
    std::vector<Placed> got;
    for (const ReportLabel &s : sections)
        got.push_back({s.at.x, s.at.y, s.text});
    EXPECT_EQ(got, expectedSections);
}

TEST(ReportListing, EveryTableTextAndTheTwoValuedFields)
{
    ParameterSet p = factorySet();
    const char *limitModes[] = {"Off", "Min.", "Max."};
    const char *dpdtModes[] = {"Off", "+dPdt", "+/- dPdt"};
    const char *filters[] = {"None", "3s", "6s", "10s"};
    const char *zeros[] = {"Off", "After Ts", "External"};
    for (std::uint16_t v = 0; v < 3; ++v) {
        p.limit1Mode = p.limit2Mode = p.dpdtMode = p.zero = v;
        EXPECT_EQ(lineAt(p, 20, 50), std::string("Limit      : ") + limitModes[v]);
        EXPECT_EQ(lineAt(p, 20, 155), std::string("Limit      : ") + limitModes[v]);
        EXPECT_EQ(lineAt(p, 20, 260), std::string("Limit      : ") + dpdtModes[v]);
        EXPECT_EQ(lineAt(p, 160, 275), std::string("Zero       : ") + zeros[v]);
    }
    for (std::uint16_t v = 0; v < 4; ++v) {
        p.filter = v;
        EXPECT_EQ(lineAt(p, 160, 125), std::string("Filter     : ") + filters[v]);
    }
    // 0 is the first text, any other value the second.
    for (std::uint16_t v : {0, 1, 2, 65535}) {
        p.limit1AutoReset = p.limit2AutoReset = p.autoShutDown = v;
        p.iout = p.ioutPolarity = p.outputPolarity = v;
        const bool on = v != 0;
        EXPECT_EQ(lineAt(p, 20, 95), on ? "Autoreset  : On" : "Autoreset  : Off") << v;
        EXPECT_EQ(lineAt(p, 20, 200), on ? "Autoreset  : On" : "Autoreset  : Off") << v;
        EXPECT_EQ(lineAt(p, 160, 260), on ? "Auto ShutDn: On" : "Auto ShutDn: Off") << v;
        EXPECT_EQ(lineAt(p, 160, 95), on ? "Iout       : 4-20mA" : "Iout       : 0-20mA") << v;
        EXPECT_EQ(lineAt(p, 160, 110), on ? "Polarity   : Inv." : "Polarity   : Norm.") << v;
        EXPECT_EQ(lineAt(p, 160, 230), on ? "Polarity   : inv" : "Polarity   : n.inv") << v;
    }
}

TEST(ReportListing, ValuesPastTheTablesPrintAsTheirNumbers)
{
    ParameterSet p = factorySet();
    p.limit1Mode = 3;
    p.limit2Mode = 65535;
    p.dpdtMode = 7;
    p.filter = 4;
    p.zero = 3;
    EXPECT_EQ(lineAt(p, 20, 50), "Limit      : 3");
    EXPECT_EQ(lineAt(p, 20, 155), "Limit      : 65535");
    EXPECT_EQ(lineAt(p, 20, 260), "Limit      : 7");
    EXPECT_EQ(lineAt(p, 160, 125), "Filter     : 4");
    EXPECT_EQ(lineAt(p, 160, 275), "Zero       : 3");
    EXPECT_EQ(lineAt(p, 20, 275), "Setpoint   : 30%") << "a dPdt mode past the table is not Off";
}

TEST(ReportListing, HyphensWhileAutoResetOrDpdtIsOff)
{
    ParameterSet p = factorySet();
    p.limit1AutoReset = 0;
    p.limit1Hysteresis = 9;
    p.limit2AutoReset = 0;
    p.limit2Hysteresis = 44;
    p.dpdtMode = 0;
    p.dpdtSetpoint = 50;
    p.dvdt = 12;
    EXPECT_EQ(lineAt(p, 20, 95), "Autoreset  : Off");
    EXPECT_EQ(lineAt(p, 20, 110), "Hysteresis : --");
    EXPECT_EQ(lineAt(p, 20, 200), "Autoreset  : Off");
    EXPECT_EQ(lineAt(p, 20, 215), "Hysteresis : --");
    EXPECT_EQ(lineAt(p, 20, 260), "Limit      : Off");
    EXPECT_EQ(lineAt(p, 20, 275), "Setpoint   : --");
    EXPECT_EQ(lineAt(p, 20, 290), "dUdt       : --");
    p.limit1AutoReset = 1;
    p.dpdtMode = 2;
    EXPECT_EQ(lineAt(p, 20, 110), "Hysteresis : 9%");
    EXPECT_EQ(lineAt(p, 20, 275), "Setpoint   : 50%");
    EXPECT_EQ(lineAt(p, 20, 290), "dUdt       : 12%");
}

TEST(ReportListing, TimesByTimerRangeAndNumbersUnsigned)
{
    ParameterSet p = factorySet();
    p.timerRange = 0;
    p.limit1Tr = 5;
    p.limit2Tr = 150;
    p.ts = 65535;
    EXPECT_EQ(lineAt(p, 20, 80), "Tr         : 0.05s");
    EXPECT_EQ(lineAt(p, 20, 185), "Tr         : 1.50s");
    EXPECT_EQ(lineAt(p, 160, 50), "Ts         : 655.35s");
    p.timerRange = 1;
    p.ts = 5;
    p.limit2Tr = 150;
    EXPECT_EQ(lineAt(p, 160, 50), "Ts         : 0.5s");
    EXPECT_EQ(lineAt(p, 20, 185), "Tr         : 15.0s");
    p.timerRange = 2; // any range but 0 counts tenths
    EXPECT_EQ(lineAt(p, 20, 185), "Tr         : 15.0s");

    p.limit1Setpoint = 65535;
    p.p1Min = 40000;
    EXPECT_EQ(lineAt(p, 20, 65), "Setpoint   : 65535%");
    EXPECT_EQ(lineAt(p, 160, 185), "P1Min      : 40000%");
}

TEST(ReportLayout, PortraitOnlyWhenTallerThanWide)
{
    const ReportLayout portrait = reportLayout(2479, 3508);
    EXPECT_FALSE(portrait.landscape);
    EXPECT_EQ(portrait.pageWidth, 600);
    EXPECT_EQ(portrait.pageHeight, 860);
    EXPECT_EQ(portrait.plotOrigin.x, 45);
    EXPECT_EQ(portrait.plotOrigin.y, 430);
    EXPECT_EQ(portrait.listingOrigin.x, 150);
    EXPECT_EQ(portrait.listingOrigin.y, 500);

    for (const ReportLayout &landscape : {reportLayout(3508, 2479), reportLayout(3000, 3000)}) {
        EXPECT_TRUE(landscape.landscape);
        EXPECT_EQ(landscape.pageWidth, 860);
        EXPECT_EQ(landscape.pageHeight, 600);
        EXPECT_EQ(landscape.plotOrigin.x, 310);
        EXPECT_EQ(landscape.plotOrigin.y, 510);
        EXPECT_EQ(landscape.listingOrigin.x, 20);
        EXPECT_EQ(landscape.listingOrigin.y, 200);
    }
    EXPECT_FALSE(reportLayout(2999, 3000).landscape);
}

class PrintedPlot : public ::testing::Test {
protected:
    void SetUp() override { resetCoreState(); }
};

TEST_F(PrintedPlot, ThreeUnitsPerPercentFromTheOldestColumnOn)
{
    EXPECT_EQ(printedTraceOffset(200), 300) << "100 kW% on the 100 tick";
    EXPECT_EQ(printedTraceOffset(0), 0);
    EXPECT_EQ(printedTraceOffset(57 * 2), 171);
    EXPECT_EQ(printedTraceOffset(398), 597);
    EXPECT_EQ(printedTraceOffset(-2), -3) << "a void reading, truncated toward zero";

    // Before the first sample: every column on the baseline.
    for (int column = 0; column < TREND_LENGTH; ++column)
        ASSERT_EQ(printedColumnOffset(column), 0) << column;

    // Ring order: the oldest entry sits at drawnWritePos, the newest just before it.
    for (int i = 0; i < TREND_LENGTH; ++i)
        trendHistory.drawnHeights[i] = 2 * i;
    trendHistory.drawnWritePos = 490;
    EXPECT_EQ(printedColumnOffset(0), 3 * 490);
    EXPECT_EQ(printedColumnOffset(9), 3 * 499);
    EXPECT_EQ(printedColumnOffset(10), 0);
    EXPECT_EQ(printedColumnOffset(499), 3 * 489);
}

TEST_F(PrintedPlot, LimitLinesOnlyWithAUnitTextAndAModeOn)
{
    ParameterSet p = {};
    p.limit1Mode = 2;
    p.limit1Setpoint = 80;
    p.limit2Mode = 1;
    p.limit2Setpoint = 20;
    EXPECT_EQ(printedLimitLines(p).count, 0) << "no unit text";
    std::strcpy(p.unitText, "MW");
    PrintedLimitLines lines = printedLimitLines(p);
    ASSERT_EQ(lines.count, 2);
    EXPECT_EQ(lines.dy[0], -240);
    EXPECT_EQ(lines.dy[1], -60);
    p.limit1Mode = 0;
    lines = printedLimitLines(p);
    ASSERT_EQ(lines.count, 1);
    EXPECT_EQ(lines.dy[0], -60);
    p.limit2Mode = 0;
    EXPECT_EQ(printedLimitLines(p).count, 0);
}

} // namespace
