// The two process-wide parameter sets: snapshot, verify and queueing of a whole set.
#include "params/parameter_set.h"

#include <cstring>

#include "link/shared_field.h"
#include "link/transmit.h"

ParameterSet deviceParameters;
ParameterSet requestedParameters;

void snapshotParameters()
{
    for (const ParameterField &f : PARAMETER_FIELDS)
        requestedParameters.*f.member = sharedLoad(deviceParameters.*f.member);
}

bool verifyParameters()
{
    for (const ParameterField &f : PARAMETER_FIELDS) {
        if (requestedParameters.*f.member != sharedLoad(deviceParameters.*f.member))
            return false;
    }
    return true;
}

bool queueParameterSet()
{
    if (codeQueueFree() < PARAMETER_COUNT)
        return false;
    for (const ParameterField &f : PARAMETER_FIELDS)
        queueCode(f.base, sharedLoad(deviceParameters.*f.member));
    return true;
}

void copyDeviceParameters(ParameterSet *out)
{
    for (const ParameterField &f : PARAMETER_FIELDS)
        out->*f.member = sharedLoad(deviceParameters.*f.member);
    for (std::size_t i = 0; i < UNIT_TEXT_SIZE; ++i)
        out->unitText[i] = sharedLoad(deviceParameters.unitText[i]);
    std::memcpy(out->reserved, deviceParameters.reserved, sizeof out->reserved);
}

void replaceDeviceParameters(const ParameterSet &in)
{
    for (const ParameterField &f : PARAMETER_FIELDS)
        sharedStore(deviceParameters.*f.member, in.*f.member);
    for (std::size_t i = 0; i < UNIT_TEXT_SIZE; ++i)
        sharedStore(deviceParameters.unitText[i], in.unitText[i]);
    // Only file loads touch the reserved bytes, and they run on the GUI thread.
    std::memcpy(deviceParameters.reserved, in.reserved, sizeof deviceParameters.reserved);
}

bool unitTextKnown()
{
    return sharedLoad(deviceParameters.unitText[0]) != 0;
}

void clearUnitText()
{
    sharedStore(deviceParameters.unitText[0], 0);
}

void copyUnitText(char *out)
{
    std::size_t i = 0;
    for (; i < UNIT_TEXT_SIZE; ++i) {
        out[i] = sharedLoad(deviceParameters.unitText[i]);
        if (out[i] == 0)
            return;
    }
    out[i] = 0;
}
