// The printed report's header lines and parameter listing: formats, labels, value texts and places.
#include "report/report_texts.h"

#include <cstdio>

#include "params/parameter_texts.h"

void formatReportUnitLine(const char *unitText, char *out, std::size_t size)
{
    std::snprintf(out, size, "%s %s", "Unit: ", unitText);
}

void formatReportDateLine(const char *date, const char *time, char *out, std::size_t size)
{
    char stamp[REPORT_TEXT_SIZE];
    std::snprintf(stamp, sizeof stamp, "%s, %s", date, time);
    std::snprintf(out, size, "%s: %s", "Date", stamp);
}

void formatPlainDate(unsigned year, unsigned month, unsigned day, char *out, std::size_t size)
{
    std::snprintf(out, size, "%04u-%02u-%02u", year, month, day);
}

void formatPlainTime(unsigned hour, unsigned minute, char *out, std::size_t size)
{
    std::snprintf(out, size, "%02u:%02u", hour, minute);
}

void formatReportPeakLine(unsigned dpdtMode, std::int32_t maxPeak, std::int32_t minPeak, std::int32_t dpdtPeak,
                          char *out, std::size_t size)
{
    if (dpdtMode != 0)
        std::snprintf(out, size, "%s:  %s %d,   %s %d,   %s %d", "Peak values", "Max Peak [kW%]:",
                      static_cast<int>(maxPeak), "Min Peak [kW%]:", static_cast<int>(minPeak),
                      "dPdt Peak [kW%]:", static_cast<int>(dpdtPeak));
    else
        std::snprintf(out, size, "%s:  %s %d,   %s %d", "Peak values", "Max Peak [kW%]:",
                      static_cast<int>(maxPeak), "Min Peak [kW%]:", static_cast<int>(minPeak));
}

// ---- listing ----

using Field = std::uint16_t ParameterSet::*;

enum class ValueForm {
    Choice,         // the table's text for the value
    Switch,         // two texts: 0, or any other value
    Percent,        // "<n>%"
    Time,           // seconds by timerRange
    PercentWhileOn, // "<n>%", or "--" while the gate field is 0
};

struct ValueTexts {
    const char *const *texts;
    unsigned count;
};

template <unsigned N> static constexpr ValueTexts valueTexts(const char *const (&t)[N])
{
    return {t, N};
}

struct ListingRow {
    int columnDx;
    int dy;
    const char *label; // 13 characters, colon included
    Field field;
    ValueForm form;
    ValueTexts texts; // Choice and Switch
    Field gate;       // PercentWhileOn
};

static constexpr int C1 = LISTING_COLUMN1_DX;
static constexpr int C2 = LISTING_COLUMN2_DX;
static constexpr ValueTexts NO_TEXTS = {nullptr, 0};

static const ListingRow LISTING_ROWS[LISTING_LINE_COUNT] = {
    {C1, 50, "Limit      : ", &ParameterSet::limit1Mode, ValueForm::Choice, valueTexts(LIMIT_MODE_TEXTS), nullptr},
    {C1, 65, "Setpoint   : ", &ParameterSet::limit1Setpoint, ValueForm::Percent, NO_TEXTS, nullptr},
    {C1, 80, "Tr         : ", &ParameterSet::limit1Tr, ValueForm::Time, NO_TEXTS, nullptr},
    {C1, 95, "Autoreset  : ", &ParameterSet::limit1AutoReset, ValueForm::Switch, valueTexts(OFF_ON_TEXTS), nullptr},
    {C1, 110, "Hysteresis : ", &ParameterSet::limit1Hysteresis, ValueForm::PercentWhileOn, NO_TEXTS,
     &ParameterSet::limit1AutoReset},
    {C1, 155, "Limit      : ", &ParameterSet::limit2Mode, ValueForm::Choice, valueTexts(LIMIT_MODE_TEXTS), nullptr},
    {C1, 170, "Setpoint   : ", &ParameterSet::limit2Setpoint, ValueForm::Percent, NO_TEXTS, nullptr},
    {C1, 185, "Tr         : ", &ParameterSet::limit2Tr, ValueForm::Time, NO_TEXTS, nullptr},
    {C1, 200, "Autoreset  : ", &ParameterSet::limit2AutoReset, ValueForm::Switch, valueTexts(OFF_ON_TEXTS), nullptr},
    {C1, 215, "Hysteresis : ", &ParameterSet::limit2Hysteresis, ValueForm::PercentWhileOn, NO_TEXTS,
     &ParameterSet::limit2AutoReset},
    {C1, 260, "Limit      : ", &ParameterSet::dpdtMode, ValueForm::Choice, valueTexts(DPDT_MODE_TEXTS), nullptr},
    {C1, 275, "Setpoint   : ", &ParameterSet::dpdtSetpoint, ValueForm::PercentWhileOn, NO_TEXTS,
     &ParameterSet::dpdtMode},
    {C1, 290, "dUdt       : ", &ParameterSet::dvdt, ValueForm::PercentWhileOn, NO_TEXTS, &ParameterSet::dpdtMode},
    {C2, 50, "Ts         : ", &ParameterSet::ts, ValueForm::Time, NO_TEXTS, nullptr},
    {C2, 95, "Iout       : ", &ParameterSet::iout, ValueForm::Switch, valueTexts(IOUT_TEXTS), nullptr},
    {C2, 110, "Polarity   : ", &ParameterSet::ioutPolarity, ValueForm::Switch, valueTexts(IOUT_POLARITY_TEXTS),
     nullptr},
    {C2, 125, "Filter     : ", &ParameterSet::filter, ValueForm::Choice, valueTexts(FILTER_TEXTS), nullptr},
    {C2, 170, "P1Max      : ", &ParameterSet::p1Max, ValueForm::Percent, NO_TEXTS, nullptr},
    {C2, 185, "P1Min      : ", &ParameterSet::p1Min, ValueForm::Percent, NO_TEXTS, nullptr},
    {C2, 230, "Polarity   : ", &ParameterSet::outputPolarity, ValueForm::Switch, valueTexts(OUTPUT_POLARITY_TEXTS),
     nullptr},
    {C2, 260, "Auto ShutDn: ", &ParameterSet::autoShutDown, ValueForm::Switch, valueTexts(OFF_ON_TEXTS), nullptr},
    {C2, 275, "Zero       : ", &ParameterSet::zero, ValueForm::Choice, valueTexts(ZERO_TEXTS), nullptr},
};

static constexpr ReportLabel TITLE = {{C1, 15}, "Parameters"};
static constexpr ReportLabel SECTIONS[LISTING_SECTION_COUNT] = {
    {{C1, 35}, "Limit 1"}, {{C1, 140}, "Limit 2"}, {{C1, 245}, "dPdt"},  {{C2, 35}, "Setup"},
    {{C2, 80}, "Iout"},    {{C2, 155}, "Zoom"},    {{C2, 215}, "Output"},
};

static ReportPoint offset(ReportPoint origin, ReportPoint by)
{
    return {origin.x + by.x, origin.y + by.y};
}

ReportLabel listingTitle(ReportPoint origin)
{
    return {offset(origin, TITLE.at), TITLE.text};
}

void listingSections(ReportPoint origin, ReportLabel out[LISTING_SECTION_COUNT])
{
    for (int i = 0; i < LISTING_SECTION_COUNT; ++i)
        out[i] = {offset(origin, SECTIONS[i].at), SECTIONS[i].text};
}

static constexpr std::uint16_t HUNDREDTHS = 0; // timerRange 0; any other value counts tenths

static void formatValue(const ListingRow &row, const ParameterSet &p, char *out, std::size_t size)
{
    const unsigned value = p.*row.field;
    switch (row.form) {
    case ValueForm::Choice:
        // The pages never store a value past their items; a set loaded from a
        // file or sent by a device might: its number is printed instead.
        if (value < row.texts.count)
            std::snprintf(out, size, "%s%s", row.label, row.texts.texts[value]);
        else
            std::snprintf(out, size, "%s%u", row.label, value);
        break;
    case ValueForm::Switch:
        std::snprintf(out, size, "%s%s", row.label, row.texts.texts[value != 0 ? 1 : 0]);
        break;
    case ValueForm::Percent:
        std::snprintf(out, size, "%s%u%%", row.label, value);
        break;
    case ValueForm::Time:
        if (p.timerRange == HUNDREDTHS)
            std::snprintf(out, size, "%s%u.%02us", row.label, value / 100, value % 100);
        else
            std::snprintf(out, size, "%s%u.%us", row.label, value / 10, value % 10);
        break;
    case ValueForm::PercentWhileOn:
        if (p.*row.gate == 0)
            std::snprintf(out, size, "%s--", row.label);
        else
            std::snprintf(out, size, "%s%u%%", row.label, value);
        break;
    }
}

void listingLines(const ParameterSet &p, ReportPoint origin, ReportLine out[LISTING_LINE_COUNT])
{
    for (int i = 0; i < LISTING_LINE_COUNT; ++i) {
        const ListingRow &row = LISTING_ROWS[i];
        out[i].at = {origin.x + row.columnDx, origin.y + row.dy};
        formatValue(row, p, out[i].text, sizeof out[i].text);
    }
}
