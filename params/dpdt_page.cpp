// The rules of the dPdt page: its mode choice, setpoint and dV/dt entries, and Apply.
#include "params/page_rules.h"

#include "params/page_controls.h"
#include "params/parameter_texts.h"

static constexpr unsigned long DVDT_MAX = 20;

void initDpdt(const PageOps &ops)
{
    fillCombo(ops, IDC_LIMIT_MODE, items(DPDT_MODE_TEXTS));
}

static void enableDpdtFields(const PageOps &ops)
{
    const bool on = requestedParameters.dpdtMode != 0;
    ops.enable(ops.page, IDC_SETPOINT, on);
    ops.enable(ops.page, IDC_DVDT, on);
}

void activateDpdt(const PageOps &ops)
{
    selectValue(ops, IDC_LIMIT_MODE, &ParameterSet::dpdtMode);
    enableDpdtFields(ops);
    ops.showNumber(ops.page, IDC_SETPOINT, requestedParameters.dpdtSetpoint);
    if (requestedParameters.dvdt == 0)
        ops.showText(ops.page, IDC_DVDT, "Off");
    else
        ops.showNumber(ops.page, IDC_DVDT, requestedParameters.dvdt);
}

void dpdtCommand(const PageOps &ops, int control)
{
    if (control != IDC_LIMIT_MODE)
        return;
    const int s = newSelection(ops, control, &ParameterSet::dpdtMode);
    if (s < 0)
        return;
    requestedParameters.dpdtMode = static_cast<std::uint16_t>(s);
    enableDpdtFields(ops);
}

void dpdtFieldLeft(const PageOps &ops, int control)
{
    if (control == IDC_SETPOINT)
        takeNumber(ops, control, &ParameterSet::dpdtSetpoint, SETPOINT_MIN, SETPOINT_MAX);
    else
        takeNumber(ops, control, &ParameterSet::dvdt, 0, DVDT_MAX); // "Off" reads 0
}

void applyDpdt(const PageOps &ops)
{
    queueIfChanged(&ParameterSet::dpdtMode);
    applyNumber(ops, IDC_SETPOINT, &ParameterSet::dpdtSetpoint, SETPOINT_MIN, SETPOINT_MAX);
    applyNumber(ops, IDC_DVDT, &ParameterSet::dvdt, 0, DVDT_MAX);
}
