// The device's parameter code map written out on its own: where each field sits in the 88-byte
// block, its code base, the last code of its received range, and the order a whole set is sent in.
// Tests hold the program's table and the simulator against it, so that neither can agree with the
// other by sharing a mistake.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

struct CodeMapEntry {
    const char *name;
    std::size_t offset;  // byte offset in the block
    std::uint16_t base;  // code = base + value
    std::uint16_t last;  // last received code that lands in this field
};

inline constexpr int CODE_MAP_COUNT = 23;

// In block order.
inline constexpr CodeMapEntry CODE_MAP[CODE_MAP_COUNT] = {
    {"limit1Mode", 0, 3000, 3009},        {"limit1Setpoint", 2, 3100, 3199},
    {"limit1Tr", 4, 20000, 29999},        {"limit1AutoReset", 6, 3070, 3074},
    {"limit1Hysteresis", 8, 3500, 3599},  {"limit2Mode", 10, 3010, 3019},
    {"limit2Setpoint", 12, 3200, 3299},   {"limit2Tr", 14, 30000, 64999},
    {"limit2AutoReset", 16, 3075, 3079},  {"limit2Hysteresis", 18, 3600, 3699},
    {"dpdtMode", 20, 3020, 3029},         {"dpdtSetpoint", 22, 3300, 3399},
    {"dvdt", 24, 3400, 3499},             {"timerRange", 26, 3030, 3039},
    {"ts", 28, 10000, 19999},             {"outputPolarity", 30, 3040, 3049},
    {"iout", 32, 3050, 3059},             {"ioutPolarity", 34, 3060, 3064},
    {"filter", 36, 3080, 3084},           {"p1Max", 38, 3800, 9999},
    {"p1Min", 40, 3700, 3799},            {"autoShutDown", 42, 3065, 3069},
    {"zero", 76, 3085, 3099},
};

// Code bases in the order the device is fed a whole set.
inline constexpr std::uint16_t SEND_ORDER[CODE_MAP_COUNT] = {
    3000, 3010, 3020, 3030, 3040, 3050, 3060, 3070, 3075, 3065, 3080, 3085,
    3100, 3200, 3300, 3400, 3500, 3600, 3700, 3800, 10000, 20000, 30000,
};

inline const CodeMapEntry &codeMapEntryForBase(std::uint16_t base)
{
    for (const CodeMapEntry &e : CODE_MAP) {
        if (e.base == base)
            return e;
    }
    return CODE_MAP[0]; // every base of SEND_ORDER is in the map
}

// Little-endian 16-bit value at a byte offset of a block.
inline std::uint16_t blockField(const void *block, std::size_t offset)
{
    const auto *b = static_cast<const std::uint8_t *>(block) + offset;
    return static_cast<std::uint16_t>(b[0] | b[1] << 8);
}

inline void setBlockField(void *block, std::size_t offset, std::uint16_t value)
{
    auto *b = static_cast<std::uint8_t *>(block) + offset;
    b[0] = static_cast<std::uint8_t>(value);
    b[1] = static_cast<std::uint8_t>(value >> 8);
}
