// Frames as the device puts them on the line, and assembly of the frames the program sends it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "link/device_code.h"

// The device sends codes 0..255 in the short form (3 bytes + CR) and larger
// codes in the same 6-byte long form that the program uses.
inline constexpr std::size_t DEVICE_FRAME_MAX = 6;

// Writes the frame of one code as the device sends it; returns its length (4 or 6).
std::size_t encodeDeviceFrame(DeviceCode code, std::uint8_t out[DEVICE_FRAME_MAX]);

// Collects bytes up to CR and tests each frame with the core's codec, the way
// the device's receiver does. Frames longer than 7 bytes keep their first 7,
// like the program's own receiver, so both ends agree on what a frame is.
class FrameAssembler {
public:
    // Feeds one byte; returns true and sets code when it closed a valid frame.
    // A CR that closes an invalid or empty frame counts as rejected.
    bool feed(std::uint8_t byte, DeviceCode &code);

    std::uint64_t rejected() const { return rejected_; }

private:
    std::uint8_t buffer_[8] = {};
    int length_ = 0;
    std::uint64_t rejected_ = 0;
};
