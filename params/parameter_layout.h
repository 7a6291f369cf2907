// The device's parameter set: the 88-byte block that is also the .614 file, and its code map.
//
// Layout only: the program's own sets live in params/parameter_set.h.
#pragma once

#include <cstddef>
#include <cstdint>

#include "link/device_code.h"

inline constexpr std::size_t PARAMETER_FILE_SIZE = 88;
inline constexpr std::size_t UNIT_TEXT_SIZE = 32;
inline constexpr int PARAMETER_COUNT = 23;

// Little-endian 16-bit fields; the in-memory image is the file image.
struct ParameterSet {
    std::uint16_t limit1Mode;       // 0 Off, 1 Min., 2 Max.
    std::uint16_t limit1Setpoint;   // per cent
    std::uint16_t limit1Tr;         // time units (timerRange)
    std::uint16_t limit1AutoReset;  // 0 Off, 1 On
    std::uint16_t limit1Hysteresis; // per cent
    std::uint16_t limit2Mode;
    std::uint16_t limit2Setpoint;
    std::uint16_t limit2Tr;
    std::uint16_t limit2AutoReset;
    std::uint16_t limit2Hysteresis;
    std::uint16_t dpdtMode;       // 0 Off, 1 +dPdt, 2 +/- dPdt
    std::uint16_t dpdtSetpoint;   // per cent
    std::uint16_t dvdt;           // 0 Off, else per cent
    std::uint16_t timerRange;     // 0: hundredths of a second, 1: tenths
    std::uint16_t ts;             // time units
    std::uint16_t outputPolarity; // 0 n.inv, 1 inv
    std::uint16_t iout;           // 0 0-20mA, 1 4-20mA
    std::uint16_t ioutPolarity;   // 0 Norm., 1 Inv.
    std::uint16_t filter;         // 0 None, 1 3s, 2 6s, 3 10s
    std::uint16_t p1Max;          // per cent
    std::uint16_t p1Min;          // per cent
    std::uint16_t autoShutDown;   // 0 Off, 1 On
    char unitText[UNIT_TEXT_SIZE]; // 8-bit characters ended by 0x00
    std::uint16_t zero;           // 0 Off, 1 After Ts, 2 External
    std::uint8_t reserved[10];
};

static_assert(sizeof(ParameterSet) == PARAMETER_FILE_SIZE);
static_assert(offsetof(ParameterSet, autoShutDown) == 42);
static_assert(offsetof(ParameterSet, unitText) == 44);
static_assert(offsetof(ParameterSet, zero) == 76);
static_assert(offsetof(ParameterSet, reserved) == 78);

// One numeric parameter: where it lives and which received codes carry it.
struct ParameterField {
    const char *name;
    std::uint16_t ParameterSet::*member;
    DeviceCode base;     // code = base + value
    DeviceCode lastCode; // last code of the received range that lands here
};

// The 23 numeric fields in the order a whole set is sent to the device.
extern const ParameterField PARAMETER_FIELDS[PARAMETER_COUNT];

// The field whose received range holds the code, or nullptr.
const ParameterField *parameterFieldForCode(DeviceCode code);

// The largest value the field's own codes carry: base + value stays in
// base..lastCode. A larger value would go out as another field's code, or
// past 64999 as a device command.
inline unsigned fieldValueLimit(const ParameterField &f)
{
    return static_cast<unsigned>(f.lastCode - f.base);
}

// The first field, in send order, whose value its codes cannot carry; nullptr
// when all 23 can be sent. A set from outside (a .614 file) is checked with
// this before a single code of it is sent. Values the parameter pages would
// not offer (a setpoint of 150) pass: the device takes every code of a range.
const ParameterField *firstFieldOutOfRange(const ParameterSet &set);

// "limit1Mode 62051 is outside 0..9"; always terminated, cut to fit.
inline constexpr std::size_t FIELD_RANGE_TEXT_SIZE = 64;
void formatFieldOutOfRange(const ParameterField &f, const ParameterSet &set, char *out, std::size_t size);
