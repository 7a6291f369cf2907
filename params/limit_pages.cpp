// The rules of the Limit 1 and Limit 2 pages: enabling, mode and auto-reset choices, entries and Apply.
#include "params/page_rules.h"

#include "params/page_controls.h"
#include "params/parameter_texts.h"

static constexpr unsigned long HYSTERESIS_MIN = 2;
static constexpr unsigned long HYSTERESIS_MAX = 50;

const LimitPage *limitPage(ParameterPage page)
{
    if (page == ParameterPage::Limit1)
        return &LIMIT_PAGES[0];
    if (page == ParameterPage::Limit2)
        return &LIMIT_PAGES[1];
    return nullptr;
}

void initLimit(const PageOps &ops)
{
    fillCombo(ops, IDC_LIMIT_MODE, items(LIMIT_MODE_TEXTS));
    fillCombo(ops, IDC_AUTO_RESET, items(OFF_ON_TEXTS));
}

static void enableLimitFields(const PageOps &ops, const LimitPage &p)
{
    const bool on = requested(p.mode) != LIMIT_OFF;
    ops.enable(ops.page, IDC_SETPOINT, on);
    ops.enable(ops.page, IDC_TR, on);
    ops.enable(ops.page, IDC_AUTO_RESET, on);
    ops.enable(ops.page, IDC_HYSTERESIS, on && requested(p.autoReset) != 0);
}

void activateLimit(const PageOps &ops, const LimitPage &p)
{
    selectValue(ops, IDC_LIMIT_MODE, p.mode);
    enableLimitFields(ops, p);
    ops.showNumber(ops.page, IDC_SETPOINT, requested(p.setpoint));
    showTime(ops, IDC_TR, p.tr);
    selectValue(ops, IDC_AUTO_RESET, p.autoReset);
    ops.showNumber(ops.page, IDC_HYSTERESIS, requested(p.hysteresis));
}

void limitCommand(const PageOps &ops, const LimitPage &p, int control)
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

void limitFieldLeft(const PageOps &ops, const LimitPage &p, int control)
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
void applyLimit(const PageOps &ops, const LimitPage &p)
{
    queueIfChanged(p.mode);
    applyNumber(ops, IDC_SETPOINT, p.setpoint, SETPOINT_MIN, SETPOINT_MAX);
    applyTime(ops, IDC_TR, p.tr);
    queueIfChanged(p.autoReset);
    applyNumber(ops, IDC_HYSTERESIS, p.hysteresis, HYSTERESIS_MIN, HYSTERESIS_MAX);
}
