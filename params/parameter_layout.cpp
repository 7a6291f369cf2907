// The parameter set's code map: which received codes carry which field, and the send order.
#include "params/parameter_layout.h"

#include <cstdio>

// Send order. Note autoShutDown (3065) after the two auto-reset fields and zero
// (3085) right after filter: the device has always been fed in this order.
const ParameterField PARAMETER_FIELDS[PARAMETER_COUNT] = {
    {"limit1Mode", &ParameterSet::limit1Mode, 3000, 3009},
    {"limit2Mode", &ParameterSet::limit2Mode, 3010, 3019},
    {"dpdtMode", &ParameterSet::dpdtMode, 3020, 3029},
    {"timerRange", &ParameterSet::timerRange, 3030, 3039},
    {"outputPolarity", &ParameterSet::outputPolarity, 3040, 3049},
    {"iout", &ParameterSet::iout, 3050, 3059},
    {"ioutPolarity", &ParameterSet::ioutPolarity, 3060, 3064},
    {"limit1AutoReset", &ParameterSet::limit1AutoReset, 3070, 3074},
    {"limit2AutoReset", &ParameterSet::limit2AutoReset, 3075, 3079},
    {"autoShutDown", &ParameterSet::autoShutDown, 3065, 3069},
    {"filter", &ParameterSet::filter, 3080, 3084},
    {"zero", &ParameterSet::zero, 3085, 3099},
    {"limit1Setpoint", &ParameterSet::limit1Setpoint, 3100, 3199},
    {"limit2Setpoint", &ParameterSet::limit2Setpoint, 3200, 3299},
    {"dpdtSetpoint", &ParameterSet::dpdtSetpoint, 3300, 3399},
    {"dvdt", &ParameterSet::dvdt, 3400, 3499},
    {"limit1Hysteresis", &ParameterSet::limit1Hysteresis, 3500, 3599},
    {"limit2Hysteresis", &ParameterSet::limit2Hysteresis, 3600, 3699},
    {"p1Min", &ParameterSet::p1Min, 3700, 3799},
    {"p1Max", &ParameterSet::p1Max, 3800, 9999},
    {"ts", &ParameterSet::ts, 10000, 19999},
    {"limit1Tr", &ParameterSet::limit1Tr, 20000, 29999},
    {"limit2Tr", &ParameterSet::limit2Tr, 30000, 64999},
};

const ParameterField *parameterFieldForCode(DeviceCode code)
{
    if (code < PARAMETER_CODE_FIRST || code > PARAMETER_CODE_LAST)
        return nullptr;
    for (const ParameterField &f : PARAMETER_FIELDS) {
        if (code >= f.base && code <= f.lastCode)
            return &f;
    }
    return nullptr;
}

const ParameterField *firstFieldOutOfRange(const ParameterSet &set)
{
    for (const ParameterField &f : PARAMETER_FIELDS) {
        if (set.*f.member > fieldValueLimit(f))
            return &f;
    }
    return nullptr;
}

void formatFieldOutOfRange(const ParameterField &f, const ParameterSet &set, char *out, std::size_t size)
{
    std::snprintf(out, size, "%s %u is outside 0..%u", f.name, static_cast<unsigned>(set.*f.member),
                  fieldValueLimit(f));
}
