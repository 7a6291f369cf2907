// .614 files at and past the edge of their fields' code ranges, built from the tests' own code map.
//
// What a load or a write must refuse before sending anything, and what it must still send.
#pragma once

#include <cstring>
#include <string>

#include "code_map_table.h"

struct RangeFieldValue {
    const char *name; // in CODE_MAP
    unsigned value;
};

struct RangeFileCase {
    const char *what;
    unsigned char fill;            // every byte of the block before the values
    RangeFieldValue values[3];     // name nullptr: no more
    const char *refusedField;      // named by the refusal; nullptr: the file is sent
    unsigned refusedValue;
    unsigned sentCode;             // for a file that is sent: the code of its edge value
};

inline const RangeFileCase RANGE_FILE_CASES[] = {
    // Without a check: modes 9, zero 14, p1Max 6199, ... and limit2Tr's code past 65535.
    {"every byte 0xFF", 0xFF, {}, "limit1Mode", 65535, 0},
    // 65051 (the space-bar command), 65053 (max peak reset) and 65050 (upload request).
    {"modes that alias into the commands", 0, {{"limit1Mode", 62051}, {"limit2Mode", 62043}, {"dpdtMode", 62030}},
     "limit1Mode", 62051, 0},
    // 3085 + 15 is limit1Setpoint's first code.
    {"zero one past its range", 0, {{"zero", 15}}, "zero", 15, 0},
    {"zero at the last value of its range", 0, {{"zero", 14}}, nullptr, 0, 3099},
};

inline std::string rangeFileImage(const RangeFileCase &c)
{
    std::string image(88, static_cast<char>(c.fill));
    for (const RangeFieldValue &v : c.values) {
        for (const CodeMapEntry &e : CODE_MAP) {
            if (v.name && std::strcmp(e.name, v.name) == 0) {
                image[e.offset] = static_cast<char>(v.value & 0xFF);
                image[e.offset + 1] = static_cast<char>(v.value >> 8);
            }
        }
    }
    return image;
}

// The refusal's own words for the field: "<name> <value> is outside".
inline std::string rangeRefusalText(const RangeFileCase &c)
{
    return std::string(c.refusedField) + " " + std::to_string(c.refusedValue) + " is outside";
}
