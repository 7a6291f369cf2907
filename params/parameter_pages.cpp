// The rules of the Limit 1, Limit 2, dPdt and Setup pages, and the entry and display of time values.
#include "params/parameter_pages.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "link/shared_field.h"
#include "link/transmit.h"
#include "params/page_controls.h"
#include "params/parameter_set.h"
#include "params/parameter_texts.h"

using Field = std::uint16_t ParameterSet::*;

// In sheet order, indexed by ParameterPage.
static const char *const PAGE_TITLES[PARAMETER_PAGE_COUNT] = {"Limit 1", "Limit 2", "dPdt", "Setup"};
static const int PAGE_TEMPLATES[PARAMETER_PAGE_COUNT] = {IDD_LIMIT1_PAGE, IDD_LIMIT2_PAGE, IDD_DPDT_PAGE,
                                                         IDD_SETUP_PAGE};

const char *parameterPageTitle(ParameterPage page)
{
    return PAGE_TITLES[static_cast<int>(page)];
}

int parameterPageTemplate(ParameterPage page)
{
    return PAGE_TEMPLATES[static_cast<int>(page)];
}

// Bounds of the number fields, in per cent.
static constexpr unsigned long SETPOINT_MIN = 5;
static constexpr unsigned long SETPOINT_MAX = 99;
static constexpr unsigned long HYSTERESIS_MIN = 2;
static constexpr unsigned long HYSTERESIS_MAX = 50;
static constexpr unsigned long DVDT_MAX = 20;
static constexpr unsigned long P1_MAX_LIMIT = 100;
static constexpr unsigned long P1_SPAN = 10; // P1Max stays at least this far above P1Min

static constexpr std::uint16_t LIMIT_OFF = 0;
static constexpr std::uint16_t LIMIT_MIN = 1;
static constexpr std::uint16_t ZERO_OFF = 0;
static constexpr std::uint16_t RANGE_HUNDREDTHS = 0; // "100": 0.01 s; any other value counts as "1000"

// Combo boxes: the item index is the parameter value itself.
struct ComboItems {
    const char *const *texts;
    int count;
};
// The value texts shared with the printed listing are in params/parameter_texts.h.
static const char *const TIMER_RANGE_TEXTS[] = {"100", "1000"};

template <int N> static constexpr ComboItems items(const char *const (&texts)[N])
{
    return {texts, N};
}

// The fields one Limit page edits.
struct LimitPage {
    Field mode, setpoint, tr, autoReset, hysteresis;
};
static const LimitPage LIMIT_PAGES[2] = {
    {&ParameterSet::limit1Mode, &ParameterSet::limit1Setpoint, &ParameterSet::limit1Tr,
     &ParameterSet::limit1AutoReset, &ParameterSet::limit1Hysteresis},
    {&ParameterSet::limit2Mode, &ParameterSet::limit2Setpoint, &ParameterSet::limit2Tr,
     &ParameterSet::limit2AutoReset, &ParameterSet::limit2Hysteresis},
};

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

// ---- fields, codes and controls ----

static std::uint16_t requested(Field f)
{
    return requestedParameters.*f;
}

static void setRequested(Field f, unsigned long value)
{
    requestedParameters.*f = static_cast<std::uint16_t>(value);
}

static DeviceCode codeBase(Field f)
{
    for (const ParameterField &p : PARAMETER_FIELDS) {
        if (p.member == f)
            return p.base;
    }
    return 0; // every field a page edits is in the code map
}

static void queueField(Field f)
{
    queueCode(codeBase(f), requested(f));
}

// The reader thread may be storing the device's field meanwhile: read it once, whole.
static void queueIfChanged(Field f)
{
    if (requested(f) != sharedLoad(deviceParameters.*f))
        queueField(f);
}

static void fillCombo(const PageOps &ops, int control, ComboItems list)
{
    for (int i = 0; i < list.count; ++i)
        ops.addItem(ops.page, control, i, list.texts[i]);
}

// A value outside the items leaves the combo box without a selection.
static void selectValue(const PageOps &ops, int control, Field f)
{
    ops.select(ops.page, control, requested(f));
}

// The new selection, or -1 when there is none or it equals the stored value.
static int newSelection(const PageOps &ops, int control, Field f)
{
    const int s = ops.selection(ops.page, control);
    return s < 0 || s == requested(f) ? -1 : s;
}

static void showTime(const PageOps &ops, int control, Field f)
{
    char text[TIME_TEXT_SIZE];
    formatTimeText(requested(f), text, sizeof text);
    ops.showText(ops.page, control, text);
}

// Whole values: "65541" is 65541 and out of bounds, never its low 16 bits.
static bool readNumberWithin(const PageOps &ops, int control, unsigned long low, unsigned long high,
                             unsigned long *value)
{
    *value = ops.readNumber(ops.page, control);
    return *value >= low && *value <= high;
}

static bool readTime(const PageOps &ops, int control, unsigned long *value)
{
    char text[TIME_TEXT_READ_SIZE] = {};
    int length = ops.readText(ops.page, control, text, sizeof text);
    if (length < 0)
        length = 0;
    if (length > TIME_TEXT_READ_SIZE - 1)
        length = TIME_TEXT_READ_SIZE - 1;
    const int t = parseTimeText(text, length);
    if (t < 0 || t > TIME_VALUE_MAX)
        return false;
    *value = static_cast<unsigned long>(t);
    return true;
}

// Reads a number field and stores it when it is within its bounds.
static bool takeNumber(const PageOps &ops, int control, Field f, unsigned long low, unsigned long high)
{
    unsigned long v;
    if (!readNumberWithin(ops, control, low, high, &v))
        return false;
    setRequested(f, v);
    return true;
}

static bool takeTime(const PageOps &ops, int control, Field f)
{
    unsigned long t;
    if (!readTime(ops, control, &t))
        return false;
    setRequested(f, t);
    return true;
}

// At Apply an edit field is read again; only a valid entry is stored and compared.
static void applyNumber(const PageOps &ops, int control, Field f, unsigned long low, unsigned long high)
{
    if (takeNumber(ops, control, f, low, high))
        queueIfChanged(f);
}

static void applyTime(const PageOps &ops, int control, Field f)
{
    if (takeTime(ops, control, f))
        queueIfChanged(f);
}

// ---- Limit pages ----

static void enableLimitFields(const PageOps &ops, const LimitPage &p)
{
    const bool on = requested(p.mode) != LIMIT_OFF;
    ops.enable(ops.page, IDC_SETPOINT, on);
    ops.enable(ops.page, IDC_TR, on);
    ops.enable(ops.page, IDC_AUTO_RESET, on);
    ops.enable(ops.page, IDC_HYSTERESIS, on && requested(p.autoReset) != 0);
}

static void activateLimit(const PageOps &ops, const LimitPage &p)
{
    selectValue(ops, IDC_LIMIT_MODE, p.mode);
    enableLimitFields(ops, p);
    ops.showNumber(ops.page, IDC_SETPOINT, requested(p.setpoint));
    showTime(ops, IDC_TR, p.tr);
    selectValue(ops, IDC_AUTO_RESET, p.autoReset);
    ops.showNumber(ops.page, IDC_HYSTERESIS, requested(p.hysteresis));
}

static void limitCommand(const PageOps &ops, const LimitPage &p, int control)
{
    switch (control) {
    case IDC_LIMIT_MODE: {
        const int s = newSelection(ops, control, p.mode);
        if (s < 0)
            return;
        // "Min." and the zero function exclude each other: the choice is undone.
        if (s == LIMIT_MIN && requestedParameters.zero != ZERO_OFF) {
            selectValue(ops, control, p.mode);
            return;
        }
        setRequested(p.mode, static_cast<unsigned long>(s));
        enableLimitFields(ops, p);
        return;
    }
    case IDC_AUTO_RESET: {
        const int a = newSelection(ops, control, p.autoReset);
        if (a < 0)
            return;
        setRequested(p.autoReset, static_cast<unsigned long>(a));
        ops.enable(ops.page, IDC_HYSTERESIS, a != 0);
        return;
    }
    default:
        return;
    }
}

static void limitFieldLeft(const PageOps &ops, const LimitPage &p, int control)
{
    switch (control) {
    case IDC_SETPOINT:
        takeNumber(ops, control, p.setpoint, SETPOINT_MIN, SETPOINT_MAX);
        break;
    case IDC_TR:
        takeTime(ops, control, p.tr);
        break;
    case IDC_HYSTERESIS:
        takeNumber(ops, control, p.hysteresis, HYSTERESIS_MIN, HYSTERESIS_MAX);
        break;
    default:
        break;
    }
}

// Fields are compared whether they are enabled or not: a limit that is "Off"
// still has its setpoint, time, auto reset and hysteresis sent when changed.
static void applyLimit(const PageOps &ops, const LimitPage &p)
{
    queueIfChanged(p.mode);
    applyNumber(ops, IDC_SETPOINT, p.setpoint, SETPOINT_MIN, SETPOINT_MAX);
    applyTime(ops, IDC_TR, p.tr);
    queueIfChanged(p.autoReset);
    applyNumber(ops, IDC_HYSTERESIS, p.hysteresis, HYSTERESIS_MIN, HYSTERESIS_MAX);
}

// ---- dPdt page ----

static void enableDpdtFields(const PageOps &ops)
{
    const bool on = requestedParameters.dpdtMode != 0;
    ops.enable(ops.page, IDC_SETPOINT, on);
    ops.enable(ops.page, IDC_DVDT, on);
}

static void activateDpdt(const PageOps &ops)
{
    selectValue(ops, IDC_LIMIT_MODE, &ParameterSet::dpdtMode);
    enableDpdtFields(ops);
    ops.showNumber(ops.page, IDC_SETPOINT, requestedParameters.dpdtSetpoint);
    if (requestedParameters.dvdt == 0)
        ops.showText(ops.page, IDC_DVDT, "Off");
    else
        ops.showNumber(ops.page, IDC_DVDT, requestedParameters.dvdt);
}

// ---- Setup page ----

static void enableZoomFields(const PageOps &ops)
{
    const bool on = requestedParameters.zero == ZERO_OFF;
    ops.enable(ops.page, IDC_P1MAX, on);
    ops.enable(ops.page, IDC_P1MIN, on);
}

static void activateSetup(const PageOps &ops)
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

static void setupCommand(const PageOps &ops, int control)
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

static void setupFieldLeft(const PageOps &ops, int control)
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
static void applySetup(const PageOps &ops)
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

// ---- the page protocol ----

static const LimitPage *limitPage(ParameterPage page)
{
    if (page == ParameterPage::Limit1)
        return &LIMIT_PAGES[0];
    if (page == ParameterPage::Limit2)
        return &LIMIT_PAGES[1];
    return nullptr;
}

void initPage(ParameterPage page, const PageOps &ops)
{
    switch (page) {
    case ParameterPage::Limit1:
    case ParameterPage::Limit2:
        fillCombo(ops, IDC_LIMIT_MODE, items(LIMIT_MODE_TEXTS));
        fillCombo(ops, IDC_AUTO_RESET, items(OFF_ON_TEXTS));
        break;
    case ParameterPage::Dpdt:
        fillCombo(ops, IDC_LIMIT_MODE, items(DPDT_MODE_TEXTS));
        break;
    case ParameterPage::Setup:
        fillCombo(ops, IDC_TIMER_RANGE, items(TIMER_RANGE_TEXTS));
        for (const PlainCombo &c : SETUP_COMBOS)
            fillCombo(ops, c.control, c.items);
        fillCombo(ops, IDC_ZERO, items(ZERO_TEXTS));
        break;
    }
}

void activatePage(ParameterPage page, const PageOps &ops)
{
    if (const LimitPage *p = limitPage(page))
        activateLimit(ops, *p);
    else if (page == ParameterPage::Dpdt)
        activateDpdt(ops);
    else
        activateSetup(ops);
    ops.postUnchanged(ops.page);
}

void leavePage(const PageOps &ops)
{
    ops.postUnchanged(ops.page);
}

void applyPage(ParameterPage page, const PageOps &ops)
{
    if (const LimitPage *p = limitPage(page)) {
        applyLimit(ops, *p);
    } else if (page == ParameterPage::Dpdt) {
        queueIfChanged(&ParameterSet::dpdtMode);
        applyNumber(ops, IDC_SETPOINT, &ParameterSet::dpdtSetpoint, SETPOINT_MIN, SETPOINT_MAX);
        applyNumber(ops, IDC_DVDT, &ParameterSet::dvdt, 0, DVDT_MAX);
    } else {
        applySetup(ops);
    }
}

static bool isEditField(ParameterPage page, int control)
{
    switch (page) {
    case ParameterPage::Limit1:
    case ParameterPage::Limit2:
        return control == IDC_SETPOINT || control == IDC_TR || control == IDC_HYSTERESIS;
    case ParameterPage::Dpdt:
        return control == IDC_SETPOINT || control == IDC_DVDT;
    case ParameterPage::Setup:
        return control == IDC_TS || control == IDC_P1MAX || control == IDC_P1MIN;
    }
    return false;
}

void pageCommand(ParameterPage page, const PageOps &ops, int control, int notification)
{
    if (isEditField(page, control)) {
        if (notification != EDIT_LOST_FOCUS)
            return;
        if (const LimitPage *p = limitPage(page)) {
            limitFieldLeft(ops, *p, control);
        } else if (page == ParameterPage::Dpdt) {
            if (control == IDC_SETPOINT)
                takeNumber(ops, control, &ParameterSet::dpdtSetpoint, SETPOINT_MIN, SETPOINT_MAX);
            else
                takeNumber(ops, control, &ParameterSet::dvdt, 0, DVDT_MAX); // "Off" reads 0
        } else {
            setupFieldLeft(ops, control);
        }
        return;
    }
    // Combo boxes act on every notification; the selection decides.
    if (const LimitPage *p = limitPage(page)) {
        limitCommand(ops, *p, control);
    } else if (page == ParameterPage::Dpdt) {
        if (control != IDC_LIMIT_MODE)
            return;
        const int s = newSelection(ops, control, &ParameterSet::dpdtMode);
        if (s < 0)
            return;
        requestedParameters.dpdtMode = static_cast<std::uint16_t>(s);
        enableDpdtFields(ops);
    } else {
        setupCommand(ops, control);
    }
}

// ---- time values ----

static bool hundredths()
{
    return requestedParameters.timerRange == RANGE_HUNDREDTHS;
}

int parseTimeText(const char *text, int length)
{
    const int decimals = hundredths() ? 2 : 1;
    int n = 0;
    while (n < length && text[n] != '\0')
        ++n;
    if (n == 0)
        return 0;
    int sep = 0;
    while (sep < n && text[sep] != '.' && text[sep] != ',')
        ++sep;
    // Decided by the number of characters alone: "005" in two-decimal mode is the largest time too.
    if (sep > 4 - decimals)
        return TIME_VALUE_MAX;
    // The whole part, then exactly `decimals` fraction characters, padded with 0; no rounding.
    char digits[8];
    int d = 0;
    for (int i = 0; i < sep; ++i)
        digits[d++] = text[i];
    for (int i = 0; i < decimals; ++i) {
        const int at = sep + 1 + i;
        digits[d++] = at < n ? text[at] : '0';
    }
    digits[d] = '\0';
    return std::atoi(digits);
}

void formatTimeText(unsigned value, char *out, std::size_t size)
{
    if (hundredths())
        std::snprintf(out, size, "%u.%02u", value / 100, value % 100);
    else
        std::snprintf(out, size, "%u.%u", value / 10, value % 10);
}
