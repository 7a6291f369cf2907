// The rules of the Setup page: timer range and zero with their effects on the other pages, P1 span, Apply.
#include "params/page_rules.h"

#include "link/shared_field.h"
#include "params/page_controls.h"
#include "params/parameter_texts.h"

static constexpr unsigned long P1_MAX_LIMIT = 100;
static constexpr unsigned long P1_SPAN = 10; // P1Max stays at least this far above P1Min

// The value texts shared with the printed listing are in params/parameter_texts.h.
static const char *const TIMER_RANGE_TEXTS[] = {"100", "1000"};

// The Setup page's combo boxes whose selection is simply stored.
struct PlainCombo {
    int control;
    Field field;
    ComboItems items;
};
// Item order of the page; the activation selects them in a different order (below).
static const PlainCombo SETUP_COMBOS[] = {
    {IDC_IOUT, &ParameterSet::iout, items(IOUT_TEXTS)},
    {IDC_IOUT_POLARITY, &ParameterSet::ioutPolarity, items(IOUT_POLARITY_TEXTS)},
    {IDC_FILTER, &ParameterSet::filter, items(FILTER_TEXTS)},
    {IDC_OUTPUT_POLARITY, &ParameterSet::outputPolarity, items(OUTPUT_POLARITY_TEXTS)},
    {IDC_AUTO_SHUT_DOWN, &ParameterSet::autoShutDown, items(OFF_ON_TEXTS)},
};

void initSetup(const PageOps &ops)
{
    fillCombo(ops, IDC_TIMER_RANGE, items(TIMER_RANGE_TEXTS));
    for (const PlainCombo &c : SETUP_COMBOS)
        fillCombo(ops, c.control, c.items);
    fillCombo(ops, IDC_ZERO, items(ZERO_TEXTS));
}

static void enableZoomFields(const PageOps &ops)
{
    const bool on = requestedParameters.zero == ZERO_OFF;
    ops.enable(ops.page, IDC_P1MAX, on);
    ops.enable(ops.page, IDC_P1MIN, on);
}

void activateSetup(const PageOps &ops)
{
    selectValue(ops, IDC_TIMER_RANGE, &ParameterSet::timerRange);
    showTime(ops, IDC_TS, &ParameterSet::ts);
    selectValue(ops, IDC_OUTPUT_POLARITY, &ParameterSet::outputPolarity);
    selectValue(ops, IDC_IOUT, &ParameterSet::iout);
    selectValue(ops, IDC_IOUT_POLARITY, &ParameterSet::ioutPolarity);
    selectValue(ops, IDC_FILTER, &ParameterSet::filter);
    ops.showNumber(ops.page, IDC_P1MAX, requestedParameters.p1Max);
    ops.showNumber(ops.page, IDC_P1MIN, requestedParameters.p1Min);
    selectValue(ops, IDC_AUTO_SHUT_DOWN, &ParameterSet::autoShutDown);
    selectValue(ops, IDC_ZERO, &ParameterSet::zero);
    enableZoomFields(ops);
}

// The three time values keep their meaning in seconds when the unit changes.
static void rescaleTimes(bool toHundredths)
{
    for (Field f : {&ParameterSet::limit1Tr, &ParameterSet::limit2Tr, &ParameterSet::ts}) {
        const unsigned long v = requested(f);
        setRequested(f, toHundredths ? (v * 10 > TIME_VALUE_MAX ? TIME_VALUE_MAX : v * 10) : v / 10);
    }
}

static void timerRangeNotified(const PageOps &ops)
{
    const int s = ops.selection(ops.page, IDC_TIMER_RANGE);
    if (s < 0)
        return;
    const std::uint16_t old = requestedParameters.timerRange;
    if (s != old) {
        // A device value such as 5 already counts as tenths: choosing "1000"
        // then changes the stored range but not the unit, and nothing is rescaled.
        const bool wasHundredths = old == RANGE_HUNDREDTHS;
        const bool toHundredths = s == RANGE_HUNDREDTHS;
        requestedParameters.timerRange = static_cast<std::uint16_t>(s);
        if (wasHundredths != toHundredths)
            rescaleTimes(toHundredths);
    }
    // Also on a notification without a change: an ignored Ts entry gives way to the stored value.
    showTime(ops, IDC_TS, &ParameterSet::ts);
}

static void zeroNotified(const PageOps &ops)
{
    const int z = newSelection(ops, IDC_ZERO, &ParameterSet::zero);
    if (z < 0)
        return;
    requestedParameters.zero = static_cast<std::uint16_t>(z);
    enableZoomFields(ops);
    if (z == ZERO_OFF)
        return;
    // "Min." is not allowed with the zero function on; "Max." stays.
    for (const LimitPage &p : LIMIT_PAGES) {
        if (requested(p.mode) == LIMIT_MIN)
            setRequested(p.mode, LIMIT_OFF);
    }
}

void setupCommand(const PageOps &ops, int control)
{
    if (control == IDC_TIMER_RANGE) {
        timerRangeNotified(ops);
        return;
    }
    if (control == IDC_ZERO) {
        zeroNotified(ops);
        return;
    }
    for (const PlainCombo &c : SETUP_COMBOS) {
        if (c.control == control) {
            const int s = newSelection(ops, control, c.field);
            if (s >= 0)
                setRequested(c.field, static_cast<unsigned long>(s));
            return;
        }
    }
}

// P1Max lies in p1Min + 10 .. 100; P1Min in 0 .. p1Max - 10 (nothing while p1Max < 10).
static bool takeP1Max(const PageOps &ops)
{
    return takeNumber(ops, IDC_P1MAX, &ParameterSet::p1Max, requestedParameters.p1Min + P1_SPAN, P1_MAX_LIMIT);
}

static bool takeP1Min(const PageOps &ops)
{
    if (requestedParameters.p1Max < P1_SPAN)
        return false;
    return takeNumber(ops, IDC_P1MIN, &ParameterSet::p1Min, 0, requestedParameters.p1Max - P1_SPAN);
}

void setupFieldLeft(const PageOps &ops, int control)
{
    switch (control) {
    case IDC_TS:
        takeTime(ops, control, &ParameterSet::ts);
        break;
    case IDC_P1MAX:
        takeP1Max(ops);
        break;
    case IDC_P1MIN:
        takeP1Min(ops);
        break;
    default:
        break;
    }
}

// The device must receive the Tr values after a new Timer Range and the limit
// modes after a new Zero, also when the Limit pages were never shown: those
// codes follow whether or not they differ.
void applySetup(const PageOps &ops)
{
    if (requestedParameters.timerRange != sharedLoad(deviceParameters.timerRange)) {
        queueField(&ParameterSet::timerRange);
        queueField(&ParameterSet::limit1Tr);
        queueField(&ParameterSet::limit2Tr);
    }
    applyTime(ops, IDC_TS, &ParameterSet::ts);
    queueIfChanged(&ParameterSet::outputPolarity);
    queueIfChanged(&ParameterSet::iout);
    queueIfChanged(&ParameterSet::ioutPolarity);
    queueIfChanged(&ParameterSet::filter);
    if (takeP1Max(ops))
        queueIfChanged(&ParameterSet::p1Max);
    if (takeP1Min(ops))
        queueIfChanged(&ParameterSet::p1Min);
    queueIfChanged(&ParameterSet::autoShutDown);
    if (requestedParameters.zero != sharedLoad(deviceParameters.zero)) {
        queueField(&ParameterSet::zero);
        queueField(&ParameterSet::limit1Mode);
        queueField(&ParameterSet::limit2Mode);
    }
}
