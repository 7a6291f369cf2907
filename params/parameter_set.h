// The program's two parameter sets: as the device reported them and as the user wants them.
#pragma once

#include "params/parameter_layout.h"

// The values last reported by the device, or last loaded from a file.
extern ParameterSet deviceParameters;
// The values the user wants the device to have.
extern ParameterSet requestedParameters;

// Copies the 23 numeric fields of deviceParameters to requestedParameters.
void snapshotParameters();
// True when the 23 numeric fields of requestedParameters equal deviceParameters.
bool verifyParameters();
// Queues base + value of every numeric field of deviceParameters, in send order.
// False when the code queue could not take them all.
bool queueParameterSet();

// Thread-safe whole copies of deviceParameters (GUI side; the reader thread may
// be storing fields meanwhile).
void copyDeviceParameters(ParameterSet *out);
void replaceDeviceParameters(const ParameterSet &in);

// Unit text as the GUI sees it: empty when the first byte is 0.
bool unitTextKnown();
void clearUnitText();
// Copies the unit text into out (at least UNIT_TEXT_SIZE + 1 bytes), always terminated.
void copyUnitText(char *out);
