// Frame codec: one DeviceCode per frame, four bits per byte, additive checksum, CR.
#pragma once

#include <cstddef>
#include <cstdint>

#include "link/device_code.h"

inline constexpr std::size_t FRAME_SIZE = 6;         // outgoing frame, CR included
inline constexpr std::uint8_t FRAME_END = 0x0D;      // CR on the line
inline constexpr std::size_t FRAME_SCAN_LIMIT = 100; // a collected frame of 100+ bytes counts as empty

// The 6 bytes the program sends for one code: four data nibbles each padded
// with 0x1, the 8-bit sum of those four, then CR.
void encodeFrame(DeviceCode code, std::uint8_t out[FRAME_SIZE]);

// A collected frame is a byte string ended by 0x00 in place of its CR.
// Number of bytes before the first 0x00 when that is 1..99, otherwise 0.
int frameLength(const std::uint8_t *frame);

// The last byte equals the 8-bit sum of the bytes before it.
bool checksumValid(const std::uint8_t *frame);

// Code of a frame that passed checksumValid: long form for 5 bytes, short form
// (first two bytes only) for any other length.
DeviceCode decodeFrame(const std::uint8_t *frame);
